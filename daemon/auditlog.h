#ifndef AUDITLOG_H
#define AUDITLOG_H

#include <QString>

// The service's log, on standard error (the journal, under systemd): when
// the port opens, and every set a client asked for, with who asked.
//
// It is an audit, so nobody may forge or drown it. Every line is made
// printable (a client's bytes cannot start a line of their own) and every
// field a client chose is cut at MaxField characters with "...", so a line
// stays far below the length at which the journal would split it. A set is
// logged before it is sent to the card and again with its outcome: one the
// service was killed in the middle of is still on record. Sets the card
// never saw (refused, from clients that flood) are logged one by one up to
// Burst in Window per client; past that they are counted and summed up
// when the window ends ("127.0.0.1: 5000 more refused in 10 s").
class AuditLog {
public:
    static constexpr int MaxField = 120;
    static constexpr int Burst = 20;
    static constexpr int WindowMs = 10000;

    // A line of the service's own.
    static void say(const QString &line);
    // A client's text as a field of a line: printable, cut with a mark.
    static QString field(const QString &text);
    // A set about to reach the card (any thread).
    static void setStarted(const QString &client, const QString &model, const QString &what);
    // Its outcome: 0 made and read back, else the SCPI error.
    static void setDone(const QString &client, const QString &model, const QString &what, int code,
        const QString &detail);
    // Something of a client's refused before the card was asked (the main
    // thread): `key` is whom the rate counts (ScpiSession::Client::key).
    static void refused(const QString &key, const QString &line);
    // Sums up every window still open (the service stops).
    static void flush();
};

#endif // AUDITLOG_H
