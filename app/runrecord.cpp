#include "app/runrecord.h"

#include "store/cardmodels.h"
#include "store/programfolder.h"

#include <QDir>
#include <QMap>

namespace {

QString words(const QString &parameter)
{
    static const QMap<QString, QString> names
        = {{"freq", "frequency"}, {"gain", "gain"}, {"rfatt", "RF attenuation"},
            {"ifatt", "IF attenuation"}, {"workmode", "work mode"}, {"ref", "reference"},
            {"outfreq", "IF output"}, {"band", "output band"}, {"temp", "temperature"},
            {"hardch", "card type"}, {"power", "input power"}, {"warning", "warning status"}};
    return names.value(parameter, parameter);
}

// Channel numbers count from 0 on the command line: --ch 1 is the second.
QString channelWords(const char *option, int ch)
{
    static const char *const ordinals[] = {"first", "second", "third", "fourth"};
    return ch >= 0 && ch < 4 ? QStringLiteral("%1 %2 (the %3 channel)")
                                   .arg(QLatin1String(option))
                                   .arg(ch)
                                   .arg(QLatin1String(ordinals[ch]))
                             : QStringLiteral("%1 %2").arg(QLatin1String(option)).arg(ch);
}

QString hex(qint64 value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

// The range of a refused or implausible value in the option's units, and in
// the card's own where those differ ("0 to 40 (82 in the card's own steps, of
// 0 to 80)").
QString rangeText(const RunEvents::Event &e, const QString &model)
{
    const auto user = [&](qint64 v) { return CmdAgent::userValue(model, e.parameter, v); };
    QString range = QStringLiteral("%1 %2 %3")
                        .arg(user(e.low), e.high == e.low + 1 ? "or" : "to", user(e.high));
    if (e.parameter != QLatin1String("outfreq") && user(e.high) != QString::number(e.high))
        range += QStringLiteral(" (%1 in the card's own steps, of %2 to %3)")
                     .arg(e.value)
                     .arg(e.low)
                     .arg(e.high);
    return range;
}

} // namespace

RunRecord::RunRecord(const CmdAgent &agent, Naming naming)
    : m_Agent(agent)
    , m_Naming(naming)
{
    // A record made while another lives (a part of a job) leaves the outer
    // one every event too.
    m_Outer = RunEvents::setSink([this](const RunEvents::Event &e) {
        m_Events.append(e);
        if (m_Outer)
            m_Outer(e);
    });
}

RunRecord::~RunRecord()
{
    RunEvents::setSink(m_Outer);
}

const QList<RunEvents::Kind> &RunRecord::faults()
{
    static const QList<RunEvents::Kind> kinds = {RunEvents::WriteFailed, RunEvents::NoReply,
        RunEvents::BadLength, RunEvents::WrongCode, RunEvents::StatusFailed,
        RunEvents::UnknownReply, RunEvents::Implausible, RunEvents::OutOfStep};
    return kinds;
}

const RunEvents::Event *RunRecord::first(const QList<RunEvents::Kind> &kinds, int from) const
{
    for (int i = from; i < m_Events.size(); ++i) {
        if (kinds.contains(m_Events.at(i).kind))
            return &m_Events.at(i);
    }
    return nullptr;
}

CmdAgent::Readings RunRecord::applied(int ch) const
{
    CmdAgent::Readings values;
    for (const RunEvents::Event &e : m_Events) {
        if (e.kind == RunEvents::Applied && e.channel == ch)
            values.insert(e.parameter, double(e.value));
    }
    return values;
}

QString RunRecord::explain(const RunEvents::Event &e, const QString &model, Stage stage) const
{
    if (e.kind == RunEvents::Refused)
        return refusal(e, model);
    const QString channel = m_Naming == ScpiNames
        ? QStringLiteral("CHANnel%1").arg(e.channel + 1)
        : channelWords(stage == ReadBack ? "--gch" : "--ch", e.channel);
    if (e.kind == RunEvents::Implausible) {
        // A read-back reports an output by its index, 0 or 1.
        if (e.parameter == QLatin1String("outfreq"))
            return QStringLiteral("the card read back the IF output of %1 as %2; a %3 has 0 "
                                  "and 1 (its %4 and %5 MHz outputs)")
                .arg(channel)
                .arg(e.value)
                .arg(model, CmdAgent::userValue(model, e.parameter, 0),
                    CmdAgent::userValue(model, e.parameter, 1));
        if (e.parameter == QLatin1String("temp"))
            return QStringLiteral("the card read back the temperature of %1 as %2 degrees C; "
                                  "electronic parts work in %3 to %4")
                .arg(channel, CmdAgent::userValue(model, e.parameter, e.value),
                    CmdAgent::userValue(model, e.parameter, e.low),
                    CmdAgent::userValue(model, e.parameter, e.high));
        return QStringLiteral("the card read back the %1 of %2 as %3; a %4 takes %5")
            .arg(words(e.parameter), channel, CmdAgent::userValue(model, e.parameter, e.value),
                model, rangeText(e, model));
    }
    QString subject = QStringLiteral("a command");
    if (!e.parameter.isEmpty())
        subject = (stage == SetCommands ? QStringLiteral("the %1 command for %2")
                                        : QStringLiteral("the query of the %1 of %2"))
                      .arg(words(e.parameter), channel);
    const int frame = model == CardModels::Klr620 ? 8 : 10;
    switch (e.kind) {
    case RunEvents::BadLength:
        if (e.value > 0)
            return QStringLiteral("a reply of the wrong length (%1 bytes, not %2) to %3")
                .arg(e.value)
                .arg(frame)
                .arg(subject);
        Q_FALLTHROUGH();
    case RunEvents::NoReply:
        return QStringLiteral("no reply within 1 s to %1").arg(subject);
    case RunEvents::WrongCode:
        return QStringLiteral("a reply about another parameter (code %1) to %2")
            .arg(hex(e.value), subject);
    case RunEvents::StatusFailed:
        return QStringLiteral("the card reported an error (status %1) for %2")
            .arg(hex(e.value), subject);
    case RunEvents::UnknownReply:
        return QStringLiteral("a reply with a code the %1 does not use (%2) to %3, which rfcard "
                              "reads as 0")
            .arg(model, hex(e.value), subject);
    case RunEvents::OutOfStep:
        return QStringLiteral("%1 was not sent: the card has not answered since an earlier "
                              "request failed, and its late reply could be taken for this one's")
            .arg(subject);
    case RunEvents::WriteFailed:
        return QStringLiteral("%1 could not be written out (%2)")
            .arg(subject, e.detail.isEmpty() ? QStringLiteral("the device went away?") : e.detail);
    default:
        return e.detail;
    }
}

QString RunRecord::refusal(const RunEvents::Event &e, const QString &model) const
{
    // The KLR620's attenuators are set through the gain; every other
    // parameter has an option of its own name.
    const bool attenuator
        = e.parameter == QLatin1String("rfatt") || e.parameter == QLatin1String("ifatt");
    const QString option = attenuator ? QStringLiteral("gain") : e.parameter;
    bool given = true;
    const QString text = m_Agent.optionText(option, e.channel, &given);
    const QString range = rangeText(e, model);
    QString said = attenuator
        ? QStringLiteral("--gain %1 asks the %2 for an %3 of %4, and it takes %5")
              .arg(text, model, words(e.parameter))
              .arg(e.value)
              .arg(range)
        : QStringLiteral("--%1 %2 is refused: the %3 takes %4").arg(option, text, model, range);
    if (!given) {
        QString unknown;
        const QString folder = ProgramFolder::path(&unknown);
        said += QStringLiteral(
            "; --%1 %2 was stored by an earlier run (%3); give --%1 to replace it")
                    .arg(option, text, QDir(folder).filePath(QStringLiteral("rfcard.json")));
    }
    return said;
}
