#include "cards/vn/vncard.h"

#include "cards/protocolmodules.h"
#include "cards/cardlog.h"
#include "cards/vn/vnlmodule.h"

#include <QDebug>

namespace {
const char Card[] = "VNCard";
constexpr int GainCodeZero = 90; // the gain code for a gain of 0
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
    if (freqKHz < 20000 || freqKHz > 3000000) {
        CardLog::overflow(Card, "SetFreq", "freq_KHz", freqKHz);
        return false;
    }
    return vnModule->lSetFreq(freqKHz, int(channel)) != 0;
}

bool VNCard::SetGain(unsigned channel, unsigned gain)
{
    if (!opened("SetGain"))
        return false;
    if (gain > 80u) {
        CardLog::overflow(Card, "SetGain", "gain", gain);
        return false;
    }
    return vnModule->lSetGain(GainCodeZero - int(gain), int(channel)) != 0;
}

bool VNCard::SetIFOutputSelect(unsigned channel, unsigned select)
{
    if (!opened("SetIFOutputSelect"))
        return false;
    if (select > 1u) {
        qCritical() << "outFreq overflow";
        return false;
    }
    qDebug() << "1111111111 SetIFOutputSelect outfreq =" << select;
    return vnModule->lSetIFOutputSelect(int(select), int(channel)) != 0;
}

bool VNCard::GetFreq(unsigned channel, unsigned &freqKHz)
{
    return opened("GetFreq")
        && CardLog::take(Card, "GetFreq", vnModule->lGetFreq(int(channel)), freqKHz);
}

bool VNCard::GetGain(unsigned channel, unsigned &gain)
{
    if (!opened("GetGain"))
        return false;
    // No failure branch: a failed query (-1..-3) reads as 91..93.
    gain = unsigned(GainCodeZero - vnModule->lGetGain(int(channel)));
    return true;
}

bool VNCard::GetIFOutputSelect(unsigned channel, unsigned &select)
{
    return opened("GetIFOutputSelect")
        && CardLog::take(
            Card, "GetIFOutputSelect", vnModule->lGetIFOutputSelect(int(channel)), select);
}

bool VNCard::GetTemperature(unsigned channel, double &temperature)
{
    if (!opened("GetTemperature"))
        return false;
    const double t = vnModule->lGetTemperature(int(channel));
    if (t < 0) {
        CardLog::queryFailed(Card, "GetTemperature", t);
        return false;
    }
    temperature = t;
    return true;
}

bool VNCard::GetType(unsigned channel, unsigned &type)
{
    if (!opened("GetType"))
        return false;
    const int r = vnModule->lGetType(int(channel));
    qDebug() << "111111111111111 GetType val=" << r;
    return CardLog::take(Card, "GetType", r, type);
}
