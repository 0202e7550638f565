#ifndef CARDSERVICE_H
#define CARDSERVICE_H

#include "app/cmdagent.h"

#include <QAtomicInt>
#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVector>
#include <QWaitCondition>

#include <functional>

// The one owner of the card's port: a thread of its own that opens the port
// at start and keeps it open, and makes the jobs of every connection one
// after another with rfcard's drivers. A set sends only what its option
// needs and is then read back: done when the card holds the value. A port
// that failed or went away is opened again at the next job. Everything here
// blocks only this thread: the connections are served meanwhile.
//
// The card is shared between people, not connections: every job names its
// client (a uid, an address), and the clients take turns, one job each, in
// the order they came. A client's next job waits behind those of everyone
// who came while its last one was made, so one user's many connections
// wait behind each other, not in front of everyone else.
//
// It also keeps the card's conditions for the status registers of SCPI
// (QUEStionable): a channel whose temperature lies outside what the card
// can work at, a KLR620 that raises its warning. They are taken from every
// read-back that reads them and, while a client watches them, from a
// reading of one channel a second when no client needs the card.
class CardService : public QThread {
    Q_OBJECT

public:
    // MINimum, MAXimum, DEFault: a value of the model's own range.
    enum Bound { Given, Minimum, Maximum, Default };
    struct Job {
        enum Kind { Query, Set, Report };
        Kind kind = Query;
        int channel = 0; // 0 is the first
        QString key; // Query: the report's key; Set: the option; "*TST": the self-test
        CmdAgent::CardValues values; // Set: the value, in the card's units
        // Set: the value is this bound instead; Query: the bound is the
        // answer (for a gain whose range the card's work mode decides).
        Bound bound = Given;
        // Set: who asked and what, for the audit line before it is sent.
        QString client;
        QString what;
    };
    struct Outcome {
        int error = 0; // an SCPI error number, 0 when done
        QString detail;
        QString text; // a query's answer, in the report's words
    };
    using Done = std::function<void(const Outcome &)>;

    CardService(const QString &model, const QString &port);
    ~CardService() override;

    QString model() const { return m_Model; }
    QString port() const { return m_Port; }
    // Queues a job of the client `client`; `done` runs on the thread that
    // made this object, once the job is over.
    void submit(const QString &client, const Job &job, Done done);

    // The card's QUEStionable conditions (SCPI): Temperature, Warning.
    enum Questionable { Temperature = 0x10, Warning = 0x200 };
    int questionable() const { return m_Questionable.loadRelaxed(); }
    // One more (or one fewer) client that watches the conditions.
    void watch(int delta);

signals:
    // Conditions that rose (on the thread that made this object).
    void questionableChanged(int rose);

public:
    // Ends the thread after the job at hand; the jobs after it are dropped.
    void stop();
    // Why the driver of `model` would refuse an option's value, in the
    // option's units ("the VN2810 takes 0 to 40"); empty when it takes it.
    static QString refusal(
        const QString &model, const QString &option, const CmdAgent::CardValues &v);
    // Whether an option's range depends on the work mode the card is in.
    static bool byMode(const QString &model, const QString &option);
    // A bound of an option's range for `model` (in `workmode`), in the card's
    // units of limitOf; the default is rfcard's for a new channel, or the
    // low end where the model does not take that.
    static qint64 boundOf(const QString &model, const QString &option, Bound bound, int workmode);
    // An option's member of `v` in those units, and back.
    static qint64 valueOf(
        const QString &model, const QString &option, const CmdAgent::CardValues &v);
    static void put(
        const QString &model, const QString &option, qint64 value, CmdAgent::CardValues *v);

protected:
    void run() override;

private:
    bool ensureOpen(QString *why);
    // What a reading says of the card's conditions.
    void note(int channel, const CmdAgent::Readings &r);
    void poll();
    Outcome perform(const Job &job);
    Outcome query(const Job &job);
    Outcome set(const Job &job);

    const QString m_Model;
    const QString m_Port;
    CmdAgent *m_Agent;
    QMutex m_Mutex;
    QWaitCondition m_Wake;
    QHash<QString, QQueue<QPair<Job, Done>>> m_Jobs; // by client
    QStringList m_Turns; // the clients with jobs waiting, in the order they are served
    QString m_Serving; // the client whose job is being made
    bool m_Stopping = false;
    QAtomicInt m_Questionable;
    QAtomicInt m_Watchers;
    QVector<int> m_ChannelConditions = QVector<int>(4); // the card thread's
    int m_PollChannel = 0;
};

#endif // CARDSERVICE_H
