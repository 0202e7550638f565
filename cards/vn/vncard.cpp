#include "cards/vn/vncard.h"

#include "cards/cardlog.h"
#include "cards/protocolmodules.h"
#include "cards/vn/vnlmodule.h"

#include <QDebug>

namespace {
const char Card[] = "VNCard";
constexpr int GainCodeZero = 90; // the gain code for a gain of 0

CardLimits::Range card(const char *parameter)
{
    return CardLimits::of(CardLimits::Vn2810, parameter);
}
} // namespace

VNCard::VNCard() = default;
VNCard::~VNCard() = default;

void VNCard::Open(QString portName)
{
    vnModule->lOpenUart(portName);
    m_Opened = true;
}

bool VNCard::opened(const char *operation) const
{
    return CardLog::opened(m_Opened, Card, operation);
}

bool VNCard::SetFreq(unsigned channel, int freqKHz)
{
    if (!opened("SetFreq"))
        return false;
    const RunEvents::Scope scope("freq", int(channel));
    const CardLimits::Range range = card("freq");
    if (!range.contains(freqKHz)) {
        CardLog::overflow(Card, "SetFreq", "freq_KHz", freqKHz, freqKHz, range);
        return false;
    }
    return CardLog::took(vnModule->lSetFreq(freqKHz, int(channel)), freqKHz);
}

bool VNCard::SetGain(unsigned channel, unsigned gain)
{
    if (!opened("SetGain"))
        return false;
    const RunEvents::Scope scope("gain", int(channel));
    const CardLimits::Range range = card("gain");
    if (!range.contains(gain)) {
        CardLog::overflow(Card, "SetGain", "gain", gain, gain, range);
        return false;
    }
    return CardLog::took(vnModule->lSetGain(GainCodeZero - int(gain), int(channel)), gain);
}

bool VNCard::SetIFOutputSelect(unsigned channel, unsigned select)
{
    if (!opened("SetIFOutputSelect"))
        return false;
    const RunEvents::Scope scope("outfreq", int(channel));
    const CardLimits::Range range = CardLimits::of(CardLimits::VnProtocol, "outfreq");
    if (!range.contains(select)) {
        qCritical() << "outFreq overflow";
        RunEvents::refused(QStringLiteral("outFreq overflow"), select, range.low, range.high);
        return false;
    }
    qDebug() << "1111111111 SetIFOutputSelect outfreq =" << select;
    return CardLog::took(vnModule->lSetIFOutputSelect(int(select), int(channel)), select);
}

bool VNCard::GetFreq(unsigned channel, unsigned &freqKHz)
{
    const RunEvents::Scope scope("freq", int(channel));
    return opened("GetFreq")
        && CardLog::take(Card, "GetFreq", vnModule->lGetFreq(int(channel)), freqKHz, card("freq"));
}

bool VNCard::GetGain(unsigned channel, unsigned &gain)
{
    if (!opened("GetGain"))
        return false;
    const RunEvents::Scope scope("gain", int(channel));
    // No failure branch: a failed query (-1..-3) reads as 91..93, gains no
    // VN2810 is set to, and is judged as the value it is reported as.
    const int r = vnModule->lGetGain(int(channel));
    gain = unsigned(GainCodeZero - r);
    CardLog::plausible(GainCodeZero - r, card("gain"));
    return true;
}

bool VNCard::GetIFOutputSelect(unsigned channel, unsigned &select)
{
    const RunEvents::Scope scope("outfreq", int(channel));
    return opened("GetIFOutputSelect")
        && CardLog::take(Card, "GetIFOutputSelect", vnModule->lGetIFOutputSelect(int(channel)),
            select, CardLimits::of(CardLimits::VnProtocol, "outfreq"));
}

bool VNCard::GetTemperature(unsigned channel, double &temperature)
{
    if (!opened("GetTemperature"))
        return false;
    const RunEvents::Scope scope("temp", int(channel));
    const double t = vnModule->lGetTemperature(int(channel));
    if (t < 0) {
        CardLog::queryFailed(Card, "GetTemperature", t);
        return false;
    }
    temperature = t;
    CardLog::plausible(qint64(t), card("temp"));
    return true;
}

bool VNCard::GetType(unsigned channel, unsigned &type)
{
    if (!opened("GetType"))
        return false;
    const RunEvents::Scope scope("hardch", int(channel));
    const int r = vnModule->lGetType(int(channel));
    qDebug() << "111111111111111 GetType val=" << r;
    return CardLog::take(
        Card, "GetType", r, type, CardLimits::of(CardLimits::VnProtocol, "hardch"));
}
