#ifndef HISLIPSESSION_H
#define HISLIPSESSION_H

#include "daemon/cardlocks.h"
#include "daemon/clientconnection.h"
#include "daemon/hislipframe.h"
#include "daemon/scpisession.h"

#include <QByteArray>
#include <QObject>
#include <QPair>
#include <QQueue>

// One HiSLIP client (IVI-6.1, version 1.0): its synchronous channel carries
// its messages (Data, DataEnd) and their answers, each answer tagged with
// the message ID of the message it answers, so that a client never takes a
// late answer for a later query's; its asynchronous channel carries what
// must not wait behind them: the status byte, device clear, locks, the
// maximum message size, and the service requests this session raises.
//
// A device clear drops the message in progress, the messages waiting and
// every answer still to come (the card finishes a command it has begun; its
// answer goes nowhere); the client then starts again from a clean session.
// Locks are the card's (CardLocks), held against every client of the card;
// they die with the session. The session ends when either channel closes.
class HislipSession : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 MaxPayload = 64 * 1024;
    static constexpr int MaxWaiting = 8; // messages read ahead
    static constexpr quint16 Version = 0x0100; // 1.0

    HislipSession(quint16 id, ClientConnection *sync, ScpiSession *engine, CardLocks &locks,
        QObject *parent = nullptr);

    quint16 id() const { return m_Id; }
    const ScpiSession::Client &client() const { return m_Engine->client(); }
    bool paired() const { return m_Async != nullptr; }
    // The asynchronous channel, after its AsyncInitialize.
    void attach(ClientConnection *async);

signals:
    void finished();

private:
    void readSync();
    void readAsync();
    void onSync(const HislipFrame::Message &m);
    void onAsync(const HislipFrame::Message &m);
    void onOutput(const QByteArray &bytes, bool end);
    void next();
    void lock(const HislipFrame::Message &m);
    void fatal(quint8 code, const QString &why);
    void close();

    const quint16 m_Id;
    ClientConnection *m_Sync;
    ClientConnection *m_Async = nullptr;
    ScpiSession *m_Engine;
    CardLocks &m_Locks;
    QByteArray m_Partial; // Data payloads of the message coming in
    QQueue<QPair<quint32, QByteArray>> m_Waiting; // whole messages and their IDs
    quint32 m_Answering = 0xFFFFFFFF; // the message ID of the message being made
    QByteArray m_Response;
    bool m_Clearing = false;
    bool m_Closed = false;
};

#endif // HISLIPSESSION_H
