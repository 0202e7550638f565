// rfcardd: one card as a network instrument. One process owns the card's
// port and serves SCPI over TCP and Unix-domain sockets (daemon/*.h).

#include "cards/cardlog.h"
#include "cards/linesync.h"
#include "daemon/auditlog.h"
#include "daemon/cardlocks.h"
#include "daemon/cardservice.h"
#include "daemon/dnssd.h"
#include "daemon/frontserver.h"
#include "daemon/handoff.h"
#include "daemon/handofflistener.h"
#include "daemon/hislipserver.h"
#ifdef RFCARD_VXI11
#include "daemon/rpcbind.h"
#include "daemon/vxi11rpc.h"
#include "daemon/vxi11server.h"
#endif
#include "daemon/listenfds.h"
#include "daemon/portclaim.h"
#include "daemon/scpiserver.h"
#include "daemon/serviceconf.h"
#include "daemon/stopsignal.h"
#include "serial/portname.h"
#include "serial/uartagent.h"
#include "store/cardmodels.h"
#include "store/safetext.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QHostAddress>

#include <algorithm>
#include <cstdio>

namespace {

bool g_Verbose = false;

// rfcard's own lines (every exchange of the drivers) only when asked for:
// a service's log is its own lines and the sets it made.
void cardLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (g_Verbose)
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

void cardPrint(const QByteArray &line)
{
    if (g_Verbose)
        std::fputs(line.constData(), stderr);
}

[[noreturn]] void fail(int status, const QString &message)
{
    std::fprintf(stderr, "rfcardd: %s\n", message.toLocal8Bit().constData());
    std::exit(status);
}

// Listens on an option's ADDRESS:PORT with listen(host, port, &where,
// &error) and says where; a value that is no address, or a listener that
// cannot be had, ends the run.
template <typename Listen> QString listenOn(const QString &text, Listen listen)
{
    QHostAddress host;
    quint16 number = 0;
    if (!ServiceConf::address(text, &host, &number))
        fail(2, QStringLiteral("%1 is not ADDRESS:PORT").arg(text));
    QString where;
    QString error;
    if (!listen(host, number, &where, &error))
        fail(3, QStringLiteral("cannot listen on %1: %2").arg(text, error));
    return where;
}

bool isAny(const QHostAddress &host)
{
    return host == QHostAddress::Any || host == QHostAddress::AnyIPv4
        || host == QHostAddress::AnyIPv6;
}

// Whether a socket the service manager passed on is bound to `text`.
bool bound(const ListenFds::Socket &s, const QString &text)
{
    QHostAddress want;
    QHostAddress have;
    quint16 wantPort = 0;
    quint16 havePort = 0;
    if (s.local || !ServiceConf::address(text, &want, &wantPort)
        || !ServiceConf::address(s.address, &have, &havePort) || wantPort != havePort)
        return false;
    if (isAny(want) || isAny(have))
        return isAny(want) && isAny(have);
    return want.isEqual(have, QHostAddress::TolerantConversion);
}

// The host's front: its listeners, its own or the service manager's
// ("hislip" and "vxi11" by FileDescriptorName).
int front(QCoreApplication &app, const QCommandLineParser &parser)
{
    const QString cards = parser.value(QStringLiteral("cards"));
    if (cards.isEmpty())
        fail(2, QStringLiteral("--front needs --cards FOLDER"));
    StopSignal stop;
    FrontServer server(cards, parser.value(QStringLiteral("default-card")));
    QStringList said;
    for (const auto protocol : {FrontServer::Hislip, FrontServer::Vxi11}) {
        const QString option
            = protocol == FrontServer::Hislip ? QStringLiteral("hislip") : QStringLiteral("vxi11");
        for (const QString &text : parser.values(option)) {
            const QString where
                = listenOn(text, [&](auto... a) { return server.listen(protocol, a...); });
            said << QStringLiteral("listening %1 %2").arg(option, where);
        }
    }
    for (const ListenFds::Socket &s : ListenFds::take()) {
        QString error;
        const auto protocol
            = s.name == QLatin1String("vxi11") ? FrontServer::Vxi11 : FrontServer::Hislip;
        if (s.local || !server.adopt(protocol, s.fd, &error))
            fail(3,
                QStringLiteral("cannot serve the socket passed on as %1: %2")
                    .arg(s.address, error));
        said << QStringLiteral("listening %1 %2").arg(s.name, s.address);
    }
    if (said.isEmpty())
        fail(2, QStringLiteral("nothing to listen on (--hislip, --vxi11)"));
#ifdef RFCARD_VXI11
    // A VXI-11 client asks the host's rpcbind where the core channel is. A
    // socket of the service manager's was named there when it began to
    // listen (rfcardd --rpcbind), before anything started this front.
    QString why;
    const bool naming = !parser.values(QStringLiteral("vxi11")).isEmpty();
    if (naming
        && !RpcBind::set(Vxi11Rpc::Core, Vxi11Rpc::Version, server.port(FrontServer::Vxi11), &why))
        AuditLog::say(
            QStringLiteral("VXI-11 not named to rpcbind: %1; clients cannot find it").arg(why));
#endif
    // The cards on the network, as they come and go.
    DnsSd dnssd;
    const QString confs = parser.isSet(QStringLiteral("confs"))
        ? parser.value(QStringLiteral("confs"))
        : QStringLiteral("/etc/rfcard/rfcardd");
    const auto publish = [&server, &dnssd, confs] {
        QList<DnsSd::Service> services;
        for (const QString &card : server.cards()) {
            ServiceConf conf;
            QString error;
            const QString model
                = conf.read(QDir(confs).filePath(card + QStringLiteral(".conf")), &error)
                ? conf.card
                : QString();
            const QString instance
                = model.isEmpty() ? card : QStringLiteral("%1 (%2)").arg(card, model);
            const QStringList txt
                = {QStringLiteral("txtvers=1"), QStringLiteral("Manufacturer=rfcard"),
                    QStringLiteral("Model=") + model, QStringLiteral("Name=") + card};
            if (server.port(FrontServer::Hislip))
                services << DnsSd::Service{instance, QStringLiteral("_hislip._tcp"),
                    server.port(FrontServer::Hislip),
                    txt + QStringList{QStringLiteral("SubAddress=hislip_") + card}};
            if (server.port(FrontServer::Vxi11))
                services << DnsSd::Service{instance, QStringLiteral("_vxi-11._tcp"), 111,
                    txt + QStringList{QStringLiteral("Device=") + card}};
            for (const QString &address : conf.listen)
                services << DnsSd::Service{instance, QStringLiteral("_scpi-raw._tcp"),
                    quint16(address.section(QLatin1Char(':'), -1).toUInt()), txt};
        }
        dnssd.publish(services);
    };
    QFileSystemWatcher watcher({cards});
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &watcher, publish);
    publish();
    for (const QString &line : qAsConst(said))
        std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    const int status = app.exec();
#ifdef RFCARD_VXI11
    if (naming)
        RpcBind::unset(Vxi11Rpc::Core, Vxi11Rpc::Version, &why);
#endif
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rfcardd"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RFCARD_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves one RF frequency-conversion card as a network instrument (SCPI).\n"
                       "Prints each address it listens on as a line on standard output."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("card"), QStringLiteral("The card model: VN2810, JQ5140, KLR620, JQ5120."),
            QStringLiteral("MODEL")},
        {QStringLiteral("com"), QStringLiteral("The card's serial port."), QStringLiteral("PORT")},
        {QStringLiteral("listen"),
            QStringLiteral("Listen on this TCP address (repeatable; default 127.0.0.1:5025; "
                           "none: no TCP)."),
            QStringLiteral("ADDRESS:PORT")},
        {QStringLiteral("socket"),
            QStringLiteral("Also listen on this Unix-domain socket (repeatable)."),
            QStringLiteral("PATH")},
        {QStringLiteral("read-only-listen"),
            QStringLiteral("A TCP address whose clients may only ask (repeatable; none: "
                           "none)."),
            QStringLiteral("ADDRESS:PORT")},
        {QStringLiteral("read-only-socket"),
            QStringLiteral("A Unix-domain socket whose clients may only ask (repeatable)."),
            QStringLiteral("PATH")},
        {QStringLiteral("name"),
            QStringLiteral("The card's name, as rfcard-strict --service NAME reaches it."),
            QStringLiteral("NAME")},
        {QStringLiteral("hislip"),
            QStringLiteral("Serve the card by HiSLIP on this TCP address (port 4880 by convention; "
                           "repeatable; its sub-address: hislip0 or --name)."),
            QStringLiteral("ADDRESS:PORT")},
        {QStringLiteral("lock-wait"),
            QStringLiteral("How long a command waits while another client holds the card's lock "
                           "(default 10000)."),
            QStringLiteral("MS")},
        {QStringLiteral("vxi11"),
            QStringLiteral("The front's VXI-11 core channel (the host's rpcbind names it; "
                           "repeatable)."),
            QStringLiteral("ADDRESS:PORT")},
        {QStringLiteral("handoff"),
            QStringLiteral("Take connections the host's front hands on at this Unix-domain "
                           "socket (its folder is the front's --cards)."),
            QStringLiteral("PATH")},
        {QStringLiteral("front"),
            QStringLiteral("Be the host's front: hand each HiSLIP (--hislip) and VXI-11 (--vxi11) "
                           "connection on to the card it names, whose handoff sockets are in "
                           "--cards.")},
        {QStringLiteral("cards"),
            QStringLiteral("The front's folder of cards' handoff sockets (NAME.handoff)."),
            QStringLiteral("FOLDER")},
        {QStringLiteral("confs"),
            QStringLiteral("Where the front finds each card's configuration (NAME.conf), for its "
                           "model (default /etc/rfcard/rfcardd)."),
            QStringLiteral("FOLDER")},
        {QStringLiteral("default-card"),
            QStringLiteral("The card hislip0 and inst0 reach (default: the first by name)."),
            QStringLiteral("NAME")},
        {QStringLiteral("max-per-client"),
            QStringLiteral("Connections one client (a uid, an address) may hold at once "
                           "(default 8; root's are not counted)."),
            QStringLiteral("N")},
        {QStringLiteral("conf"),
            QStringLiteral("Take the card, the port and the TCP addresses from this file (the "
                           "shared install's /etc/rfcard/rfcardd/NAME.conf); TCP only on sockets "
                           "the service manager passed on."),
            QStringLiteral("FILE")},
        {QStringLiteral("verbose"), QStringLiteral("Also log every exchange with the card.")},
        {QStringLiteral("claim"),
            QStringLiteral("(root, the socket unit) Make the port of the card NAME the service "
                           "user's alone, also after a replug."),
            QStringLiteral("NAME")},
        {QStringLiteral("release"),
            QStringLiteral("(root, the socket unit) Give the port back to root and dialout."),
            QStringLiteral("NAME")},
        {QStringLiteral("rpcbind"),
            QStringLiteral("(the front's VXI-11 socket unit) Name the VXI-11 core channel on this "
                           "port to rpcbind; none: no longer."),
            QStringLiteral("PORT")},
        {QStringLiteral("check-port"),
            QStringLiteral("(root, the service unit) Tell who else holds the port open."),
            QStringLiteral("NAME")},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        fail(
            1, QStringLiteral("\"%1\" is not an option").arg(parser.positionalArguments().first()));
    if (parser.isSet(QStringLiteral("claim")))
        return PortClaim::claim(parser.value(QStringLiteral("claim")));
    if (parser.isSet(QStringLiteral("release")))
        return PortClaim::release(parser.value(QStringLiteral("release")));
    if (parser.isSet(QStringLiteral("check-port")))
        return PortClaim::check(parser.value(QStringLiteral("check-port")));
    if (parser.isSet(QStringLiteral("front")))
        return front(app, parser);
#ifdef RFCARD_VXI11
    // The front's VXI-11 socket, as systemd makes it: named to rpcbind
    // while it listens, so that a client finds it before the front runs.
    if (parser.isSet(QStringLiteral("rpcbind"))) {
        const QString port = parser.value(QStringLiteral("rpcbind"));
        QString why;
        const bool done = port == QLatin1String("none")
            ? RpcBind::unset(Vxi11Rpc::Core, Vxi11Rpc::Version, &why)
            : RpcBind::set(Vxi11Rpc::Core, Vxi11Rpc::Version, quint16(port.toUInt()), &why);
        if (!done)
            AuditLog::say(
                QStringLiteral("VXI-11 on port %1 not named to rpcbind: %2").arg(port, why));
        return 0; // the socket serves all the same (HiSLIP, and VXI-11 to those who know its port)
    }
#endif
    const QString name = parser.value(QStringLiteral("name"));
    // From the command line, or from the shared install's configuration;
    // a configuration that is wrong is said once, and the service then
    // answers every client with it instead of failing over and over.
    ServiceConf conf;
    QString unavailable;
    const bool fromConf = parser.isSet(QStringLiteral("conf"));
    if (fromConf) {
        for (const char *option : {"card", "com", "listen", "read-only-listen", "max-per-client"}) {
            if (parser.isSet(QLatin1String(option)))
                fail(1, QStringLiteral("--%1 and --conf: the file gives it").arg(option));
        }
        QString error;
        if (!conf.read(parser.value(QStringLiteral("conf")), &error)) {
            AuditLog::say(error);
            unavailable = name.isEmpty()
                ? QStringLiteral("rfcardd could not start: %1").arg(error)
                : QStringLiteral("the service %1 could not start: see journalctl -u rfcardd@%1")
                      .arg(name);
        }
        // Someone else had the port open when the service started
        // (rfcardd --check-port said who, as root, in the journal).
        QFile held(PortClaim::heldMarker());
        if (unavailable.isEmpty() && held.open(QIODevice::ReadOnly))
            unavailable = SafeText::printable(QString::fromUtf8(held.readAll().left(1000)));
    } else {
        conf.card = parser.value(QStringLiteral("card")).toUpper();
        conf.com = parser.value(QStringLiteral("com"));
        conf.listen = parser.values(QStringLiteral("listen"));
        if (conf.listen.isEmpty())
            conf.listen << QStringLiteral("127.0.0.1:5025");
        conf.readOnlyListen = parser.values(QStringLiteral("read-only-listen"));
        if (!CardModels::isKnown(conf.card))
            fail(2, QStringLiteral("--card must be VN2810, JQ5140, KLR620 or JQ5120"));
        if (PortName::normalized(conf.com).isEmpty())
            fail(2, QStringLiteral("--com names no port"));
        if (parser.isSet(QStringLiteral("max-per-client"))) {
            bool ok = false;
            conf.maxPerClient = parser.value(QStringLiteral("max-per-client")).toInt(&ok);
            if (!ok || conf.maxPerClient < 1 || conf.maxPerClient > ScpiServer::MaxSessions)
                fail(2,
                    QStringLiteral("--max-per-client takes 1 to %1").arg(ScpiServer::MaxSessions));
        }
    }
    conf.listen.removeAll(QStringLiteral("none"));
    conf.readOnlyListen.removeAll(QStringLiteral("none"));
    const QString model = conf.card;
    const QString port = PortName::normalized(conf.com);

    g_Verbose = parser.isSet(QStringLiteral("verbose"));
    qInstallMessageHandler(cardLog);
    CardLog::setPrinter(cardPrint);
    // A service goes on after a failed exchange: the next client's answer
    // must not be a reply the card owed to the one before.
    LineSync::setEnabled(true);
    UartAgent::guardSettings(true);
    StopSignal stop;
    CardService card(model, port);
    CardLocks locks;
    if (parser.isSet(QStringLiteral("lock-wait"))) {
        bool ok = false;
        const int ms = parser.value(QStringLiteral("lock-wait")).toInt(&ok);
        if (!ok || ms < 0)
            fail(2, QStringLiteral("--lock-wait takes milliseconds"));
        locks.setWaitMs(ms);
    }
    ScpiServer server(card, locks);
    server.setUnavailable(unavailable);
    if (conf.maxPerClient > 0)
        server.setPerClient(conf.maxPerClient);
    HislipServer hislip(card, locks, name);
    hislip.setUnavailable(unavailable);
#ifdef RFCARD_VXI11
    Vxi11Server vxi11(card, locks, name);
    vxi11.setUnavailable(unavailable);
#endif
    // Connections the host's front hands on: HiSLIP ("H", "A"), VXI-11 ("V").
    HandoffListener handoff;
    QObject::connect(
        &handoff, &HandoffListener::received, &hislip, [&](qintptr socket, const QByteArray &tag) {
            if (tag.startsWith('H') || tag.startsWith('A'))
                return hislip.accept(socket, tag.size() > 1 ? quint8(tag.at(1)) : 0);
#ifdef RFCARD_VXI11
            if (tag.startsWith('V'))
                return vxi11.accept(socket);
#endif
            Handoff::close(socket);
        });
    QStringList said;
    const QString readOnly = QStringLiteral(" (read-only)");
    QList<ListenFds::Socket> passed = ListenFds::take();
    const auto serve = [&](const ListenFds::Socket &s, bool ro) {
        QString error;
        if (!server.adopt(s.fd, s.local, s.address, ro, &error))
            fail(3,
                QStringLiteral("cannot serve the socket passed on as %1: %2")
                    .arg(s.address, error));
        said << QStringLiteral("listening %1 %2").arg(s.local ? "unix" : "tcp", s.address)
                + (ro ? readOnly : QString());
    };
    for (const bool ro : {false, true}) {
        for (const QString &text : qAsConst(ro ? conf.readOnlyListen : conf.listen)) {
            // A socket the service manager holds for the address is that
            // address's: nobody can take it while the service is down.
            const auto held = std::find_if(passed.begin(), passed.end(),
                [&](const ListenFds::Socket &s) { return bound(s, text); });
            if (held != passed.end()) {
                serve(*held, ro);
                passed.erase(held);
                continue;
            }
            if (fromConf) {
                AuditLog::say(QStringLiteral("%1=%2 is not among the sockets the service manager "
                                             "holds: systemctl daemon-reload, then systemctl "
                                             "restart rfcardd@%3.socket")
                                  .arg(ro ? "READ_ONLY_LISTEN" : "LISTEN", text, name));
                continue;
            }
            const QString where = listenOn(
                text, [&](const QHostAddress &host, quint16 number, QString *at, QString *error) {
                    return server.listenTcp(host, number, ro, at, error);
                });
            said << QStringLiteral("listening tcp ") + where + (ro ? readOnly : QString());
        }
        for (const QString &path :
            parser.values(ro ? QStringLiteral("read-only-socket") : QStringLiteral("socket"))) {
            QString error;
            if (!server.listenLocal(path, ro, &error))
                fail(3, QStringLiteral("cannot listen on %1: %2").arg(path, error));
            said << QStringLiteral("listening unix ") + path + (ro ? readOnly : QString());
        }
    }
    // The service manager's other sockets: one named "read-only"
    // (FileDescriptorName) only answers queries. A TCP address the
    // configuration no longer names is not served.
    for (const ListenFds::Socket &s : qAsConst(passed)) {
        if (fromConf && !s.local) {
            AuditLog::say(QStringLiteral("%1 is not in the configuration any more: not served "
                                         "(systemctl daemon-reload, then systemctl restart "
                                         "rfcardd@%2.socket)")
                              .arg(s.address, name));
            continue;
        }
        QString error;
        if (s.name == QLatin1String("handoff")) {
            if (!handoff.adopt(s.fd, &error))
                fail(3,
                    QStringLiteral("cannot serve the socket passed on as %1: %2")
                        .arg(s.address, error));
            said << QStringLiteral("listening handoff ") + s.address;
            continue;
        }
        serve(s, s.name == QLatin1String("read-only"));
    }
    for (const QString &text : parser.values(QStringLiteral("hislip"))) {
        const QString where = listenOn(text, [&](auto... a) { return hislip.listen(a...); });
        said << QStringLiteral("listening hislip ") + where;
    }
#ifdef RFCARD_VXI11
    // A card served without a front: its own core channel, named to the
    // host's rpcbind while it listens.
    for (const QString &text : parser.values(QStringLiteral("vxi11"))) {
        const QString where = listenOn(text, [&](auto... a) { return vxi11.listen(a...); });
        QString error;
        if (!RpcBind::set(Vxi11Rpc::Core, Vxi11Rpc::Version,
                quint16(where.section(QLatin1Char(':'), -1).toUInt()), &error))
            AuditLog::say(
                QStringLiteral("VXI-11 on %1, but not named to rpcbind: %2").arg(where, error));
        said << QStringLiteral("listening vxi11 ") + where;
    }
#endif
    if (parser.isSet(QStringLiteral("handoff"))) {
        QString error;
        if (!handoff.listen(parser.value(QStringLiteral("handoff")), &error))
            fail(3,
                QStringLiteral("cannot listen on %1: %2")
                    .arg(parser.value(QStringLiteral("handoff")), error));
        said << QStringLiteral("listening handoff ") + parser.value(QStringLiteral("handoff"));
    }
    if (said.isEmpty())
        fail(2, QStringLiteral("nothing to listen on (--listen none and no --socket)"));
    if (unavailable.isEmpty()) {
        std::fprintf(stderr, "rfcardd: %s%s on %s\n",
            name.isEmpty() ? "" : qPrintable(SafeText::printable(name) + QLatin1Char(' ')),
            qPrintable(model), qPrintable(SafeText::printable(port)));
        card.start();
    }
    for (const QString &line : qAsConst(said))
        std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    const int status = app.exec();
    card.stop();
    card.wait();
    AuditLog::flush();
    std::fprintf(stderr, "rfcardd: stopped\n");
    return status;
}
