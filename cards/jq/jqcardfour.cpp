#include "cards/jq/jqcardfour.h"

#include "cards/protocolmodules.h"
#include "cards/cardlog.h"
#include "cards/jq/jqflmodule.h"

#include <QDebug>

namespace {
const char Card[] = "JQCardFour";
} // namespace

JQCardFour::JQCardFour() = default;
JQCardFour::~JQCardFour() = default;

void JQCardFour::Open(QString portName)
{
    jqFourModule->lOpenUart(portName);
    m_Opened = true;
}

bool JQCardFour::opened(const char *operation) const
{
    return CardLog::opened(m_Opened, Card, operation);
}

bool JQCardFour::SetWorkMode(int channel, int mode)
{
    if (!opened("SetWorkMode"))
        return false;
    return jqFourModule->lSetWorkMode(mode, channel) != 0;
}

bool JQCardFour::SetFreq(int channel, int freqKHz)
{
    if (!opened("SetFreq"))
        return false;
    if (freqKHz < 950000 || freqKHz > 2150000) {
        CardLog::overflow(Card, "SetFreq", "freq_KHz", freqKHz);
        return false;
    }
    return jqFourModule->lSetFreq(freqKHz, channel) != 0;
}

bool JQCardFour::SetGain(int channel, int gain, int mode)
{
    if (!opened("SetGain"))
        return false;
    if (unsigned(gain) > 100u)
        return false;
    if (mode == 0) {
        // Gain through the RF attenuator alone: 0..60 half-dB steps.
        const int rfAtt = 60 - gain;
        if (rfAtt < 0) {
            qCritical() << "rfAtt overflow";
            return true;
        }
        jqFourModule->lSetRFAtten(rfAtt, channel);
    } else if (mode == 1) {
        // Gain through the IF adjust attenuator, in whole-dB steps.
        jqFourModule->lSetIFAdjustAttenuation(50 - gain / 2, channel);
    }
    return true;
}

bool JQCardFour::SetRefType(int channel, int type)
{
    if (!opened("SetRefType"))
        return false;
    return jqFourModule->lSetClkSelect(type, channel) != 0;
}

bool JQCardFour::SetIFOutputSelect(int channel, int select)
{
    if (!opened("SetIFOutputSelect"))
        return false;
    if (unsigned(select) >= 2u) {
        qCritical() << "outFreq overflow";
        return false;
    }
    return jqFourModule->lSetIFOutputSelect(select, channel) != 0;
}

bool JQCardFour::GetFreq(int channel, int &freqKHz)
{
    return opened("GetFreq")
        && CardLog::take(Card, "GetFreq", jqFourModule->lGetFreq(channel), freqKHz);
}

bool JQCardFour::GetWorkMode(int channel, int &mode)
{
    return opened("GetWorkMode")
        && CardLog::take(Card, "GetWorkMode", jqFourModule->lGetWorkMode(channel), mode);
}

bool JQCardFour::GetRFAttenuation(int channel, int &att)
{
    return opened("GetRFAttenuation")
        && CardLog::take(Card, "GetRFAttenuation", jqFourModule->lGetRFAtten(channel), att);
}

bool JQCardFour::GetIFAttenuation(int channel, int &att)
{
    return opened("GetIFAttenuation")
        && CardLog::take(
            Card, "GetIFAttenuation", jqFourModule->lGetIFAdjustAttenuation(channel), att);
}

bool JQCardFour::GetRefType(int /*channel*/, int &type)
{
    return opened("GetRefType")
        && CardLog::take(Card, "GetRefType", jqFourModule->lGetClkSelect(), type);
}

bool JQCardFour::GetIFOutputSelect(int channel, int &select)
{
    return opened("GetIFOutputSelect")
        && CardLog::take(
            Card, "GetIFOutputSelect", jqFourModule->lGetIFOutputSelect(channel), select);
}

bool JQCardFour::GetInputPower(int channel, int &power)
{
    if (!opened("GetInputPower"))
        return false;
    // The card reports hundredths of a dB as a signed 16-bit number. A failed
    // exchange (-1..-3) comes out as 0 here, as the operators' scripts expect.
    const int raw = jqFourModule->lGetInputPower(channel);
    power = qint16(quint16(raw & 0xFFFF)) / 100;
    return true;
}

bool JQCardFour::GetTemperature(int channel, double &temperature)
{
    if (!opened("GetTemperature"))
        return false;
    const double t = jqFourModule->lGetTemperature(channel);
    if (t < 0) {
        CardLog::queryFailed(Card, "GetTemperature", t);
        return false;
    }
    temperature = t;
    return true;
}
