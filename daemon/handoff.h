#ifndef HANDOFF_H
#define HANDOFF_H

#include <QByteArray>
#include <QString>

// A client's connection handed from the host's front to the card's service
// (the front listens on the ports of the instrument protocols for every card
// of the host, and passes each connection on to the card it asks for): the
// descriptor itself, over a Unix-domain socket of the card's that only the
// service's user and root may reach (SCM_RIGHTS), with a few bytes that say
// what it is. The service reads the rest of the connection as if it had
// accepted it. POSIX only: on Windows rfcardd serves its card itself.
class Handoff {
public:
    // Sends `socket` (which stays the caller's to close) and `tag` to the
    // card listening at `path`.
    static bool send(const QString &path, qintptr socket, const QByteArray &tag, QString *error);
    // The descriptor and tag waiting on `connection` (a connection to the
    // card's handoff socket): -1 when none could be read.
    static qintptr receive(qintptr connection, QByteArray *tag);
    // The first bytes a client sent, left in place for whoever reads next.
    static QByteArray peek(qintptr socket, int most);
    static void close(qintptr socket);
};

#endif // HANDOFF_H
