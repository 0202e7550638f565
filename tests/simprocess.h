#ifndef SIMPROCESS_H
#define SIMPROCESS_H

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// A running rfcard-sim, traced, for one test.
class SimProcess {
public:
    explicit SimProcess(const QStringList &args);
    ~SimProcess();

    QString device() const { return m_Device; }
    // Waits until the simulator has played `count` faults (the reply of the
    // last, if any, is on the line then).
    bool waitForFault(int count = 1);
    // Stops the simulator and returns its trace.
    QByteArray stop();
    // What the card understood, request by request ("set freq ch1 = 1500000"),
    // and the raw request frames, from the trace.
    static QStringList notes(const QByteArray &trace) { return received(trace, 2); }
    static QStringList requests(const QByteArray &trace) { return received(trace, 1); }

private:
    static QStringList received(const QByteArray &trace, int group);
    QProcess m_Process;
    QString m_Device;
    QByteArray m_Trace; // what the simulator has written to its trace so far
    bool m_Stopped = false;
};

#endif // SIMPROCESS_H
