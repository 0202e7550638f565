#ifndef SCPIERRORQUEUE_H
#define SCPIERRORQUEUE_H

#include <QByteArray>
#include <QQueue>
#include <QString>

// A connection's error queue, as SYSTem:ERRor? reads it: first in, first
// out, "<code>,\"<text>\"" with SCPI's standard numbers and texts and, after
// a ";", what happened. When it is full the newest entry gives way to -350
// ("Queue overflow"), so the first errors are kept; an entry's text is cut
// at 255 characters. Each error also sets its class's bit of the event
// status register (*ESR?).
class ScpiErrorQueue {
public:
    static constexpr int Capacity = 32;
    static constexpr int MaxText = 255;
    // Event status register bits (IEEE 488.2).
    enum Bit {
        OperationComplete = 0x01,
        QueryError = 0x04,
        DeviceError = 0x08,
        ExecutionError = 0x10,
        CommandError = 0x20
    };

    void push(int code, const QString &detail = QString());
    // The oldest entry, taken off the queue; 0,"No error" when it is empty.
    QByteArray next();
    int count() const { return int(m_Entries.size()); }
    void clear() { m_Entries.clear(); }
    int esr() const { return m_Esr; }
    void setEsr(int bits) { m_Esr |= bits; }
    int takeEsr();

    static QString text(int code);

private:
    QQueue<QByteArray> m_Entries;
    int m_Esr = 0;
};

#endif // SCPIERRORQUEUE_H
