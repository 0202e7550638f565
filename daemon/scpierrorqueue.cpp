#include "daemon/scpierrorqueue.h"

#include "store/safetext.h"

QString ScpiErrorQueue::text(int code)
{
    switch (code) {
    case 0:
        return QStringLiteral("No error");
    case -102:
        return QStringLiteral("Syntax error");
    case -104:
        return QStringLiteral("Data type error");
    case -108:
        return QStringLiteral("Parameter not allowed");
    case -109:
        return QStringLiteral("Missing parameter");
    case -113:
        return QStringLiteral("Undefined header");
    case -114:
        return QStringLiteral("Header suffix out of range");
    case -131:
        return QStringLiteral("Invalid suffix");
    case -203:
        return QStringLiteral("Command protected");
    case -200:
        return QStringLiteral("Execution error");
    case -210:
        return QStringLiteral("Trigger error");
    case -221:
        return QStringLiteral("Settings conflict");
    case -222:
        return QStringLiteral("Data out of range");
    case -240:
        return QStringLiteral("Hardware error");
    case -241:
        return QStringLiteral("Hardware missing");
    case -300:
        return QStringLiteral("Device-specific error");
    case -350:
        return QStringLiteral("Queue overflow");
    case -363:
        return QStringLiteral("Input buffer overrun");
    default:
        return QStringLiteral("Error");
    }
}

void ScpiErrorQueue::push(int code, const QString &detail)
{
    // -1xx command, -2xx execution, -3xx device-specific, -4xx query errors.
    static const int classes[] = {CommandError, ExecutionError, DeviceError, QueryError};
    if (code <= -100 && code > -500)
        m_Esr |= classes[(-code) / 100 - 1];
    // A string response: printable, its quotes doubled.
    QString said = text(code);
    if (!detail.isEmpty())
        said += QStringLiteral("; ") + SafeText::printable(detail.left(MaxText));
    // SCPI holds an entry's text to 255 characters; a cut one ends in "...".
    if (said.size() > MaxText)
        said = said.left(MaxText - 3) + QStringLiteral("...");
    said.replace(QLatin1Char('"'), QLatin1String("\"\""));
    const QByteArray entry = QByteArray::number(code) + ",\"" + said.toUtf8() + '"';
    if (m_Entries.size() < Capacity)
        m_Entries.enqueue(entry);
    else
        m_Entries.last() = QByteArray("-350,\"") + text(-350).toUtf8() + '"';
}

QByteArray ScpiErrorQueue::next()
{
    return m_Entries.isEmpty() ? QByteArray("0,\"No error\"") : m_Entries.dequeue();
}

int ScpiErrorQueue::takeEsr()
{
    const int bits = m_Esr;
    m_Esr = 0;
    return bits;
}
