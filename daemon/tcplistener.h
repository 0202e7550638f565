#ifndef TCPLISTENER_H
#define TCPLISTENER_H

#include <QTcpServer>

// A TCP listener that hands each connection on as the socket the system
// made, for a ClientConnection to read and write itself.
class TcpListener : public QTcpServer {
    Q_OBJECT

public:
    using QTcpServer::QTcpServer;

signals:
    void accepted(qintptr socket);

protected:
    void incomingConnection(qintptr socket) override;
};

#endif // TCPLISTENER_H
