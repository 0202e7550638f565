#include "strict/servicerun.h"

#include "app/cmdagent.h"
#include "serial/portdiagnosis.h"
#include "serial/portname.h"
#include "store/cardmodels.h"
#include "store/safetext.h"
#include "strict/strictrun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

namespace {

// How long an answer may take: the service makes every client's commands in
// turn, and a silent card takes a second a query.
constexpr int AnswerMs = 120000;

// The service's header for each option that sets a card parameter.
QString headerOf(const QString &option)
{
    static const QList<QPair<QString, QString>> headers = {{"freq", "FREQuency"}, {"gain", "GAIN"},
        {"outfreq", "OUTFreq"}, {"band", "BAND"}, {"ref", "REFerence"}, {"workmode", "WORKmode"}};
    for (const auto &h : headers) {
        if (h.first == option)
            return h.second;
    }
    return QString();
}

} // namespace

ServiceRun::ServiceRun(const QString &service, const QCommandLineParser &parser, FILE *out)
    : m_Service(service)
    , m_Path(socketOf(service))
    , m_Parser(parser)
    , m_Out(out)
{
}

QString ServiceRun::socketOf(const QString &service)
{
    return service.contains(QLatin1Char('/')) ? service
                                              : QStringLiteral("/run/rfcard/%1.sock").arg(service);
}

QString ServiceRun::holding(const QString &port)
{
    // The shared install's service owns its card's port for as long as its
    // socket is up (the device is the service user's, mode 0600): the card
    // whose configuration, root's, names this device is the one.
    const QString device = QFileInfo(PortName::systemLocation(port)).canonicalFilePath();
    if (!device.isEmpty() && QFileInfo(device).owner() == QLatin1String("rfcardd")) {
        const QFileInfoList confs = QDir(QStringLiteral("/etc/rfcard/rfcardd"))
                                        .entryInfoList({QStringLiteral("*.conf")}, QDir::Files);
        for (const QFileInfo &conf : confs) {
            QFile file(conf.filePath());
            if (conf.ownerId() != 0 || !file.open(QIODevice::ReadOnly))
                continue;
            while (!file.atEnd()) {
                const QString line = QString::fromUtf8(file.readLine(4096)).trimmed();
                if (!line.startsWith(QLatin1String("COM=")))
                    continue;
                QString com = line.mid(4).trimmed();
                com.remove(QLatin1Char('"')).remove(QLatin1Char('\''));
                const QString name = conf.completeBaseName();
                const QFileInfo socket(socketOf(name));
                if (QFileInfo(PortName::systemLocation(PortName::normalized(com)))
                            .canonicalFilePath()
                        == device
                    && socket.exists() && socket.ownerId() == 0)
                    return name;
            }
        }
    }
    for (const qint64 pid : PortDiagnosis::holders(port)) {
        const auto read = [pid](const char *what) {
            QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(what)));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        if (read("comm").trimmed() != "rfcardd")
            continue;
        // Its --name (as the packaged units start it), else its unit
        // (rfcardd@NAME.service), else the socket it was given.
        const QList<QByteArray> args = read("cmdline").split('\0');
        const QByteArray cgroup = read("cgroup");
        const int name = args.indexOf("--name");
        const int unit = cgroup.indexOf("rfcardd@");
        const int socket = args.indexOf("--socket");
        QString service;
        if (name >= 0 && name + 1 < args.size())
            service = QString::fromLocal8Bit(args.at(name + 1));
        else if (unit >= 0)
            service = QString::fromLocal8Bit(
                cgroup.mid(unit + 8, cgroup.indexOf(".service", unit) - unit - 8));
        else if (socket >= 0 && socket + 1 < args.size())
            service = QString::fromLocal8Bit(args.at(socket + 1));
        // Only a socket that root or the user running this made is
        // suggested: anybody may start an rfcardd and name it as they like.
        const QFileInfo made(socketOf(service));
        const uint me = QFileInfo(QStringLiteral("/proc/self")).ownerId();
        if (!service.isEmpty() && made.exists() && (made.ownerId() == 0 || made.ownerId() == me))
            return service;
    }
    return QString();
}

bool ServiceRun::connect(Verdict *verdict)
{
    if (!m_Socket.connectTo(m_Path, 10000)) {
        const QFileInfo socket(m_Path);
        QString why = m_Socket.errorString().section(QLatin1String(": "), -1);
        QString advice;
        if (!socket.exists() && !socket.isSymLink()) {
            why = QStringLiteral("there is no socket");
            advice = m_Service.contains(QLatin1Char('/'))
                ? QStringLiteral("is rfcardd listening there (--socket)?")
                : QStringLiteral("is the service on? systemctl status rfcardd@%1.socket")
                      .arg(m_Service);
        } else if (m_Socket.accessDenied()) {
            advice = QStringLiteral("%1 lets its owner %2 and the group %3 connect; you are in "
                                    "neither")
                         .arg(m_Path, socket.owner(), socket.group());
        }
        *verdict = {StrictRun::PortFailed,
            QStringLiteral("the service %1 cannot be reached at %2: %3")
                .arg(m_Service, m_Path, why),
            advice};
        return false;
    }
    QByteArray idn;
    if (!ask("*IDN?", &idn, verdict))
        return false;
    const QList<QByteArray> fields = idn.split(',');
    if (fields.size() < 4 || fields.at(0) != "RFCARD") {
        *verdict = {StrictRun::PortFailed,
            QStringLiteral("%1 is not an rfcard service: it says \"%2\"")
                .arg(m_Path, SafeText::printable(QString::fromUtf8(idn.left(80)))),
            QString()};
        return false;
    }
    m_Model = QString::fromUtf8(fields.at(1));
    m_Port = QString::fromUtf8(fields.mid(2, fields.size() - 3).join(','));
    // A service whose configuration is wrong serves no card, and says why.
    if (!CardModels::isKnown(m_Model)) {
        QByteArray error;
        if (!ask("*TST?;:SYSTem:ERRor?", &error, verdict))
            return false;
        error = error.mid(error.indexOf(';') + 1);
        const QString said = QString::fromUtf8(error.mid(error.indexOf(',') + 1));
        *verdict = {StrictRun::PortFailed,
            SafeText::printable(said.mid(1, said.size() - 2).section(QLatin1String("; "), 1)),
            QString()};
        return false;
    }
    // The card and the port are the service's: a run that names others
    // meant another card.
    const QString card = m_Parser.value(QStringLiteral("card")).toUpper();
    const QString com = PortName::normalized(m_Parser.value(QStringLiteral("com")));
    const bool otherCard = m_Parser.isSet(QStringLiteral("card")) && card != m_Model;
    if (otherCard || (m_Parser.isSet(QStringLiteral("com")) && com != m_Port)) {
        *verdict = {StrictRun::Refused,
            QStringLiteral("--%1 %2 is not the service's: %3 drives the %4 on %5; nothing was "
                           "sent")
                .arg(otherCard ? QLatin1String("card") : QLatin1String("com"),
                    otherCard ? card : com, m_Service, m_Model, m_Port),
            QString()};
        return false;
    }
    return true;
}

bool ServiceRun::ask(const QByteArray &message, QByteArray *answer, Verdict *verdict)
{
    if (!m_Socket.ask(message, answer, AnswerMs)) {
        *verdict = {StrictRun::CardFault,
            QStringLiteral("the service %1 gave no answer to \"%2\": %3")
                .arg(m_Service, QString::fromLatin1(message), m_Socket.errorString()),
            QString()};
        return false;
    }
    return true;
}

ServiceRun::Verdict ServiceRun::judge(const QByteArray &error)
{
    const int code = error.left(error.indexOf(',')).toInt();
    // `code,"Text; what happened"`, its quotes doubled.
    QString said = QString::fromUtf8(error.mid(error.indexOf(',') + 1));
    said = said.mid(1, said.size() - 2).replace(QLatin1String("\"\""), QLatin1String("\""));
    const QString reason = said.section(QLatin1String("; "), 1);
    switch (code) {
    case 0:
        return {};
    case -240:
        return {StrictRun::CardFault, reason,
            QStringLiteral("check the card's cable and power, and the service's log")};
    case -241:
        return {StrictRun::PortFailed, reason, QString()};
    case -300:
        return {StrictRun::Mismatch, reason, QString()};
    case -200: // a lock another client holds kept the service from the card
        if (reason.startsWith(QLatin1String("the card is locked by"))
            || reason.contains(QLatin1String(": the card is locked by")))
            return {StrictRun::Locked, reason,
                QStringLiteral("try again once that client has let go of the lock")};
        return {StrictRun::Refused, said, QString()};
    default: // a value refused, or a command the service does not take
        return {StrictRun::Refused, said, QString()};
    }
}

ServiceRun::Verdict ServiceRun::run(int part, int ch)
{
    Verdict verdict;
    if (part == 1) {
        QByteArray report;
        QByteArray error;
        if (!ask(QStringLiteral("CHANnel%1:READ?").arg(ch + 1).toLatin1(), &report, &verdict)
            || !ask("SYSTem:ERRor?", &error, &verdict))
            return verdict;
        const QJsonDocument doc = QJsonDocument::fromJson(report);
        if (!doc.isObject())
            return {StrictRun::CardFault,
                QStringLiteral("the service's report is not JSON: %1")
                    .arg(SafeText::printable(QString::fromUtf8(report.left(80)))),
                QString()};
        const QByteArray json = doc.toJson() + '\n';
        std::fwrite(json.constData(), 1, size_t(json.size()), m_Out);
        std::fflush(m_Out);
        return judge(error);
    }
    if (part != 0)
        return verdict; // a run that only stores: nothing for the card
    // The values given, in the order rfcard sends them. A refused value ends
    // the run, as it ends rfcard's; after a card fault the rest still goes,
    // as in rfcard, and the worst of them is the verdict.
    QList<Verdict> found;
    for (const QString &option : CmdAgent::optionsSent(m_Model)) {
        if (!m_Parser.isSet(option))
            continue;
        QByteArray error;
        const QString set = QStringLiteral("CHANnel%1:%2 %3")
                                .arg(ch + 1)
                                .arg(headerOf(option), m_Parser.value(option));
        if (!ask(set.toUtf8() + ";:SYSTem:ERRor?", &error, &verdict))
            return verdict;
        const Verdict v = judge(error);
        if (v.status == StrictRun::Ok)
            continue;
        found << v;
        if (v.status == StrictRun::Refused || v.status == StrictRun::PortFailed
            || v.status == StrictRun::Locked)
            break;
    }
    for (const int status : {StrictRun::PortFailed, StrictRun::Locked, StrictRun::Refused,
             StrictRun::CardFault, StrictRun::Mismatch}) {
        for (const Verdict &v : qAsConst(found)) {
            if (v.status == status)
                return v;
        }
    }
    return verdict;
}
