#ifndef RUNVERDICT_H
#define RUNVERDICT_H

#include <QByteArray>
#include <QSet>
#include <QString>

// What one rfcard run did with the card, judged from the lines it wrote
// (log, protocol lines and report), whose texts never change, and from its
// exit status. rfcard itself ends with 0 whatever the card answered; this
// turns its lines into a status a script can test.
class RunVerdict {
public:
    enum Status {
        Ok = 0, // every card operation sent and answered as expected
        Usage = 1, // rfcard's own usage error, passed through
        Refused = 2, // a value the card driver refused, or dropped unsent
        CardFault = 3, // the card did not answer, or answered wrongly
        PortFailed = 4, // the serial port could not be opened
        UnknownModel = 5, // a card model rfcard has no driver for: nothing sent
        NotRun = 6, // rfcard could not be started or did not end normally
        NotSaved = 7, // the card is set as asked, but the settings were not saved
        Mismatch = 8, // the card answered, but does not hold what was set
    };

    void addLine(const QByteArray &line);
    // The status of the run, once rfcard has ended. `exitCode` is -1 when it
    // did not start or did not end normally.
    Status status(int exitCode, const QByteArray &report);
    // What decided a non-zero status: the line, or an explanation.
    QString reason() const { return m_Reason; }
    // What a status means, in a few words.
    static QString meaning(Status status);
    // The port rfcard could not open, as it named it ("open uart "NAME"
    // failed"); empty when there was no such line.
    QString failedPort() const;
    // The card model of the run, as rfcard named it.
    QString model() const { return QString::fromLatin1(m_Model); }
    // rfcard's log line of the parameters a set run applied.
    QByteArray appliedParameters() const { return m_Applied; }
    // The port the run opened ("open uart "NAME" sucess").
    QString openedPort() const;

private:
    enum class Run { None, Set, ReadBack };

    void note(QByteArray &first, const QByteArray &line);
    QString unsentJqCommands() const;
    QString implausibleKlrReport(const QByteArray &report) const;

    Run m_Run = Run::None;
    QByteArray m_Model;
    bool m_PortOpened = false;
    QByteArray m_PortFailure;
    QByteArray m_Refusal;
    QByteArray m_CardFault;
    QByteArray m_SaveFailure;
    QByteArray m_Applied;
    QByteArray m_PortOpenedLine;
    QSet<QByteArray> m_JqSetCodes; // parameter codes of the JQ set commands sent
    QString m_Reason;
};

#endif // RUNVERDICT_H
