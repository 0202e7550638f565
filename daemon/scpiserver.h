#ifndef SCPISERVER_H
#define SCPISERVER_H

#include "daemon/cardlocks.h"
#include "daemon/cardservice.h"
#include "daemon/scpisession.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

class ClientConnection;
class LocalListener;
class RawSession;
class TcpListener;

// The listeners of one card's instrument: TCP, and Unix-domain sockets (named
// pipes on Windows), all speaking the same protocol, each connection a
// session of its own on the one card. A read-only listener's sessions answer
// queries and refuse every set.
//
// Room is shared fairly. Connections are counted per client (a uid on a
// Unix-domain socket, an address on TCP), and no client holds more than
// perClient of them (a new one past that is closed at once); root's and the
// service user's own are never refused. TCP and Unix-domain connections have
// MaxSessions places each, so that clients from the network can never take
// the room of the local ones. When a kind's places are all taken, the
// longest-idle connection of the client holding the most is closed (cleanly,
// once its message in progress is made) to make room for the new one: a
// crowd of idle connections shuts nobody out.
class ScpiServer : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxSessions = 64;
    static constexpr int DefaultPerClient = 8;

    ScpiServer(CardService &card, CardLocks &locks, QObject *parent = nullptr);

    void setPerClient(int count) { m_PerClient = count; }
    // Why the card cannot be served at all (a configuration that is
    // wrong): every command that needs the card fails with it (-241).
    void setUnavailable(const QString &why) { m_Unavailable = why; }
    // Listens; the address actually bound (a port of 0 gets one from the
    // system) is told by `bound`.
    bool listenTcp(
        const QHostAddress &address, quint16 port, bool readOnly, QString *bound, QString *error);
    bool listenLocal(const QString &path, bool readOnly, QString *error);
    // Serves a socket a service manager made and passed on (ListenFds).
    bool adopt(qintptr fd, bool local, const QString &address, bool readOnly, QString *error);

private:
    enum Kind { Tcp, Local };
    void serve(TcpListener *listener, bool readOnly);
    void serve(LocalListener *listener, const QString &path, bool readOnly);
    void start(
        Kind kind, ClientConnection *connection, const ScpiSession::Client &client, bool readOnly);
    void makeRoom(Kind kind);

    CardService &m_Card;
    CardLocks &m_Locks;
    int m_PerClient = DefaultPerClient;
    QString m_Unavailable;
    QList<RawSession *> m_Sessions[2]; // by Kind
};

#endif // SCPISERVER_H
