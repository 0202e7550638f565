#include "cards/jq/jqframe.h"

namespace {

bool isByteCode(quint8 code)
{
    switch (code) {
    case JQFrame::WorkMode:
    case JQFrame::RFAtten:
    case JQFrame::IFAtten:
    case JQFrame::IFAdjustAtten:
    case JQFrame::ClkSelect:
    case JQFrame::IFOutputSelect:
    case JQFrame::IFOutBand:
        return true;
    default:
        return false;
    }
}

} // namespace

FeFrame::Layout JQFrame::requestLayout(quint8 code)
{
    if (code == Freq)
        return FeFrame::Layout::Be24;
    return isByteCode(code) ? FeFrame::Layout::Byte : FeFrame::Layout::None;
}

FeFrame::Layout JQFrame::replyLayout(quint8 code)
{
    // Input power and temperature are only read; both come as 16 bits.
    if (code == InputPower || code == Temperature)
        return FeFrame::Layout::Be16;
    return requestLayout(code);
}

FeFrame::Bytes JQFrame::build(quint8 command, quint8 code, quint32 value, quint8 channel)
{
    return FeFrame::build(command, code, value, channel, requestLayout(code));
}
