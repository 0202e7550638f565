#ifndef CARDSERVICE_H
#define CARDSERVICE_H

#include "app/cmdagent.h"

#include <QByteArray>
#include <QMutex>
#include <QQueue>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <functional>

// The one owner of the card's port: a thread of its own that opens the port
// at start and keeps it open, and makes the jobs of every connection one
// after another, in the order they came, with rfcard's drivers. A set sends
// only what its option needs and is then read back: done when the card
// holds the value. A port that failed or went away is opened again at the
// next job. Everything here blocks only this thread: the connections are
// served meanwhile.
class CardService : public QThread {
    Q_OBJECT

public:
    struct Job {
        enum Kind { Query, Set, Report };
        Kind kind = Query;
        int channel = 0; // 0 is the first
        QString key; // Query: the report's key; Set: the option; "*TST": the self-test
        CmdAgent::CardValues values; // Set: the value, in the card's units
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
    // Queues a job; `done` runs on the thread that made this object, once
    // the job is over.
    void submit(const Job &job, Done done);
    // Ends the thread after the job at hand; the jobs after it are dropped.
    void stop();
    // Why the driver of `model` would refuse an option's value, in the
    // option's units ("the VN2810 takes 0 to 40"); empty when it takes it.
    static QString refusal(
        const QString &model, const QString &option, const CmdAgent::CardValues &v);

protected:
    void run() override;

private:
    bool ensureOpen(QString *why);
    Outcome perform(const Job &job);
    Outcome query(const Job &job);
    Outcome set(const Job &job);

    const QString m_Model;
    const QString m_Port;
    CmdAgent *m_Agent;
    QMutex m_Mutex;
    QWaitCondition m_Wake;
    QQueue<QPair<Job, Done>> m_Jobs;
    bool m_Stopping = false;
};

#endif // CARDSERVICE_H
