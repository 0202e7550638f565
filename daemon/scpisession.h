#ifndef SCPISESSION_H
#define SCPISESSION_H

#include "daemon/cardlocks.h"
#include "daemon/cardservice.h"
#include "daemon/scpierrorqueue.h"
#include "daemon/scpiparser.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

// One client's instrument, whatever carries its messages (a raw socket,
// a VXI-11 link, a HiSLIP session): it makes the units of one program
// message at a time, in order, each after the one before is done; what the
// card must do goes to the card's queue (CardService), everything else is
// answered at once. The responses of one message form one response message
// (IEEE 488.2): joined by ";", ended by a line end, given out piece by
// piece as they are made; every query has its place in it, a failed one
// too ("9.91E37", SCPI's not-a-number, or "{}" for READ?). Errors go to this
// session's own queue; its status registers (*ESR, *ESE, *SRE, and SCPI's
// QUEStionable and OPERation) are its own, the conditions they latch are
// the card's.
//
// The carrier hands it whole messages (take) when it is ready, passes its
// output on, and says how much of it still waits to go (the backlog):
// while that is more than MaxUnsent no further unit is made, so a client
// that does not read holds its own session up and nothing else. A device
// clear drops the message in progress and every answer still to come.
class ScpiSession : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 MaxUnsent = 16 * 1024;
    static constexpr int UnitsPerTurn = 32;

    // Who is at the other end.
    struct Client {
        QString key; // what the card's turns and the connection limits count: "uid 1000", "::1"
        QString name; // for the log: "uid 1000 (alice) on PATH", "127.0.0.1:40112"
        bool privileged = false; // root, or the user the service runs as
    };

    // A read-only session refuses every set (-203).
    ScpiSession(const Client &client, bool readOnly, CardService &card, CardLocks &locks,
        QObject *parent = nullptr);
    ~ScpiSession() override;

    const Client &client() const { return m_Client; }
    // The card cannot be served, and why: its commands fail with -241.
    void setUnavailable(const QString &why) { m_Unavailable = why; }
    void setBacklog(std::function<qint64()> backlog) { m_Backlog = std::move(backlog); }
    // How long a command waits for a lock another client holds (-1: the
    // card's locks say).
    void setLockWait(int ms) { m_LockWaitMs = ms; }

    // Nothing in progress: a message may be taken.
    bool ready() const { return !m_InMessage; }
    // A whole program message, without its terminator.
    void take(const QByteArray &message);
    // Makes units again after the backlog has shrunk.
    void resume();
    // Drops the message in progress and the answers still to come.
    void clear();
    // The status byte (IEEE 488.2): 4 an error queued, 8 QUEStionable, 16
    // an answer waiting, 32 an enabled standard event, 64 any enabled bit,
    // 128 OPERation.
    int statusByte() const;
    // How long it has had nothing to do (0 while it has).
    qint64 idleMs() const;

signals:
    // Response bytes, as they are made; `end` with the line end that ends
    // a response message.
    void output(const QByteArray &bytes, bool end);
    // The message taken is done.
    void done();
    // The status byte's request bit (64) rose: a service request.
    void serviceRequest(int statusByte);

private:
    void run();
    void endMessage();
    void execute(const ScpiParser::Unit &unit);
    void common(const ScpiParser::Unit &unit);
    void status(const ScpiParser::Unit &unit, int command, const QByteArray &which);
    void channelCommand(const ScpiParser::Unit &unit, const QString &key, int channel);
    // Hands a job to the card once the locks let this session use it;
    // `failed` is the query's answer should it fail.
    void submit(const CardService::Job &job, const QByteArray &failed, const QString &what);
    void send(const CardService::Job &job, const QByteArray &failed, const QString &what);
    void respond(const QByteArray &text);
    void error(int code, const QString &detail = QString());
    void latch(int rose);
    void setQuestionableEnable(int value);
    void checkRequest(int before);

    const Client m_Client;
    const bool m_ReadOnly;
    CardService &m_Card;
    CardLocks &m_Locks;
    std::function<qint64()> m_Backlog;
    int m_LockWaitMs = -1;
    QByteArray m_Message; // the message in progress
    int m_Position = 0; // of its next unit
    bool m_InMessage = false;
    bool m_Responded = false; // the message in progress has said something
    bool m_Waiting = false; // for the card, or a lock
    bool m_Running = false;
    quint64 m_Generation = 0; // a device clear makes answers still to come stale
    QElapsedTimer m_Idle;
    QList<ScpiParser::Node> m_Path; // the header path the last unit left
    ScpiErrorQueue m_Errors;
    QString m_Unavailable;
    int m_Ese = 0; // *ESE
    int m_Sre = 0; // *SRE
    int m_QuesEvent = 0; // STATus:QUEStionable, latched from the card's conditions
    int m_QuesEnable = 0;
    int m_OperEvent = 0;
    int m_OperEnable = 0;
};

#endif // SCPISESSION_H
