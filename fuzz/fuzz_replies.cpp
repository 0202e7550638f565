// Replies from a card, as the protocol modules judge and decode them: the
// first byte picks the family and the code that was sent, the rest is what
// arrived on the line (the modules keep at most a fixed number of bytes and
// count the rest).

#include "cards/feframe.h"
#include "cards/jq/jqframe.h"
#include "cards/klr/klrframe.h"
#include "cards/klr/klrlmodule.h"
#include "cards/vn/vnframe.h"
#include "serial/uartagent.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const quint8 selector = data[0];
    ++data;
    --size;

    quint8 buf[UartAgent::RecvBufSize] = {};
    const size_t kept = std::min(size, sizeof buf);
    std::memcpy(buf, data, kept);
    const auto length = quint32(size);

    if (selector & 0x80) {
        quint8 klr[KLRLModule::RecvBufSize] = {};
        std::memcpy(klr, data, std::min(size, sizeof klr));
        if (length == KLRFrame::Size)
            (void)KLRFrame::decode(klr);
        return 0;
    }
    const quint8 sentCode = selector & 0x7F;
    if (FeFrame::check(buf, length, sentCode) != FeFrame::Check::Ok)
        return 0;
    const bool jq = selector & 0x40;
    const FeFrame::Layout layout = jq ? JQFrame::replyLayout(buf[2]) : VNFrame::replyLayout(buf[2]);
    const int value = FeFrame::decode(buf, layout);
    // A decoded value is never negative: callers tell values from failures
    // by the sign.
    if (value < 0)
        __builtin_trap();
    (void)FeFrame::statusFailed(buf);
    return 0;
}
