#ifndef SCPISERVER_H
#define SCPISERVER_H

#include "daemon/cardservice.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

class QLocalServer;
class QTcpServer;

// The listeners of one card's instrument: TCP, and Unix-domain sockets (named
// pipes on Windows), all speaking the same protocol, each connection a
// session of its own on the one card. A read-only listener's sessions answer
// queries and refuse every set.
class ScpiServer : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxSessions = 64;

    explicit ScpiServer(CardService &card, QObject *parent = nullptr);

    // Listens; the address actually bound (a port of 0 gets one from the
    // system) is told by `bound`.
    bool listenTcp(
        const QHostAddress &address, quint16 port, bool readOnly, QString *bound, QString *error);
    bool listenLocal(const QString &path, bool readOnly, QString *error);
    // Serves a socket a service manager made and passed on (ListenFds).
    bool adopt(qintptr fd, bool local, const QString &address, bool readOnly, QString *error);

private:
    void serve(QTcpServer *server, bool readOnly);
    void serve(QLocalServer *server, const QString &path, bool readOnly);
    void start(QIODevice *connection, const QString &peer, bool readOnly);

    CardService &m_Card;
    int m_Sessions = 0;
};

#endif // SCPISERVER_H
