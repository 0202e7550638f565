#ifndef VXI11CHANNEL_H
#define VXI11CHANNEL_H

#include "daemon/vxi11rpc.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class ClientConnection;
class QTcpSocket;
class QTimer;
class Vxi11Link;
class Vxi11Server;

// One VXI-11 connection: the core channel, with the links made on it, or
// an abort channel. Its calls are taken one at a time, as the client makes
// them: a call that waits (a read for its answer, a write or a lock for a
// lock another client holds) holds the next back until it is answered or
// its time-out ends it; device_abort, on the abort channel, ends it at
// once. The links die with the connection, and their locks with them.
class Vxi11Channel : public QObject {
    Q_OBJECT

public:
    Vxi11Channel(ClientConnection *connection, Vxi11Server &server, bool abort, const QString &peer,
        QObject *parent = nullptr);

signals:
    void finished();

private:
    void read();
    void handle(const Vxi11Rpc::Call &call);
    void answer(const QByteArray &reply);
    // What device_abort on the abort channel does to the call held for
    // link `lid`: answer it with `reply`.
    void abortable(qint32 lid, quint32 xid, const QByteArray &reply);
    void createLink(const Vxi11Rpc::Call &call);
    void write(const Vxi11Rpc::Call &call);
    void readAnswer(quint32 xid, qint32 lid, quint32 most, int stop, quint32 ms);
    void lock(const Vxi11Rpc::Call &call);
    void interrupt(Vxi11Link *link, int statusByte);
    Vxi11Link *linkOf(qint32 id) const;

    ClientConnection *m_Connection;
    Vxi11Server &m_Server;
    const bool m_Abort;
    const QString m_Peer;
    Vxi11Rpc m_Rpc;
    bool m_Waiting = false; // a call is held
    quint32 m_Xid = 0;
    QTimer *m_Timer = nullptr;
    QList<QPointer<Vxi11Link>> m_Links;
    QTcpSocket *m_Interrupt = nullptr;
    quint32 m_InterruptXid = 1;
};

#endif // VXI11CHANNEL_H
