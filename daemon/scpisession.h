#ifndef SCPISESSION_H
#define SCPISESSION_H

#include "daemon/cardservice.h"
#include "daemon/clientconnection.h"
#include "daemon/scpierrorqueue.h"
#include "daemon/scpiparser.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

// One connection to the instrument: it takes program messages, one per
// line, and makes their units in order, each after the one before is done;
// what the card must do goes to the card's queue (CardService), everything
// else is answered at once. The responses of one message form one line,
// joined by ";" (IEEE 488.2), and every query has its place in it, a failed
// one too ("9.91E37", SCPI's not-a-number, or "{}" for READ?). Errors go to
// this connection's own queue, and its status byte (*STB?) tells them.
//
// A message is made only once its line end has come: a last line without
// one when the client goes away is dropped and logged, so that a client
// killed half-way through "CHAN2:FREQ 1500" never sets 150 MHz. The
// client's end of sending is not its going: what it sent is made and
// answered, then the connection is closed. A client that has gone
// altogether still has its complete messages made, with nobody to answer.
//
// What a connection costs is bounded: a message is read only when the one
// before is done (the connection reads at most MaxMessage ahead, past which
// the network holds the client back), units are parsed one at a time, and
// no further unit is made while more than MaxUnsent bytes of responses wait
// for the client to read them. A line longer than MaxMessage ends the
// connection with -363.
class ScpiSession : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxMessage = 64 * 1024;
    static constexpr qint64 MaxUnsent = 16 * 1024;
    static constexpr int UnitsPerTurn = 32;

    // Who is at the other end.
    struct Client {
        QString key; // what the card's turns and the connection limits count: "uid 1000", "::1"
        QString name; // for the log: "uid 1000 (alice) on PATH", "127.0.0.1:40112"
        bool privileged = false; // root, or the user the service runs as
    };

    // A read-only session refuses every set (-203).
    ScpiSession(ClientConnection *connection, const Client &client, bool readOnly,
        CardService &card, QObject *parent);

    const Client &client() const { return m_Client; }
    // The card cannot be served, and why: its commands fail with -241.
    void setUnavailable(const QString &why) { m_Unavailable = why; }
    // How long it has had nothing to do (0 while it has).
    qint64 idleMs() const;
    // Closes the connection once the message in progress is made, to make
    // room for another client; the client sees a clean close.
    void evict();

signals:
    // The connection is closed.
    void finished();

private:
    void run();
    void start(const QByteArray &message);
    void endMessage();
    void finish();
    void execute(const ScpiParser::Unit &unit);
    void common(const ScpiParser::Unit &unit);
    void channelCommand(const ScpiParser::Unit &unit, const QString &key, int channel);
    // Hands a job to the card; `failed` is the query's answer should it fail.
    void submit(const CardService::Job &job, const QByteArray &failed, const QString &what);
    void respond(const QByteArray &text);
    void error(int code, const QString &detail = QString());
    int statusByte() const;

    ClientConnection *m_Connection;
    const Client m_Client;
    const bool m_ReadOnly;
    CardService &m_Card;
    QByteArray m_Message; // the message in progress
    int m_Position = 0; // of its next unit
    bool m_InMessage = false;
    bool m_Responded = false; // the message in progress has said something
    bool m_Waiting = false; // for the card
    bool m_Running = false;
    bool m_Evicted = false;
    bool m_Ended = false;
    QElapsedTimer m_Idle;
    QList<ScpiParser::Node> m_Path; // the header path the last unit left
    ScpiErrorQueue m_Errors;
    QString m_Unavailable;
    int m_Ese = 0; // *ESE
    int m_Sre = 0; // *SRE
};

#endif // SCPISESSION_H
