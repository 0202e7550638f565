#include "daemon/rawsession.h"

#include "daemon/auditlog.h"

RawSession::RawSession(ClientConnection *connection, ScpiSession *session, QObject *parent)
    : QObject(parent)
    , m_Connection(connection)
    , m_Session(session)
{
    m_Connection->setParent(this);
    m_Session->setParent(this);
    m_Session->setBacklog([this] { return m_Connection->unsent(); });
    connect(m_Session, &ScpiSession::output, m_Connection,
        [this](const QByteArray &bytes) { m_Connection->write(bytes); });
    connect(m_Session, &ScpiSession::done, this, &RawSession::next);
    connect(m_Connection, &ClientConnection::readable, this, &RawSession::next);
    connect(m_Connection, &ClientConnection::written, m_Session, &ScpiSession::resume);
    connect(m_Connection, &ClientConnection::closed, this, &RawSession::finished);
    next();
}

void RawSession::evict()
{
    m_Evicted = true;
    next();
}

void RawSession::next()
{
    if (m_Ended || !m_Session->ready())
        return;
    if (m_Evicted) {
        finish();
    } else if (m_Connection->canReadLine()) {
        // A message the session is done with at once leads here again from
        // inside it; the session goes on with the next one in its own loop.
        m_Session->take(m_Connection->readLine());
    } else if (m_Connection->overLimit()) {
        m_Connection->write(QByteArray::number(-363) + ",\"" + ScpiErrorQueue::text(-363).toUtf8()
            + "; a message over 64 KiB\"\n");
        AuditLog::refused(client().key,
            QStringLiteral("%1 sent a message over 64 KiB; connection closed")
                .arg(AuditLog::field(client().name)));
        finish();
    } else if (m_Connection->inputEnded()) {
        const QByteArray rest = m_Connection->takeRest();
        if (!rest.trimmed().isEmpty())
            AuditLog::refused(client().key,
                QStringLiteral("%1: dropped \"%2\": the connection ended before its line end")
                    .arg(AuditLog::field(client().name),
                        AuditLog::field(QString::fromLatin1(rest))));
        finish();
    }
}

void RawSession::finish()
{
    m_Ended = true;
    m_Connection->finish();
}
