#ifndef HISLIPSERVER_H
#define HISLIPSERVER_H

#include "daemon/cardlocks.h"
#include "daemon/cardservice.h"
#include "daemon/hislipsession.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>

class ClientConnection;
class TcpListener;

// The card as a HiSLIP server (TCP port 4880 by convention): a connection's
// first message says what it is. Initialize opens a session for the card
// its sub-address names ("hislip0", or the card's name NAME, as "hislip_NAME"
// so that VISA resource names choose HiSLIP for it) and answers with
// the session's ID; AsyncInitialize with that ID joins the session as its
// asynchronous channel. Anything else, or nothing within 10 s, ends the
// connection. At most MaxSessions sessions at once.
class HislipServer : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxSessions = 64;

    HislipServer(
        CardService &card, CardLocks &locks, const QString &name, QObject *parent = nullptr);

    void setUnavailable(const QString &why) { m_Unavailable = why; }
    bool listen(const QHostAddress &address, quint16 port, QString *bound, QString *error);
    bool adopt(qintptr fd, QString *error);
    // A connection, accepted here or handed on by the host's front, which
    // gives the card's place among the host's cards: the high byte of the
    // IDs of this card's sessions, by which the front finds the card of an
    // asynchronous channel.
    void accept(qintptr socket, quint8 place = 0);

private:
    void first(ClientConnection *connection, const QString &peer, quint8 place);
    void open(ClientConnection *connection, const QString &peer, const QByteArray &subAddress,
        quint8 place);
    void serve(TcpListener *listener);

    CardService &m_Card;
    CardLocks &m_Locks;
    const QString m_Name;
    QString m_Unavailable;
    QHash<quint16, HislipSession *> m_Sessions;
    quint16 m_NextId = 1;
};

#endif // HISLIPSERVER_H
