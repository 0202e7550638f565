// rfcard-sim: plays one card of a family on a pseudo-terminal (or on a real
// serial device), so that rfcard and the scripts around it can be tried and
// tested without hardware.

#include "sim/serialline.h"
#include "sim/simcard.h"
#include "sim/simfaults.h"
#include "sim/simserver.h"
#ifndef Q_OS_WIN
#include "sim/ptyline.h"
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>

namespace {

std::atomic<bool> stopRequested{false};

void onSignal(int)
{
    stopRequested = true;
}

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "rfcard-sim: %s\n", qPrintable(message));
    std::exit(2);
}

int number(const QCommandLineParser &parser, const QString &name)
{
    bool ok = false;
    const int v = parser.value(name).toInt(&ok, 0);
    if (!ok)
        fail(QStringLiteral("--%1 needs a whole number, got \"%2\"").arg(name, parser.value(name)));
    return v;
}

double decimal(const QCommandLineParser &parser, const QString &name)
{
    bool ok = false;
    const double v = parser.value(name).toDouble(&ok);
    if (!ok)
        fail(QStringLiteral("--%1 needs a number, got \"%2\"").arg(name, parser.value(name)));
    return v;
}

// Read-only values given on the command line, for the families that have them.
void applyReadOnlyValues(const QCommandLineParser &parser, SimCard &card)
{
    const SimCard::Family f = card.family();
    auto onlyFor = [&](const char *option, bool applies) {
        if (parser.isSet(QLatin1String(option)) && !applies)
            std::fprintf(stderr, "rfcard-sim: --%s does not apply to the %s family, ignored\n",
                option, qPrintable(SimCard::familyName(f)));
        return parser.isSet(QLatin1String(option)) && applies;
    };
    if (onlyFor("temp", f != SimCard::Family::KLR))
        card.setEverywhere("temp", quint32(qRound(decimal(parser, QStringLiteral("temp")) * 10)));
    if (onlyFor("power", f == SimCard::Family::JQ))
        card.setEverywhere(
            "power", quint32(qRound(decimal(parser, QStringLiteral("power")) * 100)));
    if (onlyFor("type", f == SimCard::Family::VN))
        card.setEverywhere("type", quint32(number(parser, QStringLiteral("type"))));
    if (onlyFor("warning", f == SimCard::Family::KLR))
        card.setEverywhere("warning", quint32(number(parser, QStringLiteral("warning"))));
}

// Where a serial port name lives: a bare name is a device under /dev, as
// Qt Serial Port reads it.
QString systemLocation(const QString &port)
{
    return port.contains(QLatin1Char('/')) ? QFileInfo(port).absoluteFilePath()
                                           : QStringLiteral("/dev/") + port;
}

bool linksTo(const QString &link, const QString &device)
{
    const QFileInfo info(link);
    return info.isSymLink() && info.symLinkTarget() == QFileInfo(device).absoluteFilePath();
}

// Points `link` at this simulator's device. A link that still leads to a
// live device belongs to another simulator (or to whatever took over a
// reused pseudo-terminal number since): replacing it would send that one's
// users here, so it is refused. A link whose device is gone was left by a
// simulator that could not clean up, and is replaced.
bool claimLink(const QString &link, const QString &device, QString *error)
{
    // Two simulators may claim the same dangling link at once: the second
    // link() fails, and the link is looked at again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const QFileInfo info(link);
        if (linksTo(link, device))
            return true;
        if (info.isSymLink() && info.exists()) {
            *error = QStringLiteral("--link %1 leads to %2, a device that is in use, probably by "
                                    "another rfcard-sim; stop that one, choose another path, or "
                                    "remove the link if it is left over")
                         .arg(link, info.symLinkTarget());
            return false;
        }
        if (!info.isSymLink() && info.exists()) {
            *error = QStringLiteral("--link %1 exists and is not a symbolic link").arg(link);
            return false;
        }
        if (info.isSymLink())
            QFile::remove(link);
        if (QFile::link(device, link))
            return true;
    }
    *error = QStringLiteral("cannot make the link %1").arg(link);
    return false;
}

// Everything the command line sets: the card, its faults and how the server
// plays it.
struct Setup {
    SimCard::Family family = SimCard::Family::VN;
    SimFaults faults;
    SimServer::Options options;
    QString port; // empty: a pseudo-terminal of its own
    QString link;
};

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Plays an RF frequency-conversion card on a pseudo-terminal for rfcard.\n"
                       "Prints the device to give to rfcard --com as its first line of output."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("family"),
            QStringLiteral("Card family: jq (JQ5140, JQ5120), vn (VN2810), klr (KLR620)."),
            QStringLiteral("jq|vn|klr")},
        {QStringLiteral("link"), QStringLiteral("Also make a symbolic link PATH to the device."),
            QStringLiteral("PATH")},
        {QStringLiteral("port"),
            QStringLiteral("Serve on this existing serial device instead of a pseudo-terminal."),
            QStringLiteral("NAME")},
        {QStringLiteral("state"),
            QStringLiteral("Keep the card's settings in this JSON file between runs."),
            QStringLiteral("FILE")},
        {QStringLiteral("fault"),
            QStringLiteral("Misbehave: no-reply, short, long, wrong-code, status51, status53 "
                           "(jq, vn), split, garbage, late or keep-old (set commands that change "
                           "nothing); with :CODE only for that parameter code. Repeatable; the "
                           "first that matches applies."),
            QStringLiteral("KIND[:CODE]")},
        {QStringLiteral("trace"),
            QStringLiteral("Print every frame received and sent on standard error.")},
        {QStringLiteral("baud-timing"),
            QStringLiteral("Answer no sooner than a real 115200 baud 8N1 line would.")},
        {QStringLiteral("delay"), QStringLiteral("Wait this long before every answer."),
            QStringLiteral("MS"), QStringLiteral("0")},
        {QStringLiteral("late-ms"), QStringLiteral("How late a \"late\" fault answers."),
            QStringLiteral("MS"), QStringLiteral("1100")},
        {QStringLiteral("split-pause"),
            QStringLiteral("Pause between the parts of a split answer."), QStringLiteral("MS"),
            QStringLiteral("100")},
        {QStringLiteral("latency"),
            QStringLiteral("Hold every answer until the next tick of a USB serial adapter's "
                           "latency timer of this period (16 on many adapters, 0: none)."),
            QStringLiteral("MS"), QStringLiteral("0")},
        {QStringLiteral("unplug-after"),
            QStringLiteral("Vanish (close the device) after this many requests."),
            QStringLiteral("N"), QStringLiteral("0")},
        {QStringLiteral("temp"), QStringLiteral("Temperature in degrees (jq, vn)."),
            QStringLiteral("C")},
        {QStringLiteral("power"), QStringLiteral("Input power in dB (jq)."), QStringLiteral("DB")},
        {QStringLiteral("type"), QStringLiteral("Card type value (vn)."), QStringLiteral("N")},
        {QStringLiteral("warning"), QStringLiteral("Warning status (klr)."), QStringLiteral("N")},
    });
}

Setup setupFrom(const QCommandLineParser &parser)
{
    Setup setup;
    if (!SimCard::parseFamily(parser.value(QStringLiteral("family")), setup.family))
        fail(QStringLiteral("--family must be jq, vn or klr"));
    const SimCard card(setup.family);
    for (const QString &fault : parser.values(QStringLiteral("fault"))) {
        QString error;
        if (!setup.faults.add(fault, SimCard::familyName(setup.family), card.codes(), &error))
            fail(error);
    }
    setup.faults.setLateMs(number(parser, QStringLiteral("late-ms")));

    SimServer::Options &options = setup.options;
    options.trace = parser.isSet(QStringLiteral("trace"));
    options.baudTiming = parser.isSet(QStringLiteral("baud-timing"));
    options.delayMs = number(parser, QStringLiteral("delay"));
    options.splitPauseMs = number(parser, QStringLiteral("split-pause"));
    options.latencyMs = number(parser, QStringLiteral("latency"));
    if (options.latencyMs < 0 || options.latencyMs > 255)
        fail(QStringLiteral("--latency must be 0 to 255 ms, got %1").arg(options.latencyMs));
    options.unplugAfter = number(parser, QStringLiteral("unplug-after"));
    options.statePath = parser.value(QStringLiteral("state"));
    setup.port = parser.value(QStringLiteral("port"));
    setup.link = parser.value(QStringLiteral("link"));
    return setup;
}

// The line the card answers on: the serial device given, or a new
// pseudo-terminal.
std::unique_ptr<SimLine> openLine(const QString &port)
{
    QString error;
    if (!port.isEmpty()) {
        auto serial = std::make_unique<SerialLine>(port);
        if (!serial->open(&error))
            fail(QStringLiteral("cannot open %1: %2").arg(port, error));
        return serial;
    }
#ifndef Q_OS_WIN
    auto pty = std::make_unique<PtyLine>();
    if (!pty->open(&error))
        fail(QStringLiteral("cannot create a pseudo-terminal: %1").arg(error));
    return pty;
#else
    fail(QStringLiteral("no pseudo-terminals here: give --port with one end of a null-modem pair"));
#endif
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rfcard-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RFCARD_VERSION));
    QCommandLineParser parser;
    addOptions(parser);
    parser.process(app);
    Setup setup = setupFrom(parser);

    SimCard card(setup.family);
    SimServer server(card, setup.faults, setup.options);
    if (!setup.options.statePath.isEmpty()) {
        QString error;
        if (!server.loadState(&error))
            fail(
                QStringLiteral("cannot use state file %1: %2").arg(setup.options.statePath, error));
    }
    applyReadOnlyValues(parser, card);

    const std::unique_ptr<SimLine> line = openLine(setup.port);
    const QString device = setup.port.isEmpty() ? line->deviceName() : systemLocation(setup.port);
    if (!setup.link.isEmpty()) {
        QString error;
        if (!claimLink(setup.link, device, &error))
            fail(error);
    }

#ifdef Q_OS_LINUX
    // Sleep as exactly as the kernel allows: with the default 50 us timer
    // slack every answer would come later than the line's own timing.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::printf("%s\n", qPrintable(line->deviceName()));
    std::fflush(stdout);

    server.serve(*line, stopRequested);

    if (!setup.link.isEmpty() && linksTo(setup.link, device))
        QFile::remove(setup.link);
    return 0;
}
