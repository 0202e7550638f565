#include "daemon/scpiserver.h"

#include "daemon/auditlog.h"
#include "daemon/clientconnection.h"
#include "daemon/locallistener.h"
#include "daemon/localsocketpath.h"
#include "daemon/rawsession.h"
#include "daemon/tcplistener.h"

#include <QHash>
#include <QLocalSocket>

ScpiServer::ScpiServer(CardService &card, CardLocks &locks, QObject *parent)
    : QObject(parent)
    , m_Card(card)
    , m_Locks(locks)
{
}

bool ScpiServer::listenTcp(
    const QHostAddress &address, quint16 port, bool readOnly, QString *bound, QString *error)
{
    auto *listener = TcpListener::open(address, port, this, bound, error);
    if (!listener)
        return false;
    serve(listener, readOnly);
    return true;
}

bool ScpiServer::listenLocal(const QString &path, bool readOnly, QString *error)
{
    if (!LocalSocketPath::claim(path, error))
        return false;
    auto *listener = new LocalListener(this);
    if (!listener->listen(path)) {
        *error = listener->errorString();
        delete listener;
        return false;
    }
    serve(listener, path, readOnly);
    return true;
}

bool ScpiServer::adopt(
    qintptr fd, bool local, const QString &address, bool readOnly, QString *error)
{
    if (local) {
        auto *listener = new LocalListener(this);
        if (!listener->listen(fd)) {
            *error = listener->errorString();
            delete listener;
            return false;
        }
        serve(listener, address, readOnly);
        return true;
    }
    auto *listener = TcpListener::adopt(fd, this, error);
    if (!listener)
        return false;
    serve(listener, readOnly);
    return true;
}

void ScpiServer::serve(TcpListener *listener, bool readOnly)
{
    connect(listener, &TcpListener::accepted, this, [this, readOnly](qintptr socket) {
        quint16 port = 0;
        const QHostAddress client = TcpListener::client(socket, &port);
        start(Tcp, new ClientConnection(socket, RawSession::MaxMessage),
            {client.toString(), TcpListener::endpoint(client, port), false}, readOnly);
    });
}

void ScpiServer::serve(LocalListener *listener, const QString &path, bool readOnly)
{
    connect(listener, &LocalListener::accepted, this, [this, path, readOnly](qintptr socket) {
        const qint64 uid = LocalSocketPath::peerUid(socket);
        const QString key = uid < 0 ? QStringLiteral("uid ?") : QStringLiteral("uid %1").arg(uid);
        start(Local, new ClientConnection(socket, RawSession::MaxMessage),
            {key, LocalSocketPath::peer(socket, path),
                uid >= 0 && LocalSocketPath::privileged(uid)},
            readOnly);
    });
    // Named pipes (Windows) come as Qt's own sockets.
    connect(listener, &QLocalServer::newConnection, this, [this, listener, path, readOnly] {
        while (QLocalSocket *socket = listener->nextPendingConnection())
            start(Local, new ClientConnection(socket, RawSession::MaxMessage),
                {QStringLiteral("pipe"), path, false}, readOnly);
    });
}

void ScpiServer::start(
    Kind kind, ClientConnection *connection, const ScpiSession::Client &client, bool readOnly)
{
    QList<RawSession *> &sessions = m_Sessions[kind];
    int held = 0;
    for (const RawSession *s : qAsConst(sessions))
        held += s->client().key == client.key;
    if (!client.privileged && held >= m_PerClient) {
        AuditLog::refused(client.key,
            QStringLiteral("%1: connection refused: that client has %2 open")
                .arg(AuditLog::field(client.name))
                .arg(held));
        connect(connection, &ClientConnection::closed, connection, &QObject::deleteLater);
        connection->finish();
        return;
    }
    if (sessions.size() >= MaxSessions)
        makeRoom(kind);
    auto *engine = new ScpiSession(client, readOnly, m_Card, m_Locks);
    engine->setUnavailable(m_Unavailable);
    auto *session = new RawSession(connection, engine, this);
    sessions << session;
    connect(session, &RawSession::finished, this, [this, kind, session] {
        m_Sessions[kind].removeOne(session);
        session->deleteLater();
    });
}

void ScpiServer::makeRoom(Kind kind)
{
    QList<RawSession *> &sessions = m_Sessions[kind];
    QHash<QString, int> held;
    QString most;
    for (const RawSession *s : qAsConst(sessions)) {
        const int n = ++held[s->client().key];
        if (n > held.value(most))
            most = s->client().key;
    }
    RawSession *idlest = nullptr;
    for (RawSession *s : qAsConst(sessions)) {
        if (s->client().key == most && (!idlest || s->idleMs() > idlest->idleMs()))
            idlest = s;
    }
    if (!idlest)
        return;
    AuditLog::refused(idlest->client().key,
        QStringLiteral("%1: connection closed to make room (%2 are open, %3 of them this "
                       "client's)")
            .arg(AuditLog::field(idlest->client().name))
            .arg(sessions.size())
            .arg(held.value(most)));
    sessions.removeOne(idlest); // its place is the new one's from now
    idlest->evict();
}
