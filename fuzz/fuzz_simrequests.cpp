// Bytes arriving at the simulated card: framing, validation and state
// changes must hold up to anything on the line.

#include "sim/simcard.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    SimCard card(data[0] % 3 == 0 ? SimCard::Family::JQ
            : data[0] % 3 == 1    ? SimCard::Family::VN
                                  : SimCard::Family::KLR);
    QByteArray buffer(reinterpret_cast<const char *>(data + 1), int(size - 1));
    QByteArray frame;
    bool garbage = false;
    while (card.takeFrame(buffer, frame, garbage)) {
        if (frame.isEmpty())
            __builtin_trap(); // would never end
        if (!garbage) {
            const SimCard::Response r = card.handle(frame);
            if (!r.reply.isEmpty() && r.reply.size() != card.frameSize())
                __builtin_trap();
        }
    }
    QString error;
    SimCard copy(card.family());
    if (!copy.fromJson(card.toJson(), &error))
        __builtin_trap();
    return 0;
}
