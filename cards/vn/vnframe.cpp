#include "cards/vn/vnframe.h"

FeFrame::Layout VNFrame::requestLayout(quint8 code)
{
    switch (code) {
    case Freq:
        return FeFrame::Layout::Be24;
    case Gain:
    case IFOutputSelect:
        return FeFrame::Layout::Byte;
    default:
        return FeFrame::Layout::None;
    }
}

FeFrame::Layout VNFrame::replyLayout(quint8 code)
{
    switch (code) {
    case Temperature:
        return FeFrame::Layout::Be16;
    case Type:
        return FeFrame::Layout::Byte;
    default:
        return requestLayout(code);
    }
}

FeFrame::Bytes VNFrame::build(quint8 command, quint8 code, quint32 value, quint8 channel)
{
    return FeFrame::build(command, code, value, channel, requestLayout(code));
}
