#include "daemon/scpiserver.h"

#include "daemon/localsocketpath.h"
#include "daemon/scpisession.h"
#include "store/safetext.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

ScpiServer::ScpiServer(CardService &card, QObject *parent)
    : QObject(parent)
    , m_Card(card)
{
}

bool ScpiServer::listenTcp(
    const QHostAddress &address, quint16 port, QString *bound, QString *error)
{
    auto *server = new QTcpServer(this);
    if (!server->listen(address, port)) {
        *error = server->errorString();
        delete server;
        return false;
    }
    const QHostAddress a = server->serverAddress();
    *bound = (a.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]:%2")
                                                            : QStringLiteral("%1:%2"))
                 .arg(a.toString())
                 .arg(server->serverPort());
    connect(server, &QTcpServer::newConnection, this, [this, server] {
        while (QTcpSocket *socket = server->nextPendingConnection()) {
            const QHostAddress peer = socket->peerAddress();
            adopt(socket,
                (peer.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]:%2")
                                                                  : QStringLiteral("%1:%2"))
                    .arg(peer.toString())
                    .arg(socket->peerPort()));
        }
    });
    return true;
}

bool ScpiServer::listenLocal(const QString &path, QString *error)
{
    if (!LocalSocketPath::claim(path, error))
        return false;
    auto *server = new QLocalServer(this);
    if (!server->listen(path)) {
        *error = server->errorString();
        delete server;
        return false;
    }
    connect(server, &QLocalServer::newConnection, this, [this, server, path] {
        while (QLocalSocket *socket = server->nextPendingConnection())
            adopt(socket, LocalSocketPath::peer(socket->socketDescriptor(), path));
    });
    return true;
}

void ScpiServer::adopt(QIODevice *connection, const QString &peer)
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
    auto *session = new ScpiSession(connection, peer, m_Card, this);
    connect(session, &ScpiSession::finished, this, [this, session] {
        --m_Sessions;
        session->deleteLater();
    });
}
