#ifndef SIMFAULTS_H
#define SIMFAULTS_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>

// Trouble the simulated card can be told to make, for every request or only
// for requests of one parameter code: --fault KIND[:CODE], repeatable.
class SimFaults {
public:
    enum class Kind {
        NoReply,
        Short,
        Long,
        WrongCode,
        Status51,
        Status53,
        Split,
        Garbage,
        Late,
        KeepOld, // a set command answered as usual (KLR620: none) that changes nothing
    };

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

    // Adds a fault given as KIND[:CODE] for a card of `family` ("jq", "vn"
    // or "klr"): a kind the family cannot show, or a code it does not have
    // (`codes`), is refused.
    bool add(
        const QString &text, const QString &family, const QList<quint8> &codes, QString *error);
    bool isEmpty() const { return m_Faults.isEmpty(); }
    // How late a "late" answer comes.
    void setLateMs(int ms) { m_LateMs = ms; }
    static QStringList kindNames();

    // Whether a set command with parameter code `code` is to leave the
    // card's value as it was.
    bool keepsOld(quint8 code) const;

    // The answer to send for a request with parameter code `code`, given the
    // card's own reply. `fe` tells the 10-byte families from the KLR one.
    Plan apply(quint8 code, const QByteArray &reply, bool fe, int frameSize) const;

private:
    QVector<Fault> m_Faults;
    int m_LateMs = 1100;
};

#endif // SIMFAULTS_H
