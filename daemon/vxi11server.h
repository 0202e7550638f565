#ifndef VXI11SERVER_H
#define VXI11SERVER_H

#include "daemon/cardlocks.h"
#include "daemon/cardservice.h"
#include "daemon/vxi11link.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

class TcpListener;

// The card as a VXI-11 instrument (the TCP/IP Instrument Protocol, on ONC
// RPC): core channel connections, accepted here or handed on by the host's
// front, each with its links (create_link names "inst0", the host's
// default card, or the card's own name); an abort channel per local
// address, whose port create_link gives; and, per connection, the
// interrupt channel a client may open to hear service requests. Links are
// numbered across all connections, as device_abort names them on another.
class Vxi11Server : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxLinks = 64;

    Vxi11Server(
        CardService &card, CardLocks &locks, const QString &name, QObject *parent = nullptr);

    void setUnavailable(const QString &why) { m_Unavailable = why; }
    // A core channel listener of its own (a card served without a front).
    bool listen(const QHostAddress &address, quint16 port, QString *bound, QString *error);
    // A core channel connection.
    void accept(qintptr socket);

    // For the connections: a new link for `device` from `client`; null
    // when the name is none of this card's, or there are too many.
    Vxi11Link *link(const QString &device, const QString &client, QObject *owner, int *error);
    Vxi11Link *find(qint32 id) const { return m_Links.value(id); }
    // The abort channel's port on `local`, the address a core channel came in on.
    quint16 abortPort(const QHostAddress &local);
    CardLocks &locks() { return m_Locks; }
    // What device_abort does to a call held on a link: `abort`, once.
    using Abort = std::function<void()>;
    void setAbort(qint32 id, Abort abort) { m_Aborts.insert(id, std::move(abort)); }
    void abort(qint32 id);

private:
    void channel(qintptr socket, bool abort);

    CardService &m_Card;
    CardLocks &m_Locks;
    const QString m_Name;
    QString m_Unavailable;
    QHash<qint32, Vxi11Link *> m_Links;
    QHash<qint32, Abort> m_Aborts;
    QHash<QString, TcpListener *> m_AbortListeners; // by local address
    qint32 m_NextId = 1;
};

#endif // VXI11SERVER_H
