#include "strict/strictrun.h"

#include "app/cmdagent.h"
#include "app/runrecord.h"
#include "cards/cardlog.h"
#include "cards/protocolmodules.h"
#include "serial/portdiagnosis.h"
#include "serial/portowner.h"
#include "serial/uartagent.h"
#include "store/cardmodels.h"
#include "store/corvanecore.h"
#include "store/programfolder.h"
#include "store/rfcardparser.h"
#include "store/safetext.h"
#include "store/settingsreport.h"
#include "strict/argumentcheck.h"
#include "strict/servicerun.h"

#include <QCoreApplication>
#include <QDebug>

namespace {

// rfcard's log and the lines its protocol modules print, as rfcard writes
// them, but always whole and as they are (nothing here depends on them; a
// person reading them does); held back while the verifying read-back runs,
// and shown only when that fails.
bool g_Holding = false;
QByteArray g_Held;

void printLine(const QByteArray &line)
{
    if (g_Holding)
        g_Held += line;
    else
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

void logLine(QtMsgType, const QMessageLogContext &, const QString &message)
{
    printLine(message.toLocal8Bit() + '\n');
}

QString meaning(int status)
{
    static const char *const meanings[] = {"done", "usage error", "a value was refused",
        "the card did not answer or answered wrongly", "the port could not be opened",
        "unknown card model", "(unused)", "settings not saved",
        "the card does not hold what was set", "the card is locked by another client"};
    return QLatin1String(meanings[status]);
}

const char Help[] = R"(Usage: rfcard-strict [rfcard's options]
Makes one rfcard run, the same set run or read-back that rfcard would make with
these options (rfcard --help lists them), for a script: standard output holds
only the read-back's JSON report, standard error rfcard's log and, when the
status is not 0, what went wrong and what to check. After a set run the card is
asked for each value it was given. The exit status:
  0  done: every command answered as expected, and a set run read back as set
  1  usage: an unknown option, a missing value, an argument without its dashes
  2  a value was refused: by the card's driver, or before anything was sent
     (a value that is no number, a channel the card does not have)
  3  the card did not answer, or answered wrongly
  4  the port could not be opened (and why)
  5  a card model rfcard has no driver for: nothing was sent
  7  the card is set as asked, but the settings were not saved
  8  the card answered, but does not hold what was set
  9  --service: another client of the service holds the card's lock (VXI-11,
     HiSLIP) longer than the service waits; the message names it
When several apply, the first of 5, 4, 9, 2, 3, 8, 7 is given.
RFCARD_STRICT_VERIFY=0 leaves out the read-back after a set run.
--service NAME|PATH makes the run through rfcardd, the service that owns the
card's port (/run/rfcard/NAME.sock): the values given are set and read back by
it, and nothing is read from or written to the settings.
)";

QString channelWords(int part, int ch)
{
    static const char *const ordinals[] = {"first", "second", "third", "fourth"};
    return QStringLiteral("--%1 %2 (the %3 channel)")
        .arg(part == 0 ? QLatin1String("ch") : QLatin1String("gch"))
        .arg(ch)
        .arg(QLatin1String(ordinals[qBound(0, ch, 3)]));
}

// Why the device a stored port opened on is not taken: it is another user's
// (not root's), or its owner cannot be told; empty when it may be used.
QString storedPortRefusal(const QString &stored, const PortOwner::Found &found)
{
    if (!found.known)
        return QStringLiteral("the stored port %1 opened, but who owns its device cannot be told "
                              "(%2); nothing was sent; give --com to use it")
            .arg(stored, found.why);
    if (!found.foreign)
        return QString();
    return QStringLiteral("the stored port %1%2 belongs to %3, neither you nor root; nothing was "
                          "sent; give --com to use it")
        .arg(stored,
            found.device == stored ? QString()
                                   : QStringLiteral(" leads to %1, which").arg(found.device),
            found.owner);
}

} // namespace

StrictRun::StrictRun(FILE *out)
    : m_Out(out)
{
}

void StrictRun::say(const QString &text)
{
    m_Said << QStringLiteral("rfcard-strict: ") + SafeText::printable(text);
}

int StrictRun::finish(int status, const QString &reason, const QString &after)
{
    if (status != Ok && !reason.isEmpty())
        say(QStringLiteral("exit %1, %2: %3").arg(status).arg(meaning(status), reason));
    if (!after.isEmpty())
        say(after);
    return status;
}

int StrictRun::exec(const QStringList &arguments)
{
    const int status = run(arguments);
    // The ports close, and say so in rfcard's log, as at the end of rfcard;
    // what rfcard-strict has to say comes after that, last, where a script
    // finds it.
    klrModule.reset();
    vnModule.reset();
    jqTwoModule.reset();
    jqFourModule.reset();
    for (const QString &line : qAsConst(m_Said))
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    return status;
}

QString StrictRun::refusal(const QString &model, int part, int ch) const
{
    const QCommandLineParser &parser = CmdAgent::instance()->parser;
    if ((part == 0 || part == 1) && model == CardModels::Jq5120 && ch > 1)
        return QStringLiteral("%1 is refused: the JQ5120 has two channels, %2 and %3; nothing was "
                              "sent or stored")
            .arg(channelWords(part, ch), channelWords(part, 0), channelWords(part, 1));
    if (part != 0 || !CardModels::isKnown(model))
        return QString();
    // rfcard stores an option its card does not take, and sends nothing for
    // it: the person meant something that would not happen.
    const QStringList sent = CmdAgent::optionsSent(model);
    for (const QString &option : CmdAgent::channelOptions()) {
        if (parser.isSet(option) && !sent.contains(option))
            return QStringLiteral("--%1 is not used by the %2, which takes only --%3; rfcard "
                                  "would store it and send nothing; nothing was sent or stored")
                .arg(option, model, sent.join(QStringLiteral(", --")));
    }
    return QString();
}

int StrictRun::throughService(const QString &name, int part, int ch)
{
    ServiceRun service(name, CmdAgent::instance()->parser, m_Out);
    ServiceRun::Verdict verdict;
    if (!service.connect(&verdict))
        return finish(verdict.status, verdict.reason, verdict.advice);
    const QString refused = refusal(service.model(), part, ch);
    if (!refused.isEmpty())
        return finish(Refused, refused);
    verdict = service.run(part, ch);
    return finish(verdict.status, verdict.reason, verdict.advice);
}

int StrictRun::run(QStringList arguments)
{
    // --service is rfcard-strict's own; rfcard's parser reads the rest.
    QString service;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString a = arguments.at(i);
        const bool split = a == QLatin1String("--service") || a == QLatin1String("-service");
        if (!split && !a.startsWith(QLatin1String("--service=")))
            continue;
        if (split && i + 1 == arguments.size()) {
            say(QStringLiteral("--service needs a name or a socket's path"));
            return Usage;
        }
        service = split ? arguments.takeAt(i + 1) : a.mid(10);
        arguments.removeAt(i--);
    }
    CmdAgent *agent = CmdAgent::instance();
    agent->init();
    agent->reportOut = m_Out;
    QCommandLineParser &parser = agent->parser;
    if (!parser.parse(QStringList{QCoreApplication::applicationFilePath()} + arguments)) {
        say(parser.errorText());
        return Usage;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"))) {
        std::fputs(parser.isSet(QStringLiteral("help"))
                ? Help
                : qPrintable(QStringLiteral("rfcard-strict %1\n")
                                 .arg(QCoreApplication::applicationVersion())),
            m_Out);
        return Ok;
    }
    if (parser.optionNames().isEmpty()) {
        say(QStringLiteral("no option given (rfcard-strict --help)"));
        return Usage;
    }
    int length = 0;
    const QString overlong = agent->overlongOption(&length);
    if (!overlong.isEmpty())
        return finish(Refused,
            QStringLiteral("--%1 is %2 characters long; rfcard takes at most %3 and would "
                           "refuse the run")
                .arg(overlong)
                .arg(length)
                .arg(CmdAgent::MaxValueLength));
    const ArgumentCheck check(parser);
    if (check.verdict() != ArgumentCheck::Run)
        return finish(
            check.verdict() == ArgumentCheck::Positional ? Usage : Refused, check.reason());
    if (!service.isEmpty())
        return throughService(service, check.part(), check.channel());

    // rfcard's start-up and run, as in its main.
    qInstallMessageHandler(logLine);
    CardLog::setPrinter(printLine);
    ProgramFolder::enter();
    qDebug() << "path =" << QCoreApplication::applicationDirPath();
    RFCardParser::instance()->init();
    const int part = check.part();
    const int ch = check.channel();
    const QString model = agent->cardOfRun();
    const bool run = part == 0 || part == 1;
    const QString refused = refusal(model, part, ch);
    if (!refused.isEmpty())
        return finish(Refused, refused);
    // A port in the shared settings may have been put there by another
    // operator; one that leads to a device of theirs (a pseudo-terminal with
    // a program playing the card, a node in their folder) would take this
    // run away from the card. The device is judged as the run opened it,
    // before anything is written to it: a look at the name beforehand may
    // meet another device than the open does (a link pointed elsewhere in
    // between).
    if (run && !parser.isSet(QStringLiteral("com"))) {
        const QString stored = agent->portOfRun();
        UartAgent::setOpenGate([this, stored](const QSerialPort &port) {
            const QString refused = storedPortRefusal(stored, PortOwner::of(port));
            if (!refused.isEmpty())
                m_Foreign = refused;
            return refused;
        });
    }
    if (run && !SettingsReport::first(SettingsReport::Missing).isEmpty())
        say(QStringLiteral("no stored settings (%1 does not exist): the other channels start "
                           "from the defaults")
                .arg(SettingsReport::first(SettingsReport::Missing)));

    RunRecord record(*agent);
    if (const int status = agent->dispatch())
        return status; // refused before anything was stored; rfcard said why
    // What the run would store was meant for a card it never reached.
    if (!m_Foreign.isEmpty())
        return finish(PortFailed, m_Foreign);
    const bool saved = Corvane::Core::Instance()->saveConfig(false);

    if (run && !CardModels::isKnown(model))
        return finish(UnknownModel,
            QStringLiteral("rfcard has no driver for the card model \"%1\" and sent nothing; "
                           "give --card VN2810, JQ5140, KLR620 or JQ5120")
                .arg(model));
    if (run && !record.first({RunEvents::PortOpened})) {
        const QString port = agent->systemParams.value(QStringLiteral("com"));
        const QString notLoaded = SettingsReport::first(SettingsReport::NotLoaded);
        if (!parser.isSet(QStringLiteral("com")) && !notLoaded.isEmpty())
            say(QStringLiteral("the settings could not be read, so the port is the one rfcard "
                               "takes without them (%1): %2")
                    .arg(port, notLoaded));
        const RunEvents::Event *failed = record.first({RunEvents::PortFailed});
        // A port the service owns is reached through it.
        const QString service = ServiceRun::holding(port);
        return finish(PortFailed,
            (failed ? failed->line + QStringLiteral(": ") : QString())
                + PortDiagnosis::explain(port),
            service.isEmpty() ? QString()
                              : QStringLiteral("the rfcard service %1 owns the port: give "
                                               "--service %1 to make the run through it")
                                    .arg(service));
    }
    const RunRecord::Stage stage = part == 0 ? RunRecord::SetCommands : RunRecord::ReadBack;
    if (const RunEvents::Event *e = record.first({RunEvents::Refused}))
        return finish(Refused, record.explain(*e, model, stage));
    const QString advice
        = QStringLiteral("check the cable and the port (%1), that the card is a %2, "
                         "and that it has power")
              .arg(agent->systemParams.value(QStringLiteral("com")), model);
    if (const RunEvents::Event *e = record.first(RunRecord::faults())) {
        const QString plain = record.explain(*e, model, stage);
        say(plain);
        return finish(CardFault, e->line.isEmpty() ? plain : e->line, advice);
    }

    // A set command is taken on its reply's length and code alone, and a
    // KLR620 answers none: only asking the card shows that it took them.
    if (part == 0 && qEnvironmentVariable("RFCARD_STRICT_VERIFY") != QLatin1String("0")) {
        const int mark = record.size();
        g_Holding = true;
        const QList<CmdAgent::Difference> differences
            = agent->verify(model, ch, record.applied(ch));
        g_Holding = false;
        if (const RunEvents::Event *e = record.first(RunRecord::faults(), mark)) {
            std::fwrite(g_Held.constData(), 1, size_t(g_Held.size()), stderr);
            return finish(CardFault,
                QStringLiteral("the read-back that verifies the set run failed: %1")
                    .arg(record.explain(*e, model, RunRecord::Verification)),
                advice);
        }
        QStringList keys;
        for (const CmdAgent::Difference &d : differences) {
            say(QStringLiteral("%1: set %2, read %3")
                    .arg(d.key, d.set, d.read.isEmpty() ? QStringLiteral("nothing") : d.read));
            keys << d.key;
        }
        if (!keys.isEmpty())
            return finish(Mismatch,
                QStringLiteral("%1 on %2")
                    .arg(keys.join(QStringLiteral(", ")), channelWords(0, ch)));
    }
    if (!saved)
        return finish(NotSaved, SettingsReport::first(SettingsReport::NotSaved));
    return Ok;
}
