#include "daemon/hislipsession.h"

#include "daemon/auditlog.h"

#include <QPointer>
#include <QtEndian>

namespace {

using F = HislipFrame;

// AsyncLock: the control code of a request and of its answers.
enum { Release = 0, Request = 1 };
enum { LockFailed = 0, LockGranted = 1, SharedReleased = 2, LockError = 3 };

} // namespace

HislipSession::HislipSession(
    quint16 id, ClientConnection *sync, ScpiSession *engine, CardLocks &locks, QObject *parent)
    : QObject(parent)
    , m_Id(id)
    , m_Sync(sync)
    , m_Engine(engine)
    , m_Locks(locks)
{
    m_Sync->setParent(this);
    m_Engine->setParent(this);
    m_Engine->setBacklog([this] { return m_Response.size() + m_Sync->unsent(); });
    connect(m_Engine, &ScpiSession::output, this, &HislipSession::onOutput);
    connect(m_Engine, &ScpiSession::done, this, &HislipSession::next);
    connect(m_Engine, &ScpiSession::serviceRequest, this, [this](int stb) {
        if (m_Async)
            m_Async->write(F::build(F::AsyncServiceRequest, quint8(stb), 0));
    });
    connect(m_Sync, &ClientConnection::readable, this, &HislipSession::readSync);
    connect(m_Sync, &ClientConnection::written, m_Engine, &ScpiSession::resume);
    connect(m_Sync, &ClientConnection::closed, this, &HislipSession::close);
    readSync();
}

void HislipSession::attach(ClientConnection *async)
{
    m_Async = async;
    m_Async->setParent(this);
    connect(m_Async, &ClientConnection::readable, this, &HislipSession::readAsync);
    connect(m_Async, &ClientConnection::closed, this, &HislipSession::close);
    readAsync();
}

void HislipSession::readSync()
{
    while (!m_Closed && m_Waiting.size() < MaxWaiting) {
        F::Message m;
        int used = 0;
        const F::Parse p = F::parse(m_Sync->input(), MaxPayload, &m, &used);
        if (p == F::Parse::Incomplete) {
            if (m_Sync->inputEnded())
                close();
            return;
        }
        if (p != F::Parse::Complete)
            return fatal(p == F::Parse::TooLarge ? F::Unidentified : F::BadHeader,
                p == F::Parse::TooLarge ? QStringLiteral("a message over 64 KiB")
                                        : QStringLiteral("a header that is none"));
        m_Sync->consume(used);
        onSync(m);
    }
}

void HislipSession::readAsync()
{
    while (!m_Closed && m_Async) {
        F::Message m;
        int used = 0;
        const F::Parse p = F::parse(m_Async->input(), MaxPayload, &m, &used);
        if (p == F::Parse::Incomplete) {
            if (m_Async->inputEnded())
                close();
            return;
        }
        if (p != F::Parse::Complete)
            return fatal(F::BadHeader, QStringLiteral("a header that is none"));
        m_Async->consume(used);
        onAsync(m);
    }
}

void HislipSession::onSync(const HislipFrame::Message &m)
{
    switch (m.type) {
    case F::Data:
    case F::DataEnd:
        if (m_Partial.size() + m.payload.size() > MaxPayload)
            return fatal(F::Unidentified, QStringLiteral("a message over 64 KiB"));
        m_Partial += m.payload;
        if (m.type == F::DataEnd) {
            // The program message ends with the END this carries; a line
            // end some clients send as well belongs to no unit.
            QByteArray message;
            message.swap(m_Partial);
            while (message.endsWith('\n') || message.endsWith('\r'))
                message.chop(1);
            m_Waiting.enqueue(qMakePair(m.parameter, message));
            next();
        }
        return;
    case F::DeviceClearComplete:
        m_Clearing = false;
        m_Sync->write(F::build(F::DeviceClearAcknowledge, 0, 0));
        return next();
    case F::Trigger:
        // The cards have no trigger: *TRG's error, in the queue.
        m_Waiting.enqueue(qMakePair(m.parameter, QByteArray("*TRG")));
        return next();
    case F::FatalError:
    case F::Error:
        return close();
    default:
        m_Sync->write(F::build(F::Error, F::UnrecognizedType, 0,
            QByteArrayLiteral("this message type is not for the synchronous channel")));
    }
}

void HislipSession::onAsync(const HislipFrame::Message &m)
{
    switch (m.type) {
    case F::AsyncStatusQuery:
        m_Async->write(F::build(F::AsyncStatusResponse, quint8(m_Engine->statusByte()), 0));
        return;
    case F::AsyncDeviceClear:
        // Whatever is under way or waiting goes; the client then says on
        // the synchronous channel that it has dropped its side.
        m_Engine->clear();
        m_Waiting.clear();
        m_Partial.clear();
        m_Response.clear();
        m_Clearing = true;
        m_Async->write(F::build(F::AsyncDeviceClearAcknowledge, 0, 0));
        return;
    case F::AsyncMaximumMessageSize: {
        QByteArray size(8, '\0');
        qToBigEndian<quint64>(quint64(MaxPayload + F::HeaderSize), size.data());
        m_Async->write(F::build(F::AsyncMaximumMessageSizeResponse, 0, 0, size));
        return;
    }
    case F::AsyncLock:
        return lock(m);
    case F::AsyncLockInfo:
        m_Async->write(F::build(
            F::AsyncLockInfoResponse, m_Locks.exclusiveHeld() ? 1 : 0, quint32(m_Locks.holders())));
        return;
    case F::AsyncRemoteLocalControl:
        // The cards have no front panel: nothing to lock out.
        m_Async->write(F::build(F::AsyncRemoteLocalResponse, 0, 0));
        return;
    case F::FatalError:
    case F::Error:
        return close();
    default:
        m_Async->write(F::build(F::Error, F::UnrecognizedType, 0,
            QByteArrayLiteral("this message type is not for the asynchronous channel")));
    }
}

void HislipSession::lock(const HislipFrame::Message &m)
{
    if (m.control == Release) {
        const bool exclusive = m_Locks.holdsExclusive(m_Engine);
        const bool held = m_Locks.release(m_Engine);
        m_Async->write(F::build(F::AsyncLockResponse,
            !held           ? LockError
                : exclusive ? LockGranted
                            : SharedReleased,
            0));
        return;
    }
    if (m.control != Request) {
        m_Async->write(F::build(F::Error, F::UnrecognizedControl, 0));
        return;
    }
    if (m_Locks.holds(m_Engine)) { // one lock at a time
        m_Async->write(F::build(F::AsyncLockResponse, LockError, 0));
        return;
    }
    const QString key = QString::fromLatin1(m.payload);
    QPointer<HislipSession> self(this);
    m_Locks.acquire(
        m_Engine, key, int(qMin<quint32>(m.parameter, 0x7fffffff)), [self](bool granted) {
            if (self && self->m_Async)
                self->m_Async->write(
                    F::build(F::AsyncLockResponse, granted ? LockGranted : LockFailed, 0));
        });
}

void HislipSession::onOutput(const QByteArray &bytes, bool end)
{
    m_Response += bytes;
    if (!end)
        return;
    // The answer carries the ID of the message it answers.
    m_Sync->write(F::build(F::DataEnd, 0, m_Answering, m_Response));
    m_Response.clear();
}

void HislipSession::next()
{
    if (m_Closed || m_Clearing || !m_Engine->ready() || m_Waiting.isEmpty())
        return;
    const QPair<quint32, QByteArray> message = m_Waiting.dequeue();
    m_Answering = message.first;
    m_Engine->take(message.second);
    readSync(); // room for more
}

void HislipSession::fatal(quint8 code, const QString &why)
{
    const QByteArray said = why.toUtf8();
    m_Sync->write(F::build(F::FatalError, code, 0, said));
    if (m_Async)
        m_Async->write(F::build(F::FatalError, code, 0, said));
    AuditLog::refused(client().key,
        QStringLiteral("%1: HiSLIP session ended: %2").arg(AuditLog::field(client().name), why));
    close();
}

void HislipSession::close()
{
    if (m_Closed)
        return;
    m_Closed = true;
    m_Engine->clear();
    m_Sync->finish();
    if (m_Async)
        m_Async->finish();
    emit finished();
}
