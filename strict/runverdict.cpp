#include "strict/runverdict.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>
#include <iterator>

namespace {

const QByteArray Models[] = {"VN2810", "JQ5140", "KLR620", "JQ5120"};

// "setAllParams cardname =  \"JQ5140\" param = ..." and
// "readAllParams cardname = \"JQ5140\"  ch = 0" name the model of the run.
bool modelOf(const QByteArray &line, const char *prefix, QByteArray &model)
{
    if (!line.startsWith(prefix))
        return false;
    const int open = line.indexOf('"');
    const int close = line.indexOf('"', open + 1);
    if (open < 0 || close < 0)
        return false;
    model = line.mid(open + 1, close - open - 1);
    return true;
}

// The card drivers' and protocol modules' refusals of a value, before it is
// sent: "error: VNCard SetGain,freq overflow, gain =  82", "rfAtt overflow",
// "error: JQFLModule::lSetClkSelect param val overflow", ...
bool isRefusal(const QByteArray &line)
{
    return (line.startsWith("error: ")
               && (line.contains(",freq overflow, ") || line.endsWith("param val overflow")))
        || line == "rfAtt overflow" || line == "outFreq overflow";
}

// An exchange that went wrong: nothing or too little came back in time, the
// reply echoed another code, the card flagged the query as failed.
bool isCardFault(const QByteArray &line)
{
    return line.contains("::lSetInterface Ret error:")
        || line.startsWith("LModule::lSetInterface: m_RecvLen error")
        || line.startsWith("LModule::RFInterface: Parameter error")
        || line.contains(" Query failed, val =")
        || line.startsWith("error, uart replay failed code=")
        || line.startsWith("error: uart RF recv error");
}

// The JQ protocol module logs every request it writes; a set request starts
// with FE, the set command 03 and the parameter code.
const char JqSetRequest[] = "createCmd ucbuf \"fe 03 ";

struct JqCommand {
    QByteArray codes; // any one of them does
    const char *name;
};

// The set commands of a JQ set run, as rfcard sends them (hex codes as the
// request log shows them). The JQ5140's gain goes to the RF attenuator in
// work mode 0 and to the IF adjust attenuator in mode 1.
const JqCommand Jq5140Commands[] = {
    {"07", "work mode"},
    {"02", "frequency"},
    {"08 0a", "gain"},
    {"0b", "reference"},
    {"0c", "output"},
};
const JqCommand Jq5120Commands[] = {
    {"02", "frequency"},
    {"09", "gain (IF attenuator)"},
    {"08", "gain (RF attenuator)"},
    {"0b", "reference"},
    {"10", "output band"},
};

// "a, b or c"
QString orList(QStringList items)
{
    const QString last = items.takeLast();
    return items.isEmpty() ? last
                           : items.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

} // namespace

QString RunVerdict::meaning(Status status)
{
    switch (status) {
    case Ok:
        return QStringLiteral("done");
    case Usage:
        return QStringLiteral("usage error");
    case Refused:
        return QStringLiteral("a value was refused");
    case CardFault:
        return QStringLiteral("the card did not answer or answered wrongly");
    case PortFailed:
        return QStringLiteral("the port could not be opened");
    case UnknownModel:
        return QStringLiteral("unknown card model");
    case NotSaved:
        return QStringLiteral("settings not saved");
    case Mismatch:
        return QStringLiteral("the card does not hold what was set");
    case NotRun:
        break;
    }
    return QStringLiteral("rfcard did not run or end normally");
}

void RunVerdict::note(QByteArray &first, const QByteArray &line)
{
    if (first.isEmpty())
        first = line;
}

void RunVerdict::addLine(const QByteArray &line)
{
    QByteArray model;
    if (modelOf(line, "setAllParams cardname =", model)) {
        m_Run = Run::Set;
        m_Model = model;
        m_Applied = line;
    } else if (modelOf(line, "readAllParams cardname =", model)) {
        m_Run = Run::ReadBack;
        m_Model = model;
    } else if (line.startsWith("open uart ")) {
        if (line.endsWith(" failed")) {
            note(m_PortFailure, line);
        } else if (line.endsWith(" sucess")) {
            m_PortOpened = true;
            m_PortOpenedLine = line;
        }
    } else if (line.startsWith("ready1 =") && line.endsWith("false")) {
        // A KLR620 set command that was never written out (the device went
        // away): the card cannot have taken it.
        note(m_CardFault, line);
    } else if (line.startsWith("warning: cannot save settings")) {
        note(m_SaveFailure, line);
    } else if (line.startsWith("error: uart send not finished")) {
        // A request that could not be written: the port never opened, or
        // the device went away after it did.
        note(m_PortOpened ? m_CardFault : m_PortFailure, line);
    } else if (line.startsWith(JqSetRequest)) {
        m_JqSetCodes.insert(line.mid(int(sizeof JqSetRequest) - 1, 2));
    } else if (isRefusal(line)) {
        note(m_Refusal, line);
    } else if (isCardFault(line)) {
        note(m_CardFault, line);
    }
}

QString RunVerdict::unsentJqCommands() const
{
    const bool four = m_Model == "JQ5140";
    if (m_Run != Run::Set || (!four && m_Model != "JQ5120"))
        return QString();
    QStringList missing;
    const auto check = [&](const JqCommand &command) {
        bool sent = false;
        for (const QByteArray &code : command.codes.split(' '))
            sent = sent || m_JqSetCodes.contains(code);
        if (!sent)
            missing << QString::fromLatin1(command.name);
    };
    if (four) {
        for (const JqCommand &command : Jq5140Commands)
            check(command);
    } else {
        for (const JqCommand &command : Jq5120Commands)
            check(command);
    }
    if (missing.isEmpty())
        return QString();
    return QStringLiteral("the %1 set run sent no %2 command, without a line saying why: "
                          "the JQ drivers drop a gain outside 0 to 50 dB, and the JQ5140 "
                          "drops a work mode other than 0 or 1 (and the gain with it)")
        .arg(QString::fromLatin1(m_Model), orList(missing));
}

QString RunVerdict::implausibleKlrReport(const QByteArray &report) const
{
    // A KLR620 reply is decoded by the reply code it carries; one whose code
    // rfcard does not know (a wrong code, line noise of frame length) reads
    // as 0 without any line. The card holds 20 to 6000 MHz and band 2 or 3
    // only, so a 0 there shows such a reply.
    const QJsonObject values = QJsonDocument::fromJson(report).object();
    const QString freq = values.value(QStringLiteral("freq")).toString();
    const QString band = values.value(QStringLiteral("band")).toString();
    if (!freq.isEmpty() && (freq.toDouble() < 20 || freq.toDouble() > 6000))
        return QStringLiteral("the KLR620 read back a frequency of %1 MHz, outside the 20 to "
                              "6000 MHz it can hold: a reply rfcard could not decode")
            .arg(freq);
    if (!band.isEmpty() && band != QLatin1String("2") && band != QLatin1String("3"))
        return QStringLiteral("the KLR620 read back band %1, not 2 or 3: a reply rfcard could "
                              "not decode")
            .arg(band);
    return QString();
}

RunVerdict::Status RunVerdict::status(int exitCode, const QByteArray &report)
{
    m_Reason.clear();
    if (exitCode == 1)
        return Usage;
    if (exitCode != 0) {
        m_Reason = exitCode < 0 ? QStringLiteral("rfcard did not end normally")
                                : QStringLiteral("rfcard ended with status %1").arg(exitCode);
        return NotRun;
    }
    if (m_Run == Run::None)
        return Ok; // help, version, or a run that only stores card and port
    if (!std::count(std::begin(Models), std::end(Models), m_Model)) {
        m_Reason = QStringLiteral("rfcard has no driver for the card model \"%1\" and sent "
                                  "nothing; give --card VN2810, JQ5140, KLR620 or JQ5120")
                       .arg(QString::fromLatin1(m_Model));
        return UnknownModel;
    }
    if (m_Run == Run::ReadBack && report.isEmpty()) {
        m_Reason = QStringLiteral("rfcard printed no report");
        return NotRun;
    }
    if (!m_PortFailure.isEmpty()) {
        m_Reason = m_PortFailure.startsWith("open uart ")
            ? QString::fromLocal8Bit(m_PortFailure)
            : QStringLiteral("rfcard opened no port (an empty --com?): %1")
                  .arg(QString::fromLocal8Bit(m_PortFailure));
        return PortFailed;
    }
    if (!m_Refusal.isEmpty()) {
        m_Reason = QString::fromLocal8Bit(m_Refusal);
        return Refused;
    }
    m_Reason = unsentJqCommands();
    if (!m_Reason.isEmpty())
        return Refused;
    if (!m_CardFault.isEmpty()) {
        m_Reason = QString::fromLocal8Bit(m_CardFault);
        return CardFault;
    }
    if (m_Run == Run::ReadBack && m_Model == "KLR620") {
        m_Reason = implausibleKlrReport(report);
        if (!m_Reason.isEmpty())
            return CardFault;
    }
    if (!m_SaveFailure.isEmpty()) {
        m_Reason = QString::fromLocal8Bit(m_SaveFailure);
        return NotSaved;
    }
    return Ok;
}

namespace {

// The text of the first quoted QString in one of rfcard's debug lines, as
// qDebug() quotes it (with \" and \\ escaped).
QString quoted(const QByteArray &line)
{
    const int open = line.indexOf('"');
    const int close = line.lastIndexOf('"');
    if (open < 0 || close <= open)
        return QString();
    QByteArray text;
    for (int i = open + 1; i < close; ++i) {
        if (line.at(i) == '\\' && i + 1 < close)
            ++i;
        text += line.at(i);
    }
    return QString::fromUtf8(text);
}

} // namespace

QString RunVerdict::failedPort() const
{
    return m_PortFailure.startsWith("open uart ") ? quoted(m_PortFailure) : QString();
}

QString RunVerdict::openedPort() const
{
    return quoted(m_PortOpenedLine);
}
