#ifndef RAWSESSION_H
#define RAWSESSION_H

#include "daemon/clientconnection.h"
#include "daemon/scpisession.h"

#include <QObject>

// A raw socket's instrument (TCP, as on port 5025, or a Unix-domain
// socket): one program message per line, the response as a line.
//
// A message is made only once its line end has come: a last line without
// one when the client goes away is dropped and logged, so that a client
// killed half-way through "CHAN2:FREQ 1500" never sets 150 MHz. The client's
// end of sending is not its going: what it sent is made and answered, then
// the connection is closed. A client that has gone altogether still has its
// complete messages made, with nobody to answer.
//
// What a connection costs is bounded: a line is taken only when the one
// before is done (the connection reads at most MaxMessage ahead, past which
// the network holds the client back), and the session makes no further
// unit while more than ScpiSession::MaxUnsent bytes of its answers wait to
// be read. A line longer than MaxMessage ends the connection with -363.
class RawSession : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxMessage = 64 * 1024;

    // Takes the connection and the session.
    RawSession(ClientConnection *connection, ScpiSession *session, QObject *parent = nullptr);

    const ScpiSession::Client &client() const { return m_Session->client(); }
    qint64 idleMs() const { return m_Session->idleMs(); }
    // Closes the connection once the message in progress is made, to make
    // room for another client; the client sees a clean close.
    void evict();

signals:
    // The connection is closed.
    void finished();

private:
    void next();
    void finish();

    ClientConnection *m_Connection;
    ScpiSession *m_Session;
    bool m_Evicted = false;
    bool m_Ended = false;
};

#endif // RAWSESSION_H
