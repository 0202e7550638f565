#ifndef SCPISESSION_H
#define SCPISESSION_H

#include "daemon/cardservice.h"
#include "daemon/scpierrorqueue.h"
#include "daemon/scpiparser.h"

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QString>

// One connection to the instrument: it reads program messages, one per line,
// and makes their units in order, each after the one before is done; what
// the card must do goes to the card's queue (CardService), everything else
// is answered at once. The responses of one message leave as one line,
// joined by ";" (IEEE 488.2), and every query has its place in it, a failed
// one too ("9.91E37", SCPI's not-a-number, or "{}" for READ?). Errors go to
// this connection's own queue. A line longer than MaxMessage ends the
// connection with -363; nothing a client sends or fails to read makes the
// memory grow past a few such lines. What a client sent before it went away
// is made all the same ("echo CHAN1:FREQ 1500 | nc host 5025").
class ScpiSession : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxMessage = 64 * 1024;
    static constexpr int MaxQueued = 64; // messages read ahead
    static constexpr qint64 MaxUnsent = 1024 * 1024; // responses the client has not read

    // `peer` names the client in the log; `device` is the connection, which
    // the session takes. A read-only session refuses every set (-203).
    ScpiSession(
        QIODevice *device, const QString &peer, bool readOnly, CardService &card, QObject *parent);

signals:
    void finished();

private:
    void readInput();
    void run();
    void execute(const ScpiParser::Unit &unit);
    void common(const ScpiParser::Unit &unit);
    void channelCommand(const ScpiParser::Unit &unit, const QString &key, int channel);
    // Hands a job to the card; `failed` is the query's answer should it fail.
    void submit(const CardService::Job &job, const QByteArray &failed, const QString &what);
    void respond(const QByteArray &text);
    void error(int code, const QString &detail = QString());
    // The client has gone: what it sent is still made, then the session ends.
    void gone();
    void end();

    QIODevice *m_Device;
    const QString m_Peer;
    const bool m_ReadOnly;
    CardService &m_Card;
    QQueue<QByteArray> m_Messages;
    QList<ScpiParser::Unit> m_Units; // the message in progress
    int m_Next = 0;
    bool m_InMessage = false;
    bool m_Waiting = false; // for the card
    bool m_Gone = false;
    bool m_Ended = false;
    QList<QByteArray> m_Responses;
    QList<ScpiParser::Node> m_Path; // the header path the last unit left
    ScpiErrorQueue m_Errors;
};

#endif // SCPISESSION_H
