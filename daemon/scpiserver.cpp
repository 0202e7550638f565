#include "daemon/scpiserver.h"

#include "daemon/localsocketpath.h"
#include "daemon/scpisession.h"
#include "store/safetext.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

namespace {

QString endpoint(const QHostAddress &address, quint16 port)
{
    return (address.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]:%2")
                                                                : QStringLiteral("%1:%2"))
        .arg(address.toString())
        .arg(port);
}

} // namespace

ScpiServer::ScpiServer(CardService &card, QObject *parent)
    : QObject(parent)
    , m_Card(card)
{
}

bool ScpiServer::listenTcp(
    const QHostAddress &address, quint16 port, bool readOnly, QString *bound, QString *error)
{
    auto *server = new QTcpServer(this);
    if (!server->listen(address, port)) {
        *error = server->errorString();
        delete server;
        return false;
    }
    *bound = endpoint(server->serverAddress(), server->serverPort());
    serve(server, readOnly);
    return true;
}

bool ScpiServer::listenLocal(const QString &path, bool readOnly, QString *error)
{
    if (!LocalSocketPath::claim(path, error))
        return false;
    auto *server = new QLocalServer(this);
    if (!server->listen(path)) {
        *error = server->errorString();
        delete server;
        return false;
    }
    serve(server, path, readOnly);
    return true;
}

bool ScpiServer::adopt(
    qintptr fd, bool local, const QString &address, bool readOnly, QString *error)
{
    if (local) {
        auto *server = new QLocalServer(this);
        if (!server->listen(fd)) {
            *error = server->errorString();
            delete server;
            return false;
        }
        serve(server, address, readOnly);
        return true;
    }
    auto *server = new QTcpServer(this);
    if (!server->setSocketDescriptor(fd)) {
        *error = server->errorString();
        delete server;
        return false;
    }
    serve(server, readOnly);
    return true;
}

void ScpiServer::serve(QTcpServer *server, bool readOnly)
{
    connect(server, &QTcpServer::newConnection, this, [this, server, readOnly] {
        while (QTcpSocket *socket = server->nextPendingConnection())
            start(socket, endpoint(socket->peerAddress(), socket->peerPort()), readOnly);
    });
}

void ScpiServer::serve(QLocalServer *server, const QString &path, bool readOnly)
{
    connect(server, &QLocalServer::newConnection, this, [this, server, path, readOnly] {
        while (QLocalSocket *socket = server->nextPendingConnection())
            start(socket, LocalSocketPath::peer(socket->socketDescriptor(), path), readOnly);
    });
}

void ScpiServer::start(QIODevice *connection, const QString &peer, bool readOnly)
{
    // A crowd of idle connections costs a descriptor each; past the limit
    // a new one is closed at once.
    if (m_Sessions >= MaxSessions) {
        std::fprintf(stderr, "rfcardd: %s refused: %d connections are open\n",
            qPrintable(SafeText::printable(peer)), m_Sessions);
        connection->close();
        connection->deleteLater();
        return;
    }
    ++m_Sessions;
    auto *session = new ScpiSession(connection, peer, readOnly, m_Card, this);
    connect(session, &ScpiSession::finished, this, [this, session] {
        --m_Sessions;
        session->deleteLater();
    });
}
