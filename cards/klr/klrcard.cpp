#include "cards/klr/klrcard.h"

#include "cards/cardlog.h"
#include "cards/klr/klrlmodule.h"
#include "cards/protocolmodules.h"

#include <QDebug>

namespace {
const char Card[] = "KLRCard";
// The attenuation a work mode's gain 0 stands for: 30 dB in mode 0, 45 dB
// in mode 1, where the IF attenuator takes what the RF one cannot.
constexpr int ModeSpan[] = {30, 45};

CardLimits::Range card(const char *parameter)
{
    return CardLimits::of(CardLimits::Klr620, parameter);
}

CardLimits::Range protocol(const char *parameter)
{
    return CardLimits::of(CardLimits::KlrProtocol, parameter);
}
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
    const RunEvents::Scope scope("freq", int(channel));
    // The card's range is its protocol's.
    const CardLimits::Range range = protocol("freq");
    if (!range.contains(freqKHz)) {
        CardLog::overflow(Card, "SetFreq", "freq_KHz", freqKHz, freqKHz, range);
        return false;
    }
    return CardLog::took(klrModule->lSetFreq(freqKHz, int(channel)), freqKHz);
}

bool KLRCard::SetWorkMode(unsigned channel, unsigned mode)
{
    if (!opened("SetWorkMode"))
        return false;
    const RunEvents::Scope scope("workmode", int(channel));
    qDebug() << "SetWorkMode mode = " << mode;
    const bool ret = CardLog::took(klrModule->lSetWorkMode(int(mode), int(channel)), mode);
    qDebug() << "SetWorkMode ret =" << ret;
    return ret;
}

bool KLRCard::SetGain(unsigned channel, int gain, int mode)
{
    // Mode 0 spans 30 dB of attenuation, mode 1 spans 45 dB; the RF attenuator
    // is used first and the IF attenuator only for what RF cannot take. The
    // setters report their own refusals; the gain as a whole is not refused,
    // but a program that judges the run learns the mode's range of gains.
    const unsigned maxRF = unsigned(card("rfatt").high);
    if (mode == 0 || mode == 1) {
        const RunEvents::Scope scope("gain", int(channel));
        const CardLimits::Range range = gainRange(mode);
        if (!range.contains(gain))
            RunEvents::refused(QString(), gain, range.low, range.high);
    }
    if (mode == 0) {
        SetRFAttenuation(channel, 30u - unsigned(gain));
        SetIFAttenuation(channel, 0);
    } else if (mode == 1) {
        if (gain >= 15) {
            SetRFAttenuation(channel, 45u - unsigned(gain));
            SetIFAttenuation(channel, 0);
        } else {
            SetRFAttenuation(channel, maxRF);
            SetIFAttenuation(channel, 15u - unsigned(gain));
        }
    }
    return true;
}

CardLimits::Range KLRCard::gainRange(int mode)
{
    if (mode != 0 && mode != 1)
        return {0, -1};
    return {
        ModeSpan[mode] - card("rfatt").high - (mode == 1 ? card("ifatt").high : 0), ModeSpan[mode]};
}

bool KLRCard::SetRFAttenuation(unsigned channel, unsigned att)
{
    if (!opened("SetRFAttenuation"))
        return false;
    const RunEvents::Scope scope("rfatt", int(channel));
    const CardLimits::Range range = card("rfatt");
    if (att > unsigned(range.high)) {
        CardLog::overflow(Card, "SetRFAttenuation", "rfAtt", int(att), int(att), range);
        return false;
    }
    CardLog::took(klrModule->lSetRFAtten(int(att), int(channel)), att);
    return true;
}

bool KLRCard::SetIFAttenuation(unsigned channel, unsigned att)
{
    if (!opened("SetIFAttenuation"))
        return false;
    const RunEvents::Scope scope("ifatt", int(channel));
    const CardLimits::Range range = card("ifatt");
    if (att > unsigned(range.high)) {
        CardLog::overflow(Card, "SetIFAttenuation", "ifAtt", int(att), int(att), range);
        return false;
    }
    CardLog::took(klrModule->lSetIFAtten(int(att), int(channel)), att);
    return true;
}

bool KLRCard::SetBandWidth(unsigned channel, unsigned band)
{
    if (!opened("SetBandWidth"))
        return false;
    const RunEvents::Scope scope("band", int(channel));
    qDebug() << "SetBandWidth bw = " << band;
    CardLog::took(klrModule->lSetIFBand(int(band), int(channel)), band);
    return true;
}

bool KLRCard::GetFreq(unsigned channel, unsigned &freqKHz)
{
    const RunEvents::Scope scope("freq", int(channel));
    qDebug() << "GetFreq 111111111111" << m_Opened;
    if (!opened("GetFreq"))
        return false;
    qDebug() << "GetFreq 2222222222222222";
    if (!CardLog::take(
            Card, "GetFreq", klrModule->lGetFreq(int(channel)), freqKHz, protocol("freq")))
        return false;
    qDebug() << "GetFreq val = " << freqKHz;
    return true;
}

bool KLRCard::GetWorkMode(unsigned channel, unsigned &mode)
{
    if (!opened("GetWorkMode"))
        return false;
    const RunEvents::Scope scope("workmode", int(channel));
    const int r = klrModule->lGetWorkMode(int(channel));
    qDebug() << "GetWorkMode val = " << r;
    return CardLog::take(Card, "GetWorkMode", r, mode, protocol("workmode"));
}

bool KLRCard::GetRFAttenuation(unsigned channel, unsigned &att)
{
    const RunEvents::Scope scope("rfatt", int(channel));
    return opened("GetRFAttenuation")
        && CardLog::take(
            Card, "GetRFAttenuation", klrModule->lGetRFAtten(int(channel)), att, card("rfatt"));
}

bool KLRCard::GetIFAttenuation(unsigned channel, unsigned &att)
{
    const RunEvents::Scope scope("ifatt", int(channel));
    return opened("GetIFAttenuation")
        && CardLog::take(
            Card, "GetIFAttenuation", klrModule->lGetIFAtten(int(channel)), att, card("ifatt"));
}

bool KLRCard::GetBandwidth(unsigned channel, unsigned &band)
{
    const RunEvents::Scope scope("band", int(channel));
    return opened("GetBandwidth")
        && CardLog::take(
            Card, "GetBandwidth", klrModule->lGetBandwidth(int(channel)), band, protocol("band"));
}

bool KLRCard::GetWarning(unsigned channel, unsigned &warning)
{
    const RunEvents::Scope scope("warning", int(channel));
    return opened("GetWarning")
        && CardLog::take(
            Card, "GetWarning", klrModule->lGetWarning(int(channel)), warning, card("warning"));
}
