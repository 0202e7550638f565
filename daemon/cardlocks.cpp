#include "daemon/cardlocks.h"

#include <QTimerEvent>

bool CardLocks::mayUse(const QObject *session) const
{
    if (m_Exclusive)
        return m_Exclusive == session;
    return m_Shared.isEmpty() || m_Shared.contains(session);
}

bool CardLocks::holds(const QObject *session) const
{
    return m_Exclusive == session || m_Shared.contains(session);
}

int CardLocks::holders() const
{
    QSet<const QObject *> all = m_Shared;
    if (m_Exclusive)
        all.insert(m_Exclusive);
    return int(all.size());
}

QString CardLocks::holderOf(const QObject *session) const
{
    if (m_Exclusive && m_Exclusive != session)
        return m_Names.value(m_Exclusive);
    for (const QObject *s : m_Shared) {
        if (s != session)
            return m_Names.value(s) + QStringLiteral(" (a shared lock)");
    }
    return QString();
}

bool CardLocks::grantable(const QObject *session, bool lock, const QString &key) const
{
    if (!lock)
        return mayUse(session);
    if (m_Exclusive && m_Exclusive != session)
        return false;
    if (key.isEmpty()) // exclusive: nobody else may hold a lock
        return m_Shared.isEmpty() || (m_Shared.size() == 1 && m_Shared.contains(session));
    return m_Shared.isEmpty() || m_SharedKey == key;
}

void CardLocks::grant(const Waiter &w)
{
    QObject *session = w.session.data();
    if (w.lock) {
        if (w.key.isEmpty()) {
            m_Exclusive = session;
        } else {
            m_SharedKey = w.key;
            m_Shared.insert(session);
        }
    }
    w.done(true);
}

void CardLocks::watch(QObject *session)
{
    if (m_Watched.contains(session))
        return;
    m_Watched.insert(session);
    // The lock dies with its holder.
    connect(session, &QObject::destroyed, this, [this, session] { forget(session); });
}

void CardLocks::acquire(QObject *session, const QString &key, int timeoutMs, Granted done)
{
    watch(session);
    Waiter w{session, key.isNull() ? QLatin1String("") : key, true, std::move(done), 0};
    if (grantable(session, true, w.key))
        return grant(w);
    if (timeoutMs <= 0)
        return w.done(false);
    w.timer = startTimer(timeoutMs);
    m_Waiters << w;
}

void CardLocks::waitForUse(QObject *session, int timeoutMs, Granted done)
{
    watch(session);
    Waiter w{session, QString(), false, std::move(done), 0};
    if (grantable(session, false, w.key))
        return grant(w);
    if (timeoutMs <= 0)
        return w.done(false);
    w.timer = startTimer(timeoutMs);
    m_Waiters << w;
}

bool CardLocks::release(QObject *session)
{
    bool held = false;
    if (m_Exclusive == session) {
        m_Exclusive = nullptr;
        held = true;
    } else if (m_Shared.remove(session)) {
        held = true;
        if (m_Shared.isEmpty())
            m_SharedKey.clear();
    }
    if (held)
        wake();
    return held;
}

void CardLocks::forget(QObject *session)
{
    m_Watched.remove(session);
    m_Names.remove(session);
    for (int i = int(m_Waiters.size()) - 1; i >= 0; --i) {
        if (!m_Waiters.at(i).session) {
            killTimer(m_Waiters.at(i).timer);
            m_Waiters.removeAt(i);
        }
    }
    release(session);
}

void CardLocks::wake()
{
    // In the order they came; one grant can make the next impossible.
    for (int i = 0; i < m_Waiters.size();) {
        const Waiter w = m_Waiters.at(i);
        if (w.session && grantable(w.session, w.lock, w.key)) {
            killTimer(w.timer);
            m_Waiters.removeAt(i);
            grant(w);
            i = 0;
        } else {
            ++i;
        }
    }
}

void CardLocks::timerEvent(QTimerEvent *event)
{
    for (int i = 0; i < m_Waiters.size(); ++i) {
        if (m_Waiters.at(i).timer != event->timerId())
            continue;
        const Waiter w = m_Waiters.takeAt(i);
        killTimer(w.timer);
        if (w.session)
            w.done(false);
        return;
    }
}
