#include "cards/jq/jqcardtwo.h"

#include "cards/cardlog.h"
#include "cards/jq/jqflmodule.h"
#include "cards/protocolmodules.h"

#include <QDebug>

namespace {
const char Card[] = "JQCardTwo";

CardLimits::Range card(const char *parameter)
{
    return CardLimits::of(CardLimits::Jq5120, parameter);
}

CardLimits::Range protocol(const char *parameter)
{
    return CardLimits::of(CardLimits::JqProtocol, parameter);
}
} // namespace

JQCardTwo::JQCardTwo() = default;
JQCardTwo::~JQCardTwo() = default;

void JQCardTwo::Open(QString portName)
{
    jqTwoModule->lOpenUart(portName);
    m_Opened = true;
}

bool JQCardTwo::opened(const char *operation) const
{
    return CardLog::opened(m_Opened, Card, operation);
}

void JQCardTwo::splitGain(int gain, int &ifAtt, int &rfAtt)
{
    // Up to 40 half-dB steps the RF attenuator alone does the work; above
    // that it stays at 40 and the IF attenuator takes the rest.
    if (gain <= 40) {
        ifAtt = 60;
        rfAtt = 60 - gain;
    } else {
        rfAtt = 40;
        ifAtt = 60 - (gain - 20);
    }
}

bool JQCardTwo::SetFreq(int channel, int freqKHz)
{
    if (!opened("SetFreq"))
        return false;
    const RunEvents::Scope scope("freq", channel);
    const CardLimits::Range range = card("freq");
    if (!range.contains(freqKHz)) {
        CardLog::overflow(Card, "SetFreq", "freq_KHz", freqKHz, freqKHz, range);
        return false;
    }
    return CardLog::took(jqTwoModule->lSetFreq(freqKHz, channel), freqKHz);
}

bool JQCardTwo::SetGain(int channel, int gain, int /*mode*/)
{
    if (!opened("SetGain"))
        return false;
    const RunEvents::Scope scope("gain", channel);
    const CardLimits::Range range = card("gain");
    if (!range.contains(gain)) {
        RunEvents::refused(QString(), gain, range.low, range.high); // without a line
        return false;
    }
    int ifAtt = 0;
    int rfAtt = 0;
    splitGain(gain, ifAtt, rfAtt);
    if (ifAtt < 0) {
        CardLog::overflow(Card, "SetGain", "ifAtt", ifAtt, gain, card("splitgain"));
        return false;
    }
    // The gain is what the two attenuators give together (a failure of the
    // first is a fault of its own).
    jqTwoModule->lSetIFAtten(ifAtt, channel);
    return CardLog::took(jqTwoModule->lSetRFAtten(rfAtt, channel), gain);
}

bool JQCardTwo::SetRefType(int channel, int type)
{
    if (!opened("SetRefType"))
        return false;
    const RunEvents::Scope scope("ref", channel);
    return CardLog::took(jqTwoModule->lSetClkSelect(type, channel), type);
}

bool JQCardTwo::SetIFOutputSelect(int channel, int select)
{
    if (!opened("SetIFOutputSelect"))
        return false;
    const RunEvents::Scope scope("band", channel);
    if (unsigned(select) >= 2u) {
        qCritical() << "outFreq overflow";
        RunEvents::refused(QStringLiteral("outFreq overflow"), select, 0, 1);
        return false;
    }
    // On this card the output selection is the IF output band parameter.
    return CardLog::took(jqTwoModule->lSetIFOutBand(select, channel), select);
}

bool JQCardTwo::GetFreq(int channel, int &freqKHz)
{
    const RunEvents::Scope scope("freq", channel);
    return opened("GetFreq")
        && CardLog::take(Card, "GetFreq", jqTwoModule->lGetFreq(channel), freqKHz, card("freq"));
}

bool JQCardTwo::GetGain(int channel, int &gain)
{
    if (!opened("GetGain"))
        return false;
    const RunEvents::Scope scope("gain", channel);
    // Each attenuator is queried, and judged, as itself: one beyond what the
    // protocol takes can still add up to a gain the card is set to.
    const auto attenuation = [channel](const char *parameter, const char *operation,
                                 int (JQFLModule::*query)(int), int &att) {
        const RunEvents::Scope of(parameter, channel);
        return CardLog::take(
            Card, operation, ((*jqTwoModule).*query)(channel), att, protocol(parameter));
    };
    int rfAtt = 0;
    int ifAtt = 0;
    if (!attenuation("rfatt", "GetRFAttenuation", &JQFLModule::lGetRFAtten, rfAtt)
        || !attenuation("ifatt", "GetIFAttenuation", &JQFLModule::lGetIFAtten, ifAtt))
        return false;
    gain = int((60.0 - ifAtt) + (60.0 - rfAtt));
    // Two attenuators of 0 to 60 can make gains the card is never set to.
    CardLog::plausible(gain, card("splitgain"));
    return true;
}

bool JQCardTwo::GetRefType(int /*channel*/, int &type)
{
    const RunEvents::Scope scope("ref", 0);
    return opened("GetRefType")
        && CardLog::take(Card, "GetRefType", jqTwoModule->lGetClkSelect(), type, protocol("ref"));
}

bool JQCardTwo::GetIFOutputSelect(int channel, int &select)
{
    const RunEvents::Scope scope("band", channel);
    return opened("GetIFOutputSelect")
        && CardLog::take(Card, "GetIFOutputSelect", jqTwoModule->lGetIFOutBand(channel), select,
            protocol("band"));
}
