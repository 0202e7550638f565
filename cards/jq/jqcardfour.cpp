#include "cards/jq/jqcardfour.h"

#include "cards/cardlog.h"
#include "cards/jq/jqflmodule.h"
#include "cards/protocolmodules.h"

#include <QDebug>

namespace {
const char Card[] = "JQCardFour";

CardLimits::Range card(const char *parameter)
{
    return CardLimits::of(CardLimits::Jq5140, parameter);
}

CardLimits::Range protocol(const char *parameter)
{
    return CardLimits::of(CardLimits::JqProtocol, parameter);
}
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
    const RunEvents::Scope scope("workmode", channel);
    return CardLog::took(jqFourModule->lSetWorkMode(mode, channel), mode);
}

bool JQCardFour::SetFreq(int channel, int freqKHz)
{
    if (!opened("SetFreq"))
        return false;
    const RunEvents::Scope scope("freq", channel);
    const CardLimits::Range range = card("freq");
    if (!range.contains(freqKHz)) {
        CardLog::overflow(Card, "SetFreq", "freq_KHz", freqKHz, freqKHz, range);
        return false;
    }
    return CardLog::took(jqFourModule->lSetFreq(freqKHz, channel), freqKHz);
}

bool JQCardFour::SetGain(int channel, int gain, int mode)
{
    if (!opened("SetGain"))
        return false;
    const RunEvents::Scope scope("gain", channel);
    const CardLimits::Range range = card("gain");
    if (!range.contains(gain)) {
        RunEvents::refused(QString(), gain, range.low, range.high); // without a line
        return false;
    }
    if (mode == 0) {
        // Gain through the RF attenuator alone: 0..60 half-dB steps.
        const int rfAtt = 60 - gain;
        if (rfAtt < 0) {
            const CardLimits::Range rf = card("rfgain");
            qCritical() << "rfAtt overflow";
            RunEvents::refused(QStringLiteral("rfAtt overflow"), gain, rf.low, rf.high);
            return true;
        }
        const RunEvents::Scope att("rfatt", channel);
        CardLog::took(jqFourModule->lSetRFAtten(rfAtt, channel), rfAtt);
    } else if (mode == 1) {
        // Gain through the IF adjust attenuator, in whole-dB steps.
        const RunEvents::Scope att("ifatt", channel);
        CardLog::took(jqFourModule->lSetIFAdjustAttenuation(50 - gain / 2, channel), 50 - gain / 2);
    }
    return true;
}

CardLimits::Range JQCardFour::gainRange(int mode)
{
    return card(mode == 0 ? "rfgain" : "gain");
}

bool JQCardFour::SetRefType(int channel, int type)
{
    if (!opened("SetRefType"))
        return false;
    const RunEvents::Scope scope("ref", channel);
    return CardLog::took(jqFourModule->lSetClkSelect(type, channel), type);
}

bool JQCardFour::SetIFOutputSelect(int channel, int select)
{
    if (!opened("SetIFOutputSelect"))
        return false;
    const RunEvents::Scope scope("outfreq", channel);
    if (unsigned(select) >= 2u) {
        qCritical() << "outFreq overflow";
        RunEvents::refused(QStringLiteral("outFreq overflow"), select, 0, 1);
        return false;
    }
    return CardLog::took(jqFourModule->lSetIFOutputSelect(select, channel), select);
}

bool JQCardFour::GetFreq(int channel, int &freqKHz)
{
    const RunEvents::Scope scope("freq", channel);
    return opened("GetFreq")
        && CardLog::take(Card, "GetFreq", jqFourModule->lGetFreq(channel), freqKHz, card("freq"));
}

bool JQCardFour::GetWorkMode(int channel, int &mode)
{
    const RunEvents::Scope scope("workmode", channel);
    return opened("GetWorkMode")
        && CardLog::take(
            Card, "GetWorkMode", jqFourModule->lGetWorkMode(channel), mode, protocol("workmode"));
}

bool JQCardFour::GetRFAttenuation(int channel, int &att)
{
    const RunEvents::Scope scope("rfatt", channel);
    return opened("GetRFAttenuation")
        && CardLog::take(
            Card, "GetRFAttenuation", jqFourModule->lGetRFAtten(channel), att, protocol("rfatt"));
}

bool JQCardFour::GetIFAttenuation(int channel, int &att)
{
    const RunEvents::Scope scope("ifatt", channel);
    return opened("GetIFAttenuation")
        && CardLog::take(Card, "GetIFAttenuation", jqFourModule->lGetIFAdjustAttenuation(channel),
            att, protocol("ifadjust"));
}

bool JQCardFour::GetRefType(int /*channel*/, int &type)
{
    const RunEvents::Scope scope("ref", 0);
    return opened("GetRefType")
        && CardLog::take(Card, "GetRefType", jqFourModule->lGetClkSelect(), type, protocol("ref"));
}

bool JQCardFour::GetIFOutputSelect(int channel, int &select)
{
    const RunEvents::Scope scope("outfreq", channel);
    return opened("GetIFOutputSelect")
        && CardLog::take(Card, "GetIFOutputSelect", jqFourModule->lGetIFOutputSelect(channel),
            select, protocol("outfreq"));
}

bool JQCardFour::GetInputPower(int channel, int &power)
{
    if (!opened("GetInputPower"))
        return false;
    const RunEvents::Scope scope("power", channel);
    // The card reports hundredths of a dB as a signed 16-bit number. A failed
    // exchange (-1..-3) comes out as 0 here, as the operators' scripts expect;
    // a program that judges the run hears that no field held it.
    const int raw = jqFourModule->lGetInputPower(channel);
    power = qint16(quint16(raw & 0xFFFF)) / 100;
    CardLog::plausible(raw, protocol("power"));
    return true;
}

bool JQCardFour::GetTemperature(int channel, double &temperature)
{
    if (!opened("GetTemperature"))
        return false;
    const RunEvents::Scope scope("temp", channel);
    const double t = jqFourModule->lGetTemperature(channel);
    if (t < 0) {
        CardLog::queryFailed(Card, "GetTemperature", t);
        return false;
    }
    temperature = t;
    CardLog::plausible(qint64(t), card("temp"));
    return true;
}
