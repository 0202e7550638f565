#include "cards/klr/klrlmodule.h"

#include "cards/cardlimits.h"
#include "cards/klr/klrframe.h"
#include "cards/moduleresult.h"
#include "serial/runevents.h"

#include <QByteArray>
#include <QDebug>
#include <QThread>

namespace {
constexpr unsigned long SetSettleMs = 100; // the card takes a set command this long
} // namespace

namespace {

// The queries that bring the line back in step, the least telling first.
QList<LineSync::Probe> probes()
{
    QList<LineSync::Probe> list;
    for (const quint8 code : {KLRFrame::GetWarning, KLRFrame::GetBandwidth, KLRFrame::GetWorkMode,
             KLRFrame::GetRFAtten, KLRFrame::GetIFAtten, KLRFrame::GetFreq}) {
        const KLRFrame::Bytes f = KLRFrame::build(code, 0, 0);
        list << LineSync::Probe{
            QByteArray(reinterpret_cast<const char *>(f.data()), KLRFrame::Size),
            KLRFrame::replyTo(code)};
    }
    return list;
}

} // namespace

KLRLModule::KLRLModule()
    : m_Sync(KLRFrame::Size, 1, probes())
{
}
KLRLModule::~KLRLModule() = default;

int KLRLModule::lOpenUart(QString portName)
{
    m_Uart.openCardLine(portName);
    m_Sync.reset();
    return 1;
}

int KLRLModule::lSetInterface(quint8 command, quint8 code, int value, int channel)
{
    qDebug() << "lSetInterface cmd = " << int(command) << " param_code =" << uint(code)
             << " param_val = " << value << "ch =" << channel;
    const KLRFrame::Bytes frame = KLRFrame::build(code, quint32(value), quint8(channel));
    if (!m_Sync.ready(m_Uart)) {
        RunEvents::report({RunEvents::OutOfStep});
        return command == SetCommand ? int(UartAgent::WriteIncomplete)
                                     : int(ModuleResult::ExchangeFailed);
    }
    qDebug() << "createCmd ucbuf"
             << QByteArray(reinterpret_cast<const char *>(frame.data()), KLRFrame::Size).toHex(' ');

    if (command == SetCommand) {
        const int ret = m_Uart.sendRecvCapped(
            frame.data(), KLRFrame::Size, m_RecvBuf, RecvBufSize, &m_RecvLen, 0);
        QThread::msleep(SetSettleMs);
        return ret;
    }

    // The agent leaves the length alone when nothing arrives; starting from 0
    // makes a missing reply fail the length check instead of decoding the
    // previous query's reply again.
    m_RecvLen = 0;
    const int ret = m_Uart.sendRecvCapped(
        frame.data(), KLRFrame::Size, m_RecvBuf, RecvBufSize, &m_RecvLen, 1000);
    if (ret != UartAgent::Success) {
        m_Sync.failed(KLRFrame::replyTo(code));
        qDebug() << "KLRLModule::lSetInterface"
                 << "Ret error:" << ret;
        return ModuleResult::ExchangeFailed;
    }
    if (m_RecvLen != KLRFrame::Size) {
        m_Sync.failed(KLRFrame::replyTo(code));
        qDebug("LModule::lSetInterface: m_RecvLen error %d\n", int(m_RecvLen));
        RunEvents::report({RunEvents::BadLength,
            QString::asprintf("LModule::lSetInterface: m_RecvLen error %d", int(m_RecvLen)),
            m_RecvLen});
        return ModuleResult::OutOfRange;
    }
    qDebug("%s %02X %02X %02X %02X\n", "KLRLModule::lQueryGetParameterValue", m_RecvBuf[3],
        m_RecvBuf[4], m_RecvBuf[5], m_RecvBuf[6]);
    // A reply is decoded by its own code: one the host does not know reads
    // as 0, and the reply of another query as that parameter's value, both
    // without a line; only a program that judges the run hears of them.
    if (m_RecvBuf[1] != KLRFrame::replyTo(code))
        m_Sync.failed(KLRFrame::replyTo(code));
    if (!KLRFrame::knows(m_RecvBuf))
        RunEvents::report({RunEvents::UnknownReply, QString(), m_RecvBuf[1]});
    else if (m_RecvBuf[1] != KLRFrame::replyTo(code))
        RunEvents::report({RunEvents::WrongCode, QString(), m_RecvBuf[1]});
    return KLRFrame::decode(m_RecvBuf);
}

int KLRLModule::lSetFreq(int freq, int channel)
{
    const CardLimits::Range range = CardLimits::of(CardLimits::KlrProtocol, "freq");
    if (!range.contains(freq)) {
        qDebug() << "error: lSetFreq param val overflow";
        RunEvents::refused(
            QStringLiteral("error: lSetFreq param val overflow"), freq, range.low, range.high);
        return ModuleResult::OutOfRange;
    }
    return lSetInterface(SetCommand, KLRFrame::SetFreq, freq, channel);
}

int KLRLModule::lSetWorkMode(int mode, int channel)
{
    const CardLimits::Range range = CardLimits::of(CardLimits::KlrProtocol, "workmode");
    if (!range.contains(mode)) {
        qDebug() << "error:"
                 << "KLRLModule::lSetWorkMode"
                 << "param val overflow";
        RunEvents::refused(QStringLiteral("error: KLRLModule::lSetWorkMode param val overflow"),
            mode, range.low, range.high);
        return ModuleResult::OutOfRange;
    }
    return lSetInterface(SetCommand, KLRFrame::SetWorkMode, mode, channel);
}

int KLRLModule::lSetRFAtten(int att, int channel)
{
    return lSetInterface(SetCommand, KLRFrame::SetRFAtten, att, channel);
}

int KLRLModule::lSetIFAtten(int att, int channel)
{
    return lSetInterface(SetCommand, KLRFrame::SetIFAtten, att, channel);
}

int KLRLModule::lSetIFBand(int band, int channel)
{
    const CardLimits::Range range = CardLimits::of(CardLimits::KlrProtocol, "band");
    if (!range.contains(band)) {
        qDebug() << "error:"
                 << "KLRLModule::lSetIFBand"
                 << "param val overflow";
        RunEvents::refused(QStringLiteral("error: KLRLModule::lSetIFBand param val overflow"), band,
            range.low, range.high);
        return ModuleResult::OutOfRange;
    }
    return lSetInterface(SetCommand, KLRFrame::SetIFBand, band, channel);
}

int KLRLModule::lGetFreq(int channel)
{
    return lSetInterface(QueryCommand, KLRFrame::GetFreq, 0, channel);
}
int KLRLModule::lGetWorkMode(int channel)
{
    return lSetInterface(QueryCommand, KLRFrame::GetWorkMode, 0, channel);
}
int KLRLModule::lGetRFAtten(int channel)
{
    return lSetInterface(QueryCommand, KLRFrame::GetRFAtten, 0, channel);
}
int KLRLModule::lGetIFAtten(int channel)
{
    return lSetInterface(QueryCommand, KLRFrame::GetIFAtten, 0, channel);
}
int KLRLModule::lGetWarning(int channel)
{
    return lSetInterface(QueryCommand, KLRFrame::GetWarning, 0, channel);
}
int KLRLModule::lGetBandwidth(int channel)
{
    return lSetInterface(QueryCommand, KLRFrame::GetBandwidth, 0, channel);
}
