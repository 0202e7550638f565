#ifndef TCPLISTENER_H
#define TCPLISTENER_H

#include <QHostAddress>
#include <QTcpServer>

// A TCP listener that hands each connection on as the socket the system
// made, for a ClientConnection to read and write itself.
class TcpListener : public QTcpServer {
    Q_OBJECT

public:
    using QTcpServer::QTcpServer;

    // A listener on address:port (port 0: one the system picks), or null
    // with the reason in *error; *bound says where it listens.
    static TcpListener *open(
        const QHostAddress &address, quint16 port, QObject *parent, QString *bound, QString *error);
    // A listener on a socket that was handed over (by systemd), or null
    // with the reason in *error.
    static TcpListener *adopt(qintptr fd, QObject *parent, QString *error);

    // An address and port as the log and the audit write them ([a]:p for
    // IPv6).
    static QString endpoint(const QHostAddress &address, quint16 port);
    // The client of an accepted socket; an IPv4 client of a dual-stack
    // listener is the same client as on an IPv4 one.
    static QHostAddress client(qintptr socket, quint16 *port);

signals:
    void accepted(qintptr socket);

protected:
    void incomingConnection(qintptr socket) override;
};

#endif // TCPLISTENER_H
