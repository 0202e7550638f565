#include "cards/klr/klrframe.h"

KLRFrame::Bytes KLRFrame::build(quint8 code, quint32 value, quint8 channel)
{
    Bytes f{};
    f[0] = Start;
    f[1] = code;
    f[2] = channel;
    switch (code) {
    case SetFreq:
        f[3] = quint8(value >> 24);
        f[4] = quint8(value >> 16);
        f[5] = quint8(value >> 8);
        f[6] = quint8(value);
        break;
    case SetWorkMode:
    case SetRFAtten:
    case SetIFAtten:
    case SetIFBand:
        f[6] = quint8(value);
        break;
    default:
        break;
    }
    f[7] = End;
    return f;
}

int KLRFrame::decode(const quint8 *reply)
{
    if (!knows(reply))
        return 0;
    if (reply[1] == ReplyFreq)
        return int(quint32(reply[3]) << 24 | quint32(reply[4]) << 16 | quint32(reply[5]) << 8
            | quint32(reply[6]));
    return reply[6];
}

bool KLRFrame::knows(const quint8 *reply)
{
    switch (reply[1]) {
    case ReplyFreq:
    case ReplyWorkMode:
    case ReplyRFAtten:
    case ReplyIFAtten:
    case ReplyBandwidth:
    case ReplyWarning:
        return true;
    default:
        return false;
    }
}

quint8 KLRFrame::replyTo(quint8 queryCode)
{
    switch (queryCode) {
    case GetFreq:
        return ReplyFreq;
    case GetWorkMode:
        return ReplyWorkMode;
    case GetRFAtten:
        return ReplyRFAtten;
    case GetIFAtten:
        return ReplyIFAtten;
    case GetWarning:
        return ReplyWarning;
    case GetBandwidth:
        return ReplyBandwidth;
    default:
        return 0;
    }
}
