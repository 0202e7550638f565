#include "daemon/auditlog.h"

#include "store/safetext.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QTimer>

#include <cstdio>

namespace {

struct Window {
    QElapsedTimer since;
    int logged = 0;
    int held = 0; // counted, not logged
};

QHash<QString, Window> g_Windows; // by client

void write(const QString &line)
{
    std::fprintf(stderr, "rfcardd: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

// Ends a client's window: what was held back is summed up.
void close(const QString &key)
{
    const Window w = g_Windows.take(key);
    if (w.held > 0)
        write(QStringLiteral("%1: %2 more refused in %3 s, not logged one by one")
                  .arg(AuditLog::field(key))
                  .arg(w.held)
                  .arg(AuditLog::WindowMs / 1000));
}

} // namespace

void AuditLog::say(const QString &line)
{
    write(SafeText::printable(line));
}

QString AuditLog::field(const QString &text)
{
    const QString shown = SafeText::printable(text);
    return shown.size() > MaxField ? shown.left(MaxField - 3) + QStringLiteral("...") : shown;
}

void AuditLog::setStarted(const QString &client, const QString &model, const QString &what)
{
    write(QStringLiteral("%1: %2 %3: sent to the card").arg(field(client), model, field(what)));
}

void AuditLog::setDone(const QString &client, const QString &model, const QString &what, int code,
    const QString &detail)
{
    // Hardware errors and a card that does not hold the value are the card's.
    const QString outcome = code == 0                  ? QStringLiteral("verified")
        : code == -240 || code == -241 || code == -300 ? QStringLiteral("card fault")
                                                       : QStringLiteral("refused");
    QString line = QStringLiteral("%1: %2 %3: %4").arg(field(client), model, field(what), outcome);
    if (code)
        line += QStringLiteral(" (%1, %2)").arg(code).arg(field(detail));
    write(line);
}

void AuditLog::flush()
{
    for (const QString &key : g_Windows.keys())
        close(key);
}

void AuditLog::refused(const QString &key, const QString &line)
{
    Window &w = g_Windows[key];
    if (!w.since.isValid()) {
        w.since.start();
        // The window's end is told even when the client has stopped.
        if (QCoreApplication::instance())
            QTimer::singleShot(WindowMs, QCoreApplication::instance(), [key] { close(key); });
    }
    if (w.logged < Burst) {
        ++w.logged;
        write(SafeText::printable(line));
    } else {
        ++w.held;
    }
}
