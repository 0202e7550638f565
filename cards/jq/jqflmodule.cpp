#include "cards/jq/jqflmodule.h"

#include "cards/cardlimits.h"
#include "cards/cardlog.h"
#include "cards/feexchange.h"
#include "cards/jq/jqframe.h"
#include "cards/moduleresult.h"
#include "serial/runevents.h"

#include <QDebug>

namespace {

const FeExchange::Dialect JQDialect = {
    "JQFLModule",
    &JQFrame::requestLayout,
    &JQFrame::replyLayout,
    /*logsRequest=*/true,
    /*statusOnStdout=*/false,
};

} // namespace

JQFLModule::JQFLModule()
    : m_Sync(
        FeFrame::Size, 2, FeExchange::probes({JQFrame::ClkSelect, JQFrame::RFAtten, JQFrame::Freq}))
{
}
JQFLModule::~JQFLModule() = default;

int JQFLModule::lOpenUart(QString portName)
{
    m_Uart.openCardLine(portName);
    m_Sync.reset();
    return 1;
}

int JQFLModule::lSetInterface(quint8 command, quint8 code, quint32 value, quint8 channel)
{
    return FeExchange::run(
        m_Uart, m_Sync, JQDialect, command, code, value, channel, m_RecvBuf, m_RecvLen);
}

int JQFLModule::setValue(quint8 code, int value, int channel)
{
    return lSetInterface(FeFrame::SetCommand, code, quint32(value), quint8(channel));
}

int JQFLModule::query(quint8 code, int channel)
{
    return lSetInterface(FeFrame::QueryCommand, code, 0, quint8(channel));
}

// The 0/1 switches and the attenuators refuse a value above their maximum
// with a line on standard output, before anything is sent. The attenuators
// are never given a negative value by the drivers; the switches refuse one.
int JQFLModule::setBounded(
    const char *operation, quint8 code, int value, const char *parameter, int channel)
{
    const CardLimits::Range range = CardLimits::of(CardLimits::JqProtocol, parameter);
    const bool refused = range.high == 1 ? quint32(value) > 1u : value > range.high;
    if (refused) {
        const QString line
            = QStringLiteral("error: %1 param val overflow").arg(QLatin1String(operation));
        CardLog::print(line);
        RunEvents::refused(line, value, range.low, range.high);
        return ModuleResult::OutOfRange;
    }
    return setValue(code, value, channel);
}

int JQFLModule::lSetFreq(int value, int channel)
{
    const CardLimits::Range range = CardLimits::of(CardLimits::JqProtocol, "freq");
    if (!range.contains(value)) {
        qDebug() << "error: lSetFreq param val overflow";
        RunEvents::refused(
            QStringLiteral("error: lSetFreq param val overflow"), value, range.low, range.high);
        return ModuleResult::OutOfRange;
    }
    return setValue(JQFrame::Freq, value, channel);
}

int JQFLModule::lSetWorkMode(int value, int channel)
{
    const CardLimits::Range range = CardLimits::of(CardLimits::JqProtocol, "workmode");
    if (!range.contains(value)) {
        RunEvents::refused(QString(), value, range.low, range.high); // without a line
        return ModuleResult::OutOfRange;
    }
    return setValue(JQFrame::WorkMode, value, channel);
}

int JQFLModule::lSetRFAtten(int value, int channel)
{
    return setBounded("JQFLModule::lSetRFAtten", JQFrame::RFAtten, value, "rfatt", channel);
}

int JQFLModule::lSetIFAtten(int value, int channel)
{
    return setBounded("JQFLModule::lSetIFAtten", JQFrame::IFAtten, value, "ifatt", channel);
}

int JQFLModule::lSetIFAdjustAttenuation(int value, int channel)
{
    return setBounded(
        "JQFLModule::lSetIFAdjustAttenuation", JQFrame::IFAdjustAtten, value, "ifadjust", channel);
}

int JQFLModule::lSetClkSelect(int value, int /*channel*/)
{
    // The reference clock belongs to the whole card: channel byte 0.
    return setBounded("JQFLModule::lSetClkSelect", JQFrame::ClkSelect, value, "ref", 0);
}

int JQFLModule::lSetIFOutputSelect(int value, int channel)
{
    return setBounded(
        "JQFLModule::lSetIFOutputSelect", JQFrame::IFOutputSelect, value, "outfreq", channel);
}

int JQFLModule::lSetIFOutBand(int value, int channel)
{
    return setBounded("JQFLModule::lSetIFOutBand", JQFrame::IFOutBand, value, "band", channel);
}

int JQFLModule::lGetFreq(int channel)
{
    return query(JQFrame::Freq, channel);
}
int JQFLModule::lGetWorkMode(int channel)
{
    return query(JQFrame::WorkMode, channel);
}
int JQFLModule::lGetRFAtten(int channel)
{
    return query(JQFrame::RFAtten, channel);
}
int JQFLModule::lGetIFAtten(int channel)
{
    return query(JQFrame::IFAtten, channel);
}
int JQFLModule::lGetIFAdjustAttenuation(int channel)
{
    return query(JQFrame::IFAdjustAtten, channel);
}
int JQFLModule::lGetClkSelect()
{
    return query(JQFrame::ClkSelect, 0);
}
int JQFLModule::lGetIFOutputSelect(int channel)
{
    return query(JQFrame::IFOutputSelect, channel);
}
int JQFLModule::lGetInputPower(int channel)
{
    return query(JQFrame::InputPower, channel);
}
int JQFLModule::lGetIFOutBand(int channel)
{
    return query(JQFrame::IFOutBand, channel);
}
int JQFLModule::lGetTemperature(int channel)
{
    return query(JQFrame::Temperature, channel);
}
