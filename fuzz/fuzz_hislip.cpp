// HiSLIP messages from the network, as rfcardd and its front read them: any
// bytes taken as a stream of messages under a payload limit. No crash, no
// message that claims more than it holds, and each one built again from its
// fields is the bytes it came from.

#include "daemon/hislipframe.h"

#include <QByteArray>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray stream(reinterpret_cast<const char *>(data), int(size));
    for (;;) {
        HislipFrame::Message m;
        int used = 0;
        if (HislipFrame::parse(stream, 4096, &m, &used) != HislipFrame::Parse::Complete)
            break;
        if (used != HislipFrame::HeaderSize + m.payload.size() || used > stream.size()
            || HislipFrame::build(m.type, m.control, m.parameter, m.payload) != stream.left(used))
            __builtin_trap();
        stream.remove(0, used);
    }
    return 0;
}
