#include "cards/jq/jqflmodule.h"

#include "cards/feexchange.h"
#include "cards/jq/jqframe.h"
#include "cards/moduleresult.h"
#include "serial/runevents.h"

#include <QDebug>

#include <cstdio>

namespace {

const FeExchange::Dialect JQDialect = {
    "JQFLModule",
    &JQFrame::requestLayout,
    &JQFrame::replyLayout,
    /*logsRequest=*/true,
    /*statusOnStdout=*/false,
};

} // namespace

JQFLModule::JQFLModule() = default;
JQFLModule::~JQFLModule() = default;

int JQFLModule::lOpenUart(QString portName)
{
    m_Uart.openCardLine(portName);
    return 1;
}

int JQFLModule::lSetInterface(quint8 command, quint8 code, quint32 value, quint8 channel)
{
    return FeExchange::run(m_Uart, JQDialect, command, code, value, channel, m_RecvBuf, m_RecvLen);
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
// with a line on standard output, before anything is sent.
int JQFLModule::setBounded(const char *operation, quint8 code, int value, int maximum, int channel)
{
    const bool refused = maximum == 1 ? quint32(value) > 1u : value > maximum;
    if (refused) {
        const QString line
            = QStringLiteral("error: %1 param val overflow").arg(QLatin1String(operation));
        std::printf("%s\n", line.toLatin1().constData());
        RunEvents::refused(line, value, 0, maximum);
        return ModuleResult::OutOfRange;
    }
    return setValue(code, value, channel);
}

int JQFLModule::lSetFreq(int value, int channel)
{
    if (value < 95000 || value > 2150000) {
        qDebug() << "error: lSetFreq param val overflow";
        RunEvents::refused(
            QStringLiteral("error: lSetFreq param val overflow"), value, 95000, 2150000);
        return ModuleResult::OutOfRange;
    }
    return setValue(JQFrame::Freq, value, channel);
}

int JQFLModule::lSetWorkMode(int value, int channel)
{
    if (value != 0 && value != 1) {
        RunEvents::refused(QString(), value, 0, 1); // without a line
        return ModuleResult::OutOfRange;
    }
    return setValue(JQFrame::WorkMode, value, channel);
}

int JQFLModule::lSetRFAtten(int value, int channel)
{
    return setBounded("JQFLModule::lSetRFAtten", JQFrame::RFAtten, value, 60, channel);
}

int JQFLModule::lSetIFAtten(int value, int channel)
{
    return setBounded("JQFLModule::lSetIFAtten", JQFrame::IFAtten, value, 60, channel);
}

int JQFLModule::lSetIFAdjustAttenuation(int value, int channel)
{
    return setBounded(
        "JQFLModule::lSetIFAdjustAttenuation", JQFrame::IFAdjustAtten, value, 50, channel);
}

int JQFLModule::lSetClkSelect(int value, int /*channel*/)
{
    // The reference clock belongs to the whole card: channel byte 0.
    return setBounded("JQFLModule::lSetClkSelect", JQFrame::ClkSelect, value, 1, 0);
}

int JQFLModule::lSetIFOutputSelect(int value, int channel)
{
    return setBounded("JQFLModule::lSetIFOutputSelect", JQFrame::IFOutputSelect, value, 1, channel);
}

int JQFLModule::lSetIFOutBand(int value, int channel)
{
    return setBounded("JQFLModule::lSetIFOutBand", JQFrame::IFOutBand, value, 1, channel);
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
