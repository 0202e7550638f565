#include "daemon/hislipserver.h"

#include "daemon/auditlog.h"
#include "daemon/clientconnection.h"
#include "daemon/hislipframe.h"
#include "daemon/tcplistener.h"

#include <QPointer>
#include <QTimer>

namespace {

using F = HislipFrame;

} // namespace

HislipServer::HislipServer(
    CardService &card, CardLocks &locks, const QString &name, QObject *parent)
    : QObject(parent)
    , m_Card(card)
    , m_Locks(locks)
    , m_Name(name)
{
}

bool HislipServer::listen(const QHostAddress &address, quint16 port, QString *bound, QString *error)
{
    auto *listener = TcpListener::open(address, port, this, bound, error);
    if (!listener)
        return false;
    serve(listener);
    return true;
}

bool HislipServer::adopt(qintptr fd, QString *error)
{
    auto *listener = TcpListener::adopt(fd, this, error);
    if (!listener)
        return false;
    serve(listener);
    return true;
}

void HislipServer::serve(TcpListener *listener)
{
    connect(listener, &TcpListener::accepted, this, [this](qintptr socket) { accept(socket); });
}

void HislipServer::accept(qintptr socket, quint8 place)
{
    quint16 port = 0;
    const QHostAddress client = TcpListener::client(socket, &port);
    first(new ClientConnection(socket, HislipSession::MaxPayload + F::HeaderSize, this),
        TcpListener::endpoint(client, port), place);
}

void HislipServer::first(ClientConnection *connection, const QString &peer, quint8 place)
{
    // Its first message says what the connection is for; nothing within
    // 10 s, and it goes.
    QPointer<ClientConnection> c(connection);
    auto *timer = new QTimer(connection);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, connection, &ClientConnection::finish);
    timer->start(10000);
    connect(connection, &ClientConnection::closed, connection, &QObject::deleteLater);
    const auto read = [this, c, peer, timer, place] {
        if (!c || !timer->isActive())
            return;
        F::Message m;
        int used = 0;
        const F::Parse p = F::parse(c->input(), 256, &m, &used);
        if (p == F::Parse::Incomplete) {
            if (c->inputEnded())
                c->finish();
            return;
        }
        timer->stop();
        c->disconnect(this);
        if (p == F::Parse::Complete)
            c->consume(used);
        if (p == F::Parse::Complete && m.type == F::Initialize)
            return open(c, peer, m.payload, place);
        HislipSession *session = m_Sessions.value(quint16(m.parameter));
        if (p == F::Parse::Complete && m.type == F::AsyncInitialize && session
            && !session->paired()) {
            // The server's vendor ID: "RC".
            c->write(F::build(F::AsyncInitializeResponse, 0, 0x5243));
            return session->attach(c);
        }
        c->write(F::build(F::FatalError, F::BadInitialize, 0,
            QByteArrayLiteral("a connection starts with Initialize or AsyncInitialize")));
        c->finish();
    };
    connect(connection, &ClientConnection::readable, this, read);
    read();
}

void HislipServer::open(
    ClientConnection *connection, const QString &peer, const QByteArray &subAddress, quint8 place)
{
    // "hislip0" is the host's default card; a card's name, with "hislip_"
    // before it so that VISA picks HiSLIP for it, or as it is.
    QString asked = QString::fromLatin1(subAddress);
    if (asked.startsWith(QLatin1String("hislip_"), Qt::CaseInsensitive))
        asked = asked.mid(7);
    const bool ours = asked.compare(QLatin1String("hislip0"), Qt::CaseInsensitive) == 0
        || (!m_Name.isEmpty() && asked.compare(m_Name, Qt::CaseInsensitive) == 0);
    const auto refuse = [connection](quint8 code, const QString &why) {
        connection->write(F::build(F::FatalError, code, 0, why.toUtf8()));
        connection->finish();
    };
    if (!ours)
        return refuse(F::BadInitialize,
            QStringLiteral("no card named \"%1\" here").arg(AuditLog::field(asked)));
    if (m_Sessions.size() >= MaxSessions)
        return refuse(F::TooManyClients, QStringLiteral("%1 sessions are open").arg(MaxSessions));
    // Handed on by the front: the card's place in the high byte.
    quint16 id = 0;
    for (int tries = 0; tries < 65536 && (id == 0 || m_Sessions.contains(id)); ++tries) {
        id = place ? quint16(place << 8 | (m_NextId % 255 + 1)) : m_NextId;
        ++m_NextId;
    }
    const ScpiSession::Client client{
        peer.section(QLatin1Char(':'), 0, -2), peer + QStringLiteral(" (HiSLIP)"), false};
    auto *engine = new ScpiSession(client, false, m_Card, m_Locks);
    engine->setUnavailable(m_Unavailable);
    // Synchronized mode; the version this server speaks, and the session.
    connection->write(
        F::build(F::InitializeResponse, 0, quint32(HislipSession::Version) << 16 | id));
    auto *session = new HislipSession(id, connection, engine, m_Locks, this);
    m_Sessions.insert(id, session);
    connect(session, &HislipSession::finished, this, [this, id, session] {
        m_Sessions.remove(id);
        session->deleteLater();
    });
}
