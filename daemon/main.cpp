// rfcardd: one card as a network instrument. One process owns the card's
// port and serves SCPI over TCP and Unix-domain sockets (daemon/*.h).

#include "cards/cardlog.h"
#include "cards/linesync.h"
#include "daemon/auditlog.h"
#include "daemon/cardservice.h"
#include "daemon/listenfds.h"
#include "daemon/scpiserver.h"
#include "daemon/stopsignal.h"
#include "serial/portname.h"
#include "store/cardmodels.h"
#include "store/safetext.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>

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

// "127.0.0.1:5025", "[::1]:5025", "*:5025" (every address).
bool address(const QString &text, QHostAddress *host, quint16 *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    QString name = text.left(colon);
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (colon < 0 || !ok || number > 65535)
        return false;
    *port = quint16(number);
    if (name == QLatin1String("*"))
        *host = QHostAddress::Any;
    else if (name == QLatin1String("localhost"))
        *host = QHostAddress::LocalHost;
    else
        *host = QHostAddress(name);
    return !host->isNull();
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
        {QStringLiteral("max-per-client"),
            QStringLiteral("Connections one client (a uid, an address) may hold at once "
                           "(default 8; root's are not counted)."),
            QStringLiteral("N")},
        {QStringLiteral("verbose"), QStringLiteral("Also log every exchange with the card.")},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        fail(
            1, QStringLiteral("\"%1\" is not an option").arg(parser.positionalArguments().first()));
    const QString model = parser.value(QStringLiteral("card")).toUpper();
    const QString port = PortName::normalized(parser.value(QStringLiteral("com")));
    if (!CardModels::isKnown(model))
        fail(2, QStringLiteral("--card must be VN2810, JQ5140, KLR620 or JQ5120"));
    if (port.isEmpty())
        fail(2, QStringLiteral("--com names no port"));
    QStringList listen = parser.values(QStringLiteral("listen"));
    if (listen.isEmpty())
        listen << QStringLiteral("127.0.0.1:5025");
    listen.removeAll(QStringLiteral("none"));

    g_Verbose = parser.isSet(QStringLiteral("verbose"));
    qInstallMessageHandler(cardLog);
    CardLog::setPrinter(cardPrint);
    // A service goes on after a failed exchange: the next client's answer
    // must not be a reply the card owed to the one before.
    LineSync::setEnabled(true);
    StopSignal stop;
    CardService card(model, port);
    ScpiServer server(card);
    if (parser.isSet(QStringLiteral("max-per-client"))) {
        bool ok = false;
        const int count = parser.value(QStringLiteral("max-per-client")).toInt(&ok);
        if (!ok || count < 1 || count > ScpiServer::MaxSessions)
            fail(2, QStringLiteral("--max-per-client takes 1 to %1").arg(ScpiServer::MaxSessions));
        server.setPerClient(count);
    }
    QStringList said;
    const QString readOnly = QStringLiteral(" (read-only)");
    for (const bool ro : {false, true}) {
        QStringList tcp = ro ? parser.values(QStringLiteral("read-only-listen")) : listen;
        tcp.removeAll(QStringLiteral("none"));
        for (const QString &text : qAsConst(tcp)) {
            QHostAddress host;
            quint16 number = 0;
            QString bound;
            QString error;
            if (!address(text, &host, &number))
                fail(2, QStringLiteral("%1 is not ADDRESS:PORT").arg(text));
            if (!server.listenTcp(host, number, ro, &bound, &error))
                fail(3, QStringLiteral("cannot listen on %1: %2").arg(text, error));
            said << QStringLiteral("listening tcp ") + bound + (ro ? readOnly : QString());
        }
        for (const QString &path :
            parser.values(ro ? QStringLiteral("read-only-socket") : QStringLiteral("socket"))) {
            QString error;
            if (!server.listenLocal(path, ro, &error))
                fail(3, QStringLiteral("cannot listen on %1: %2").arg(path, error));
            said << QStringLiteral("listening unix ") + path + (ro ? readOnly : QString());
        }
    }
    // A service manager's sockets: one named "read-only" (FileDescriptorName)
    // only answers queries.
    for (const ListenFds::Socket &s : ListenFds::take()) {
        const bool ro = s.name == QLatin1String("read-only");
        QString error;
        if (!server.adopt(s.fd, s.local, s.address, ro, &error))
            fail(3,
                QStringLiteral("cannot serve the socket passed on as %1: %2")
                    .arg(s.address, error));
        said << QStringLiteral("listening %1 %2").arg(s.local ? "unix" : "tcp", s.address)
                + (ro ? readOnly : QString());
    }
    if (said.isEmpty())
        fail(2, QStringLiteral("nothing to listen on (--listen none and no --socket)"));
    const QString name = parser.value(QStringLiteral("name"));
    std::fprintf(stderr, "rfcardd: %s%s on %s\n",
        name.isEmpty() ? "" : qPrintable(SafeText::printable(name) + QLatin1Char(' ')),
        qPrintable(model), qPrintable(SafeText::printable(port)));
    card.start();
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
