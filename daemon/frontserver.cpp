#include "daemon/frontserver.h"

#include "daemon/auditlog.h"
#include "daemon/handoff.h"
#include "daemon/hislipframe.h"
#include "daemon/nativesocket.h"
#include "daemon/tcplistener.h"
#ifdef RFCARD_VXI11
#include "daemon/vxi11rpc.h"
#endif

#include <QDir>
#include <QSocketNotifier>
#include <QTimer>

namespace {

using F = HislipFrame;

} // namespace

FrontServer::FrontServer(const QString &cards, const QString &defaultCard, QObject *parent)
    : QObject(parent)
    , m_Cards(cards)
    , m_Default(defaultCard)
{
}

QStringList FrontServer::cards() const
{
    QStringList names;
    for (const QString &file :
        QDir(m_Cards).entryList({QStringLiteral("*.handoff")}, QDir::System, QDir::Name))
        names << file.chopped(8);
    return names;
}

QString FrontServer::cardNamed(const QString &asked) const
{
    const QStringList names = cards();
    if (names.contains(asked))
        return asked;
    for (const QString &name : names)
        if (name.compare(asked, Qt::CaseInsensitive) == 0)
            return name;
    return QString();
}

bool FrontServer::listen(
    Protocol protocol, const QHostAddress &address, quint16 port, QString *bound, QString *error)
{
    auto *listener = TcpListener::open(address, port, this, bound, error);
    if (!listener)
        return false;
    m_Ports[protocol] = listener->serverPort();
    serve(protocol, listener);
    return true;
}

bool FrontServer::adopt(Protocol protocol, qintptr fd, QString *error)
{
    auto *listener = TcpListener::adopt(fd, this, error);
    if (!listener)
        return false;
    m_Ports[protocol] = listener->serverPort();
    serve(protocol, listener);
    return true;
}

void FrontServer::serve(Protocol protocol, TcpListener *listener)
{
    connect(listener, &TcpListener::accepted, this,
        [this, protocol](qintptr socket) { wait(protocol, socket); });
}

void FrontServer::wait(Protocol protocol, qintptr socket)
{
    // Its first message decides; nothing whole within 10 s, and it goes.
    auto *notifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    auto *timer = new QTimer(notifier);
    timer->setSingleShot(true);
    const auto step = [this, notifier, protocol, socket](bool last) {
        if (notifier->property("done").toBool())
            return;
        if (route(protocol, socket, last) < 0 && !last) {
            // Part of it has come: the rest soon (what waits is not taken,
            // so the notifier would fire again at once).
            notifier->setEnabled(false);
            QTimer::singleShot(10, notifier, [notifier] { notifier->setEnabled(true); });
            return;
        }
        notifier->setProperty("done", true);
        notifier->setEnabled(false);
        Handoff::close(socket); // handed on or refused: the card has its own
        notifier->deleteLater();
    };
    connect(notifier, &QSocketNotifier::activated, this, [step] { step(false); });
    connect(timer, &QTimer::timeout, this, [step] { step(true); });
    timer->start(10000);
}

int FrontServer::route(Protocol protocol, qintptr socket, bool last)
{
    quint16 port = 0;
    const QHostAddress address = NativeSocket::peerAddress(socket, &port);
    const QString peer = TcpListener::endpoint(address, port);
    const QByteArray first = Handoff::peek(socket, 2048);
    const QString fallback = m_Default.isEmpty() ? cards().value(0) : m_Default;
    QString card;
    char tag = 'H';
    if (protocol == Hislip) {
        F::Message m;
        int used = 0;
        const F::Parse p = F::parse(first, 256, &m, &used);
        if (p == F::Parse::Incomplete && !last && !first.isEmpty())
            return -1;
        if (p == F::Parse::Complete && m.type == F::Initialize) {
            QString asked = QString::fromLatin1(m.payload);
            if (asked.startsWith(QLatin1String("hislip_"), Qt::CaseInsensitive))
                asked = asked.mid(7);
            card = asked.compare(QLatin1String("hislip0"), Qt::CaseInsensitive) == 0
                ? fallback
                : cardNamed(asked);
            if (card.isEmpty())
                card = asked;
        } else if (p == F::Parse::Complete && m.type == F::AsyncInitialize) {
            // The session's ID carries its card's place: the asynchronous
            // channel goes where the synchronous one went.
            card = cards().value(int(m.parameter >> 8) - 1);
            tag = 'A';
        }
        if (card.isEmpty() || !cards().contains(card)) {
            const QByteArray why
                = QStringLiteral("no card named \"%1\" here").arg(AuditLog::field(card)).toUtf8();
            NativeSocket::write(socket,
                F::build(F::FatalError, F::BadInitialize, 0, why).constData(),
                F::HeaderSize + why.size());
            AuditLog::say(QStringLiteral("%1: HiSLIP connection refused: %2")
                              .arg(peer, QString::fromUtf8(why)));
            return 0;
        }
    }
#ifdef RFCARD_VXI11
    if (protocol == Vxi11) {
        // The first call of a core channel is create_link, which names
        // the device.
        Vxi11Rpc rpc;
        rpc.feed(first);
        QByteArray record;
        if (!rpc.takeRecord(&record) && !last && !rpc.failed())
            return -1;
        const Vxi11Rpc::Call call = Vxi11Rpc::decodeCall(record, Vxi11Rpc::Core);
        if (call.status == Vxi11Rpc::Call::Accepted && call.proc == Vxi11Rpc::CreateLink) {
            const QString asked = QString::fromLatin1(call.args.createLink.device);
            card = asked.compare(QLatin1String("inst0"), Qt::CaseInsensitive) == 0
                ? fallback
                : cardNamed(asked);
            if (card.isEmpty())
                card = asked;
        }
        tag = 'V';
        if (card.isEmpty() || !cards().contains(card)) {
            Create_LinkResp r{};
            r.error = Vxi11Rpc::DeviceNotAccessible;
            const QByteArray reply = Vxi11Rpc::reply(call.xid, r);
            NativeSocket::write(socket, reply.constData(), reply.size());
            AuditLog::say(QStringLiteral("%1: VXI-11 connection refused: no card named \"%2\" here")
                              .arg(peer, AuditLog::field(card)));
            return 0;
        }
    }
#endif
    QString error;
    if (!handOn(socket, card, tag, &error))
        AuditLog::say(
            QStringLiteral("%1: cannot hand the connection on to %2: %3").arg(peer, card, error));
    return 0;
}

bool FrontServer::handOn(qintptr socket, const QString &card, char protocol, QString *error)
{
    // The card's place among the cards: the prefix of its HiSLIP sessions.
    const int place = int(cards().indexOf(card)) + 1;
    QByteArray tag;
    tag += protocol;
    tag += char(place);
    return Handoff::send(
        QDir(m_Cards).filePath(card + QStringLiteral(".handoff")), socket, tag, error);
}
