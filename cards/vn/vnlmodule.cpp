#include "cards/vn/vnlmodule.h"

#include "cards/cardlimits.h"
#include "cards/cardlog.h"
#include "cards/feexchange.h"
#include "cards/moduleresult.h"
#include "cards/vn/vnframe.h"
#include "serial/runevents.h"

#include <QDebug>

namespace {

const FeExchange::Dialect VNDialect = {
    "VNLModule",
    &VNFrame::requestLayout,
    &VNFrame::replyLayout,
    /*logsRequest=*/false,
    /*statusOnStdout=*/true,
};

} // namespace

VNLModule::VNLModule()
    : m_Sync(FeFrame::Size, 2,
        FeExchange::probes({VNFrame::Type, VNFrame::Temperature, VNFrame::IFOutputSelect,
            VNFrame::Gain, VNFrame::Freq}))
{
}
VNLModule::~VNLModule() = default;

int VNLModule::lOpenUart(QString portName)
{
    m_Uart.openCardLine(portName);
    m_Sync.reset();
    return 1;
}

int VNLModule::lSetInterface(quint8 command, quint8 code, quint32 value, quint8 channel)
{
    return FeExchange::run(
        m_Uart, m_Sync, VNDialect, command, code, value, channel, m_RecvBuf, m_RecvLen);
}

int VNLModule::setValue(quint8 code, int value, int channel)
{
    return lSetInterface(FeFrame::SetCommand, code, quint32(value), quint8(channel));
}

int VNLModule::query(quint8 code, int channel)
{
    return lSetInterface(FeFrame::QueryCommand, code, 0, quint8(channel));
}

int VNLModule::lSetFreq(int freq, int channel)
{
    const CardLimits::Range range = CardLimits::of(CardLimits::VnProtocol, "freq");
    if (!range.contains(freq)) {
        const QString line = QStringLiteral("error: lSetFreq param val overflow");
        CardLog::print(line);
        RunEvents::refused(line, freq, range.low, range.high);
        return ModuleResult::OutOfRange;
    }
    return setValue(VNFrame::Freq, freq, channel);
}

int VNLModule::lSetGain(int code, int channel)
{
    qDebug() << "111111111 lSetGain val " << code;
    return setValue(VNFrame::Gain, code, channel);
}

int VNLModule::lSetIFOutputSelect(int select, int channel)
{
    const CardLimits::Range range = CardLimits::of(CardLimits::VnProtocol, "outfreq");
    if (!range.contains(select)) {
        const QString line
            = QStringLiteral("error: VNLModule::lSetIFOutputSelect param val overflow");
        CardLog::print(line);
        RunEvents::refused(line, select, range.low, range.high);
        return ModuleResult::OutOfRange;
    }
    qDebug() << "11111111111 lSetIFOutputSelect val = " << select;
    return setValue(VNFrame::IFOutputSelect, select, channel);
}

int VNLModule::lGetFreq(int channel)
{
    return query(VNFrame::Freq, channel);
}
int VNLModule::lGetGain(int channel)
{
    return query(VNFrame::Gain, channel);
}
int VNLModule::lGetIFOutputSelect(int channel)
{
    return query(VNFrame::IFOutputSelect, channel);
}
int VNLModule::lGetTemperature(int channel)
{
    return query(VNFrame::Temperature, channel);
}
int VNLModule::lGetType(int channel)
{
    return query(VNFrame::Type, channel);
}
