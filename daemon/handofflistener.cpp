#include "daemon/handofflistener.h"

#include "daemon/auditlog.h"
#include "daemon/handoff.h"
#include "daemon/locallistener.h"
#include "daemon/localsocketpath.h"

#include <QSocketNotifier>
#include <QTimer>

HandoffListener::HandoffListener(QObject *parent)
    : QObject(parent)
{
}

bool HandoffListener::listen(const QString &path, QString *error)
{
    if (!LocalSocketPath::claim(path, error))
        return false;
    auto *listener = new LocalListener(this);
    // The service's own user, and root, only.
    listener->setSocketOptions(QLocalServer::UserAccessOption);
    if (!listener->listen(path)) {
        *error = listener->errorString();
        delete listener;
        return false;
    }
    serve(listener);
    return true;
}

bool HandoffListener::adopt(qintptr fd, QString *error)
{
    auto *listener = new LocalListener(this);
    if (!listener->listen(fd)) {
        *error = listener->errorString();
        delete listener;
        return false;
    }
    serve(listener);
    return true;
}

void HandoffListener::serve(LocalListener *listener)
{
    connect(listener, &LocalListener::accepted, this, &HandoffListener::take);
}

void HandoffListener::take(qintptr connection)
{
    const qint64 uid = LocalSocketPath::peerUid(connection);
    if (uid < 0 || !LocalSocketPath::privileged(uid)) {
        AuditLog::say(QStringLiteral("a handoff from uid %1 refused: only root and the service's "
                                     "user speak for other clients")
                          .arg(uid));
        Handoff::close(connection);
        return;
    }
    // The front writes at once; what has not come within 5 s never will.
    auto *notifier = new QSocketNotifier(connection, QSocketNotifier::Read, this);
    auto *timer = new QTimer(notifier);
    timer->setSingleShot(true);
    const auto done = [notifier, connection] {
        Handoff::close(connection);
        notifier->deleteLater();
    };
    connect(timer, &QTimer::timeout, notifier, done);
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier, connection, done] {
        notifier->setEnabled(false);
        QByteArray tag;
        const qintptr socket = Handoff::receive(connection, &tag);
        done();
        if (socket >= 0)
            emit received(socket, tag);
    });
    timer->start(5000);
}
