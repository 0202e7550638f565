#ifndef FRONTSERVER_H
#define FRONTSERVER_H

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

class TcpListener;

// The host's front: the one listener of each LAN instrument protocol for
// every card of the host (HiSLIP on 4880; VXI-11's core channel, which the
// host's rpcbind names), each card being its own rfcardd. It reads nothing
// of a client's connection: it looks at its first message where it waits
// (HiSLIP's Initialize or AsyncInitialize, VXI-11's create_link), finds
// the card it asks for by name ("hislip0" and "inst0" are the default
// card), and hands the connection itself on to that card's service
// (Handoff), which then serves it as if it had accepted it.
//
// The cards are the handoff sockets in one folder (NAME.handoff); a HiSLIP
// session's ID carries its card's place among them, so that its
// asynchronous channel finds the same card.
class FrontServer : public QObject {
    Q_OBJECT

public:
    FrontServer(const QString &cards, const QString &defaultCard, QObject *parent = nullptr);

    enum Protocol { Hislip, Vxi11 };
    bool listen(Protocol protocol, const QHostAddress &address, quint16 port, QString *bound,
        QString *error);
    bool adopt(Protocol protocol, qintptr fd, QString *error);
    // The cards there are now, by name.
    QStringList cards() const;
    // The card a client asked for: the name as it stands, else the one that
    // differs only in case (a VISA resource string is read without case);
    // "" when none.
    QString cardNamed(const QString &asked) const;
    // The port the front serves a protocol on (0: none).
    quint16 port(Protocol protocol) const { return m_Ports[protocol]; }

private:
    void serve(Protocol protocol, TcpListener *listener);
    void wait(Protocol protocol, qintptr socket);
    // -1: wait for more; 0: done with the socket (handed on or refused).
    int route(Protocol protocol, qintptr socket, bool last);
    bool handOn(qintptr socket, const QString &card, char protocol, QString *error);

    const QString m_Cards;
    const QString m_Default;
    quint16 m_Ports[2] = {0, 0};
};

#endif // FRONTSERVER_H
