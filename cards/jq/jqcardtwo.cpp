#include "cards/jq/jqcardtwo.h"

#include "cards/protocolmodules.h"
#include "cards/cardlog.h"
#include "cards/jq/jqflmodule.h"

#include <QDebug>

namespace {
const char Card[] = "JQCardTwo";
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
    if (freqKHz < 950000 || freqKHz > 2150000) {
        CardLog::overflow(Card, "SetFreq", "freq_KHz", freqKHz);
        return false;
    }
    return jqTwoModule->lSetFreq(freqKHz, channel) != 0;
}

bool JQCardTwo::SetGain(int channel, int gain, int /*mode*/)
{
    if (!opened("SetGain"))
        return false;
    if (unsigned(gain) > 100u)
        return false;
    int ifAtt = 0;
    int rfAtt = 0;
    splitGain(gain, ifAtt, rfAtt);
    if (ifAtt < 0) {
        CardLog::overflow(Card, "SetGain", "ifAtt", ifAtt);
        return false;
    }
    jqTwoModule->lSetIFAtten(ifAtt, channel);
    return jqTwoModule->lSetRFAtten(rfAtt, channel) != 0;
}

bool JQCardTwo::SetRefType(int channel, int type)
{
    if (!opened("SetRefType"))
        return false;
    return jqTwoModule->lSetClkSelect(type, channel) != 0;
}

bool JQCardTwo::SetIFOutputSelect(int channel, int select)
{
    if (!opened("SetIFOutputSelect"))
        return false;
    if (unsigned(select) >= 2u) {
        qCritical() << "outFreq overflow";
        return false;
    }
    // On this card the output selection is the IF output band parameter.
    return jqTwoModule->lSetIFOutBand(select, channel) != 0;
}

bool JQCardTwo::GetFreq(int channel, int &freqKHz)
{
    return opened("GetFreq")
        && CardLog::take(Card, "GetFreq", jqTwoModule->lGetFreq(channel), freqKHz);
}

bool JQCardTwo::GetGain(int channel, int &gain)
{
    if (!opened("GetGain"))
        return false;
    int rfAtt = 0;
    int ifAtt = 0;
    if (!CardLog::take(Card, "GetRFAttenuation", jqTwoModule->lGetRFAtten(channel), rfAtt)
        || !CardLog::take(Card, "GetIFAttenuation", jqTwoModule->lGetIFAtten(channel), ifAtt))
        return false;
    gain = int((60.0 - ifAtt) + (60.0 - rfAtt));
    return true;
}

bool JQCardTwo::GetRefType(int /*channel*/, int &type)
{
    return opened("GetRefType")
        && CardLog::take(Card, "GetRefType", jqTwoModule->lGetClkSelect(), type);
}

bool JQCardTwo::GetIFOutputSelect(int channel, int &select)
{
    return opened("GetIFOutputSelect")
        && CardLog::take(Card, "GetIFOutputSelect", jqTwoModule->lGetIFOutBand(channel), select);
}
