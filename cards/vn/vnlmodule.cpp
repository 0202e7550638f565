#include "cards/vn/vnlmodule.h"

#include "cards/feexchange.h"
#include "cards/moduleresult.h"
#include "cards/vn/vnframe.h"
#include "serial/runevents.h"

#include <QDebug>

#include <cstdio>

namespace {

const FeExchange::Dialect VNDialect = {
    "VNLModule",
    &VNFrame::requestLayout,
    &VNFrame::replyLayout,
    /*logsRequest=*/false,
    /*statusOnStdout=*/true,
};

} // namespace

VNLModule::VNLModule() = default;
VNLModule::~VNLModule() = default;

int VNLModule::lOpenUart(QString portName)
{
    m_Uart.openCardLine(portName);
    return 1;
}

int VNLModule::lSetInterface(quint8 command, quint8 code, quint32 value, quint8 channel)
{
    return FeExchange::run(m_Uart, VNDialect, command, code, value, channel, m_RecvBuf, m_RecvLen);
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
    // One unsigned comparison covers both ends, negative values included.
    if (quint32(freq) - 20000u > 3580000u) {
        std::printf("error: lSetFreq param val overflow\n");
        RunEvents::refused(
            QStringLiteral("error: lSetFreq param val overflow"), freq, 20000, 3600000);
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
    if (quint32(select) > 1u) {
        std::printf("error: %s param val overflow\n", "VNLModule::lSetIFOutputSelect");
        RunEvents::refused(
            QStringLiteral("error: VNLModule::lSetIFOutputSelect param val overflow"), select, 0,
            1);
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
