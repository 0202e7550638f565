#include "cards/feexchange.h"

#include "cards/cardlog.h"

#include "serial/runevents.h"

#include <QByteArray>
#include <QDebug>

QList<LineSync::Probe> FeExchange::probes(std::initializer_list<quint8> codes)
{
    QList<LineSync::Probe> list;
    for (const quint8 code : codes) {
        const FeFrame::Bytes f
            = FeFrame::build(FeFrame::QueryCommand, code, 0, 0, FeFrame::Layout::None);
        list << LineSync::Probe{
            QByteArray(reinterpret_cast<const char *>(f.data()), FeFrame::Size), code};
    }
    return list;
}

int FeExchange::run(UartAgent &uart, LineSync &sync, const Dialect &dialect, quint8 command,
    quint8 code, quint32 value, quint8 channel, quint8 (&recvBuf)[UartAgent::RecvBufSize],
    quint32 &recvLen)
{
    if (!sync.ready(uart)) {
        RunEvents::report({RunEvents::OutOfStep});
        return ModuleResult::ExchangeFailed;
    }
    const FeFrame::Bytes frame
        = FeFrame::build(command, code, value, channel, dialect.requestLayout(code));
    if (dialect.logsRequest) {
        qDebug()
            << "createCmd ucbuf"
            << QByteArray(reinterpret_cast<const char *>(frame.data()), FeFrame::Size).toHex(' ');
    }

    const int ret = uart.sendRecv(frame.data(), FeFrame::Size, recvBuf, &recvLen, 1000);
    if (ret != UartAgent::Success) {
        sync.failed(code);
        qCritical() << (QByteArray(dialect.module) + "::lSetInterface").constData()
                    << "Ret error:" << ret;
        return ModuleResult::ExchangeFailed;
    }

    const FeFrame::Check check = FeFrame::check(recvBuf, recvLen, code);
    if (check != FeFrame::Check::Ok)
        sync.failed(code);
    switch (check) {
    case FeFrame::Check::BadLength:
        qDebug("LModule::lSetInterface: m_RecvLen error %d\n", int(recvLen));
        RunEvents::report({RunEvents::BadLength,
            QString::asprintf("LModule::lSetInterface: m_RecvLen error %d", int(recvLen)),
            recvLen});
        return ModuleResult::OutOfRange;
    case FeFrame::Check::WrongCode: {
        const QString line = QString::asprintf(
            "LModule::RFInterface: Parameter error %02X %02X", recvBuf[2], code);
        CardLog::print(line);
        RunEvents::report({RunEvents::WrongCode, line, recvBuf[2]});
        return ModuleResult::WrongCode;
    }
    case FeFrame::Check::Ok:
        break;
    }

    if (command != FeFrame::QueryCommand) {
        // rfcard takes a set command on the reply's length and code alone;
        // a status the card flagged it with is heard only by a program that
        // judges the run.
        if (FeFrame::statusFailed(recvBuf))
            RunEvents::report({RunEvents::StatusFailed, QString(), recvBuf[1]});
        return ModuleResult::Done;
    }

    qDebug("%s %02X %02X %02X %02X\n",
        (QByteArray(dialect.module) + "::lQueryGetParameterValue").constData(), recvBuf[3],
        recvBuf[4], recvBuf[5], recvBuf[6]);
    if (FeFrame::statusFailed(recvBuf)) {
        QString line;
        if (dialect.statusOnStdout) {
            line = QString::asprintf("error, uart replay failed code=%02x", recvBuf[1]);
            CardLog::print(line);
        } else {
            qCritical() << "error, uart replay failed code=%02x\n" << int(recvBuf[1]);
            line = RunEvents::logLine("error, uart replay failed code=%02x\n", int(recvBuf[1]));
        }
        RunEvents::report({RunEvents::StatusFailed, line, recvBuf[1]});
    }
    return FeFrame::decode(recvBuf, dialect.replyLayout(recvBuf[2]));
}
