#ifndef LOCALLISTENER_H
#define LOCALLISTENER_H

#include <QLocalServer>

// A Unix-domain socket's listener that hands each connection on as the
// socket the system made, for a ClientConnection to read and write itself.
// On Windows, where the name is a named pipe's, connections come as Qt's
// own sockets (newConnection, nextPendingConnection).
class LocalListener : public QLocalServer {
    Q_OBJECT

public:
    using QLocalServer::QLocalServer;

signals:
    void accepted(qintptr socket);

protected:
#ifndef Q_OS_WIN
    void incomingConnection(quintptr socket) override;
#endif
};

#endif // LOCALLISTENER_H
