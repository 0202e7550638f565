#include "cards/feframe.h"

FeFrame::Bytes FeFrame::build(
    quint8 command, quint8 code, quint32 value, quint8 channel, Layout layout)
{
    Bytes f{};
    f[0] = Header;
    f[1] = command;
    f[2] = code;
    switch (layout) {
    case Layout::Be24:
        f[3] = quint8(value >> 16);
        f[4] = quint8(value >> 8);
        f[5] = quint8(value);
        break;
    case Layout::Be16:
        f[3] = quint8(value >> 8);
        f[4] = quint8(value);
        break;
    case Layout::Byte:
        f[3] = quint8(value);
        break;
    case Layout::None:
        break;
    }
    f[7] = channel;
    quint8 x = 0;
    for (int i = 1; i <= 7; ++i)
        x ^= f[size_t(i)];
    f[8] = x;
    f[9] = Tail;
    return f;
}

FeFrame::Check FeFrame::check(const quint8 *reply, quint32 length, quint8 sentCode)
{
    // Only the length and the echoed code are checked; the cards do not
    // always fill header, tail, check byte and channel of a reply faithfully.
    if (length != Size)
        return Check::BadLength;
    if (reply[2] != sentCode)
        return Check::WrongCode;
    return Check::Ok;
}

int FeFrame::decode(const quint8 *reply, Layout layout)
{
    switch (layout) {
    case Layout::Be24:
        return int(reply[3]) << 16 | int(reply[4]) << 8 | int(reply[5]);
    case Layout::Be16:
        return int(reply[3]) << 8 | int(reply[4]);
    case Layout::Byte:
        return reply[3];
    case Layout::None:
        break;
    }
    return 0;
}

bool FeFrame::statusFailed(const quint8 *reply)
{
    return reply[1] == StatusFailedA || reply[1] == StatusFailedB;
}
