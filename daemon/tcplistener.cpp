#include "daemon/tcplistener.h"

#include "daemon/nativesocket.h"

TcpListener *TcpListener::open(
    const QHostAddress &address, quint16 port, QObject *parent, QString *bound, QString *error)
{
    auto *listener = new TcpListener(parent);
    if (!listener->listen(address, port)) {
        *error = listener->errorString();
        delete listener;
        return nullptr;
    }
    *bound = endpoint(listener->serverAddress(), listener->serverPort());
    return listener;
}

TcpListener *TcpListener::adopt(qintptr fd, QObject *parent, QString *error)
{
    auto *listener = new TcpListener(parent);
    if (!listener->setSocketDescriptor(fd)) {
        *error = listener->errorString();
        delete listener;
        return nullptr;
    }
    return listener;
}

QString TcpListener::endpoint(const QHostAddress &address, quint16 port)
{
    return (address.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]:%2")
                                                                : QStringLiteral("%1:%2"))
        .arg(address.toString())
        .arg(port);
}

QHostAddress TcpListener::client(qintptr socket, quint16 *port)
{
    const QHostAddress address = NativeSocket::peerAddress(socket, port);
    bool v4 = false;
    const QHostAddress plain(address.toIPv4Address(&v4));
    return v4 ? plain : address;
}

void TcpListener::incomingConnection(qintptr socket)
{
    emit accepted(socket);
}
