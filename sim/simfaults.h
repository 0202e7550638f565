#ifndef SIMFAULTS_H
#define SIMFAULTS_H

#include <QByteArray>
#include <QString>
#include <QVector>

// Trouble the simulated card can be told to make, for every request or only
// for requests of one parameter code: --fault KIND[:CODE], repeatable.
class SimFaults {
public:
    enum class Kind { NoReply, Short, Long, WrongCode, Status51, Status53, Split, Garbage, Late };

    struct Fault {
        Kind kind;
        int code; // -1: every code
    };

    // How to answer one request.
    struct Plan {
        QByteArray first;
        QByteArray second; // written after a pause when not empty
        int delayMs = 0; // extra wait before answering
        QString note; // empty when no fault applied
    };

    bool add(const QString &text, QString *error);
    bool isEmpty() const { return m_Faults.isEmpty(); }
    // How late a "late" answer comes.
    void setLateMs(int ms) { m_LateMs = ms; }
    static QStringList kindNames();

    // The answer to send for a request with parameter code `code`, given the
    // card's own reply. `fe` tells the 10-byte families from the KLR one.
    Plan apply(quint8 code, const QByteArray &reply, bool fe, int frameSize) const;

private:
    QVector<Fault> m_Faults;
    int m_LateMs = 1100;
};

#endif // SIMFAULTS_H
