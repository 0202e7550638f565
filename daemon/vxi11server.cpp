#include "daemon/vxi11server.h"

#include "daemon/auditlog.h"
#include "daemon/clientconnection.h"
#include "daemon/tcplistener.h"
#include "daemon/vxi11channel.h"
#include "daemon/vxi11rpc.h"

Vxi11Server::Vxi11Server(CardService &card, CardLocks &locks, const QString &name, QObject *parent)
    : QObject(parent)
    , m_Card(card)
    , m_Locks(locks)
    , m_Name(name)
{
}

bool Vxi11Server::listen(const QHostAddress &address, quint16 port, QString *bound, QString *error)
{
    auto *listener = TcpListener::open(address, port, this, bound, error);
    if (!listener)
        return false;
    connect(listener, &TcpListener::accepted, this, &Vxi11Server::accept);
    return true;
}

void Vxi11Server::accept(qintptr socket)
{
    channel(socket, false);
}

void Vxi11Server::channel(qintptr socket, bool abort)
{
    quint16 port = 0;
    const QHostAddress client = TcpListener::client(socket, &port);
    auto *connection = new ClientConnection(socket, Vxi11Rpc::MaxRecord + 16);
    auto *c = new Vxi11Channel(connection, *this, abort, TcpListener::endpoint(client, port), this);
    connect(c, &Vxi11Channel::finished, c, &QObject::deleteLater);
}

quint16 Vxi11Server::abortPort(const QHostAddress &local)
{
    // On the address the client came in on: no port of this service
    // listens anywhere the core channel does not.
    TcpListener *&listener = m_AbortListeners[local.toString()];
    if (!listener) {
        listener = new TcpListener(this);
        if (!listener->listen(local, 0)) {
            AuditLog::say(QStringLiteral("VXI-11: no abort channel on %1: %2")
                              .arg(local.toString(), listener->errorString()));
            delete listener;
            listener = nullptr;
            return 0;
        }
        connect(listener, &TcpListener::accepted, this,
            [this](qintptr socket) { channel(socket, true); });
    }
    return listener->serverPort();
}

Vxi11Link *Vxi11Server::link(
    const QString &device, const QString &client, QObject *owner, int *error)
{
    // "inst0" is the host's default card; else the card's own name.
    const bool ours = device.compare(QLatin1String("inst0"), Qt::CaseInsensitive) == 0
        || (!m_Name.isEmpty() && device.compare(m_Name, Qt::CaseInsensitive) == 0);
    if (!ours) {
        *error = Vxi11Rpc::DeviceNotAccessible;
        return nullptr;
    }
    if (m_Links.size() >= MaxLinks) {
        *error = Vxi11Rpc::OutOfResources;
        return nullptr;
    }
    while (m_NextId <= 0 || m_Links.contains(m_NextId))
        ++m_NextId;
    const qint32 id = m_NextId++;
    const ScpiSession::Client who{
        client.section(QLatin1Char(':'), 0, -2), client + QStringLiteral(" (VXI-11)"), false};
    auto *engine = new ScpiSession(who, false, m_Card, m_Locks);
    engine->setUnavailable(m_Unavailable);
    auto *link = new Vxi11Link(id, engine, owner);
    m_Links.insert(id, link);
    connect(link, &QObject::destroyed, this, [this, id] {
        m_Links.remove(id);
        m_Aborts.remove(id);
    });
    return link;
}

void Vxi11Server::abort(qint32 id)
{
    const Abort abort = m_Aborts.take(id);
    if (abort)
        abort();
}
