#include "simprocess.h"

#include <QRegularExpression>
#include <QtTest>

SimProcess::SimProcess(const QStringList &args)
{
    m_Process.start(QStringLiteral(RFCARD_SIM_BIN), QStringList{QStringLiteral("--trace")} + args);
    m_Process.waitForStarted(5000);
    while (!m_Process.canReadLine() && m_Process.state() == QProcess::Running)
        m_Process.waitForReadyRead(5000);
    m_Device = QString::fromLocal8Bit(m_Process.readLine()).trimmed();
}

SimProcess::~SimProcess()
{
    stop();
}

bool SimProcess::waitForFault(int count)
{
    QElapsedTimer timer;
    timer.start();
    while (m_Trace.count("| fault ") < count && timer.elapsed() < 60000
        && m_Process.state() == QProcess::Running) {
        m_Process.waitForReadyRead(100);
        m_Trace += m_Process.readAllStandardError();
    }
    return m_Trace.count("| fault ") >= count;
}

QByteArray SimProcess::stop()
{
    if (m_Stopped)
        return m_Trace;
    m_Stopped = true;
    if (m_Process.state() != QProcess::NotRunning) {
        m_Process.terminate();
        if (!m_Process.waitForFinished(5000))
            m_Process.kill();
        m_Process.waitForFinished(5000);
    }
    // Also the trace of a simulator that ended by itself (--unplug-after).
    m_Trace += m_Process.readAllStandardError();
    // A simulator that did not end cleanly (a sanitizer report, a crash)
    // fails the test that used it.
    QTest::qVerify(m_Process.exitStatus() == QProcess::NormalExit && m_Process.exitCode() == 0,
        "rfcard-sim ended cleanly", m_Trace.right(2000).constData(), __FILE__, __LINE__);
    return m_Trace;
}

// Trace lines of received frames: "<time> rx <hex>  | <note>".
QStringList SimProcess::received(const QByteArray &trace, int group)
{
    QStringList result;
    static const QRegularExpression rx(QStringLiteral("^\\S+ rx ([0-9a-f ]+?)  \\| (.*)$"));
    for (const QByteArray &line : trace.split('\n')) {
        const QRegularExpressionMatch m = rx.match(QString::fromUtf8(line));
        if (m.hasMatch())
            result << m.captured(group);
    }
    return result;
}
