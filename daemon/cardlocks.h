#ifndef CARDLOCKS_H
#define CARDLOCKS_H

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>

// The card's locks, as the LAN instrument protocols take them (VXI-11's
// device_lock, HiSLIP's exclusive and shared locks): one exclusive holder,
// or the holders of one shared lock, named by its key. A lock holds against
// every client of the card, whatever it speaks: while another holds it, a
// client's commands that need the card wait, up to that client's lock
// time-out. A lock dies with the client that holds it.
//
// Clients are the sessions (any QObject); a session that is destroyed lets
// go of its locks and stops waiting.
class CardLocks : public QObject {
    Q_OBJECT

public:
    using Granted = std::function<void(bool granted)>;

    // Whether `session` may use the card now.
    bool mayUse(const QObject *session) const;
    // Takes the exclusive lock, or the shared lock of `key` (non-empty),
    // at once or when it comes free within `timeoutMs`; `done` is called
    // either way, on the main thread. A session holds one lock at a time.
    void acquire(QObject *session, const QString &key, int timeoutMs, Granted done);
    // Waits (up to `timeoutMs`) until `session` may use the card.
    void waitForUse(QObject *session, int timeoutMs, Granted done);
    // Lets go of the session's lock: false when it held none.
    bool release(QObject *session);
    bool holdsExclusive(const QObject *session) const { return m_Exclusive == session; }
    bool exclusiveHeld() const { return m_Exclusive != nullptr; }
    // How long a client's command waits for a lock another holds, unless
    // its protocol says (VXI-11's lock time-out): 10 s unless set.
    int waitMs() const { return m_WaitMs; }
    void setWaitMs(int ms) { m_WaitMs = ms; }
    bool holds(const QObject *session) const;
    int holders() const;
    // Who holds the lock that keeps `session` from the card ("uid 1000
    // (alice) through HiSLIP"), from the name each holder was given.
    QString holderOf(const QObject *session) const;
    void setName(QObject *session, const QString &name) { m_Names.insert(session, name); }

private:
    struct Waiter {
        QPointer<QObject> session;
        QString key; // a lock's key; null: only to use the card
        bool lock = false;
        Granted done;
        int timer = 0;
    };
    bool grantable(const QObject *session, bool lock, const QString &key) const;
    void grant(const Waiter &w);
    void forget(QObject *session);
    void wake();
    void timerEvent(QTimerEvent *event) override;
    void watch(QObject *session);

    const QObject *m_Exclusive = nullptr;
    QString m_SharedKey;
    QSet<const QObject *> m_Shared;
    QHash<const QObject *, QString> m_Names;
    QList<Waiter> m_Waiters;
    QSet<const QObject *> m_Watched;
    int m_WaitMs = 10000;
};

#endif // CARDLOCKS_H
