#include "simprocess.h"

#include <QRegularExpression>

SimProcess::SimProcess(const QStringList &args)
{
    m_Process.start(QStringLiteral(RFCARD_SIM_BIN), QStringList{ QStringLiteral("--trace") } + args);
    m_Process.waitForStarted(5000);
    while (!m_Process.canReadLine() && m_Process.state() == QProcess::Running)
        m_Process.waitForReadyRead(5000);
    m_Device = QString::fromLocal8Bit(m_Process.readLine()).trimmed();
}

SimProcess::~SimProcess()
{
    stop();
}

QByteArray SimProcess::stop()
{
    if (m_Process.state() != QProcess::NotRunning) {
        m_Process.terminate();
        if (!m_Process.waitForFinished(5000))
            m_Process.kill();
        m_Process.waitForFinished(5000);
        m_Trace += m_Process.readAllStandardError();
    }
    return m_Trace;
}

QStringList SimProcess::notes(const QByteArray &trace)
{
    QStringList result;
    static const QRegularExpression rx(QStringLiteral("^\\S+ rx [0-9a-f ]+ \\| (.*)$"));
    for (const QByteArray &line : trace.split('\n')) {
        const QRegularExpressionMatch m = rx.match(QString::fromUtf8(line));
        if (m.hasMatch())
            result << m.captured(1);
    }
    return result;
}

QStringList SimProcess::requests(const QByteArray &trace)
{
    QStringList result;
    static const QRegularExpression rx(QStringLiteral("^\\S+ rx ([0-9a-f ]+?)  \\|"));
    for (const QByteArray &line : trace.split('\n')) {
        const QRegularExpressionMatch m = rx.match(QString::fromUtf8(line));
        if (m.hasMatch())
            result << m.captured(1);
    }
    return result;
}
