#include "cards/klr/klrcard.h"

#include "cards/protocolmodules.h"
#include "cards/cardlog.h"
#include "cards/klr/klrlmodule.h"

#include <QDebug>

namespace {
const char Card[] = "KLRCard";
constexpr unsigned MaxRFAtt = 30;
constexpr unsigned MaxIFAtt = 20;
} // namespace

KLRCard::KLRCard() = default;
KLRCard::~KLRCard() = default;

void KLRCard::Open(QString portName)
{
    klrModule->lOpenUart(portName);
    m_Opened = true;
}

bool KLRCard::opened(const char *operation) const
{
    return CardLog::opened(m_Opened, Card, operation);
}

bool KLRCard::SetFreq(unsigned channel, int freqKHz)
{
    if (!opened("SetFreq"))
        return false;
    if (freqKHz < 20000 || freqKHz > 6000000) {
        CardLog::overflow(Card, "SetFreq", "freq_KHz", freqKHz);
        return false;
    }
    return klrModule->lSetFreq(freqKHz, int(channel)) != 0;
}

bool KLRCard::SetWorkMode(unsigned channel, unsigned mode)
{
    if (!opened("SetWorkMode"))
        return false;
    qDebug() << "SetWorkMode mode = " << mode;
    const bool ret = klrModule->lSetWorkMode(int(mode), int(channel)) != 0;
    qDebug() << "SetWorkMode ret =" << ret;
    return ret;
}

bool KLRCard::SetGain(unsigned channel, int gain, int mode)
{
    // Mode 0 spans 30 dB of attenuation, mode 1 spans 45 dB; the RF attenuator
    // is used first and the IF attenuator only for what RF cannot take. The
    // setters report their own refusals; the gain as a whole is not refused.
    if (mode == 0) {
        SetRFAttenuation(channel, 30u - unsigned(gain));
        SetIFAttenuation(channel, 0);
    } else if (mode == 1) {
        if (gain >= 15) {
            SetRFAttenuation(channel, 45u - unsigned(gain));
            SetIFAttenuation(channel, 0);
        } else {
            SetRFAttenuation(channel, MaxRFAtt);
            SetIFAttenuation(channel, 15u - unsigned(gain));
        }
    }
    return true;
}

bool KLRCard::SetRFAttenuation(unsigned channel, unsigned att)
{
    if (!opened("SetRFAttenuation"))
        return false;
    if (att > MaxRFAtt) {
        CardLog::overflow(Card, "SetRFAttenuation", "rfAtt", int(att));
        return false;
    }
    klrModule->lSetRFAtten(int(att), int(channel));
    return true;
}

bool KLRCard::SetIFAttenuation(unsigned channel, unsigned att)
{
    if (!opened("SetIFAttenuation"))
        return false;
    if (att > MaxIFAtt) {
        CardLog::overflow(Card, "SetIFAttenuation", "ifAtt", int(att));
        return false;
    }
    klrModule->lSetIFAtten(int(att), int(channel));
    return true;
}

bool KLRCard::SetBandWidth(unsigned channel, unsigned band)
{
    if (!opened("SetBandWidth"))
        return false;
    qDebug() << "SetBandWidth bw = " << band;
    klrModule->lSetIFBand(int(band), int(channel));
    return true;
}

bool KLRCard::GetFreq(unsigned channel, unsigned &freqKHz)
{
    qDebug() << "GetFreq 111111111111" << m_Opened;
    if (!opened("GetFreq"))
        return false;
    qDebug() << "GetFreq 2222222222222222";
    if (!CardLog::take(Card, "GetFreq", klrModule->lGetFreq(int(channel)), freqKHz))
        return false;
    qDebug() << "GetFreq val = " << freqKHz;
    return true;
}

bool KLRCard::GetWorkMode(unsigned channel, unsigned &mode)
{
    if (!opened("GetWorkMode"))
        return false;
    const int r = klrModule->lGetWorkMode(int(channel));
    qDebug() << "GetWorkMode val = " << r;
    return CardLog::take(Card, "GetWorkMode", r, mode);
}

bool KLRCard::GetRFAttenuation(unsigned channel, unsigned &att)
{
    return opened("GetRFAttenuation")
        && CardLog::take(Card, "GetRFAttenuation", klrModule->lGetRFAtten(int(channel)), att);
}

bool KLRCard::GetIFAttenuation(unsigned channel, unsigned &att)
{
    return opened("GetIFAttenuation")
        && CardLog::take(Card, "GetIFAttenuation", klrModule->lGetIFAtten(int(channel)), att);
}

bool KLRCard::GetBandwidth(unsigned channel, unsigned &band)
{
    return opened("GetBandwidth")
        && CardLog::take(Card, "GetBandwidth", klrModule->lGetBandwidth(int(channel)), band);
}

bool KLRCard::GetWarning(unsigned channel, unsigned &warning)
{
    return opened("GetWarning")
        && CardLog::take(Card, "GetWarning", klrModule->lGetWarning(int(channel)), warning);
}
