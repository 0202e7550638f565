#include "daemon/cardservice.h"

#include "app/runrecord.h"
#include "cards/jq/jqflmodule.h"
#include "cards/klr/klrlmodule.h"
#include "cards/protocolmodules.h"
#include "cards/vn/vnlmodule.h"
#include "daemon/auditlog.h"
#include "serial/portdiagnosis.h"
#include "store/cardmodels.h"
#include "store/rfcardparser.h"

#include <QJsonDocument>

#include <climits>

namespace {

// The module of a model, made (or released) on the calling thread: the
// serial port it owns then belongs to that thread, the only one that uses it.
void makeModule(const QString &model, bool make)
{
    if (model == CardModels::Jq5140)
        jqFourModule = make ? std::make_shared<JQFLModule>() : nullptr;
    else if (model == CardModels::Jq5120)
        jqTwoModule = make ? std::make_shared<JQFLModule>() : nullptr;
    else if (model == CardModels::Vn2810)
        vnModule = make ? std::make_shared<VNLModule>() : nullptr;
    else if (model == CardModels::Klr620)
        klrModule = make ? std::make_shared<KLRLModule>() : nullptr;
}

const UartAgent &lineOf(const QString &model)
{
    if (model == CardModels::Jq5140)
        return jqFourModule->uart();
    if (model == CardModels::Jq5120)
        return jqTwoModule->uart();
    if (model == CardModels::Vn2810)
        return vnModule->uart();
    return klrModule->uart();
}

} // namespace

CardService::CardService(const QString &model, const QString &port)
    : m_Model(model)
    , m_Port(port)
    , m_Agent(CmdAgent::instance())
{
    makeModule(m_Model, false); // the one made before main belongs to this thread
}

CardService::~CardService()
{
    stop();
    wait();
}

void CardService::submit(const QString &client, const Job &job, Done done)
{
    QMutexLocker lock(&m_Mutex);
    m_Jobs[client].enqueue(qMakePair(job, std::move(done)));
    // A client whose job is being made gets its next turn when that ends.
    if (client != m_Serving && !m_Turns.contains(client))
        m_Turns << client;
    m_Wake.wakeOne();
}

void CardService::stop()
{
    QMutexLocker lock(&m_Mutex);
    m_Stopping = true;
    m_Jobs.clear();
    m_Turns.clear();
    m_Wake.wakeOne();
}

void CardService::run()
{
    makeModule(m_Model, true);
    QString why;
    if (!ensureOpen(&why))
        AuditLog::say(why + QStringLiteral("; it is tried again at the next command"));
    for (;;) {
        QPair<Job, Done> next;
        {
            QMutexLocker lock(&m_Mutex);
            bool due = false;
            while (m_Turns.isEmpty() && !m_Stopping && !due)
                due = !m_Wake.wait(&m_Mutex, m_Watchers.loadRelaxed() > 0 ? 1000 : ULONG_MAX);
            if (m_Stopping)
                break;
            if (due && m_Turns.isEmpty()) {
                lock.unlock();
                poll();
                continue;
            }
            m_Serving = m_Turns.takeFirst();
            QQueue<QPair<Job, Done>> &jobs = m_Jobs[m_Serving];
            next = jobs.dequeue();
            if (jobs.isEmpty())
                m_Jobs.remove(m_Serving);
        }
        const Outcome outcome = perform(next.first);
        {
            // Its next job after those of everyone who came meanwhile.
            QMutexLocker lock(&m_Mutex);
            if (m_Jobs.contains(m_Serving))
                m_Turns << m_Serving;
            m_Serving.clear();
        }
        const Done done = next.second;
        QMetaObject::invokeMethod(
            this, [done, outcome] { done(outcome); }, Qt::QueuedConnection);
    }
    makeModule(m_Model, false); // the port closes where it was opened
}

bool CardService::ensureOpen(QString *why)
{
    const UartAgent &line = lineOf(m_Model);
    if (line.isOpen() && !line.lineLost())
        return true;
    const bool again = line.isOpen();
    m_Agent->openCard(m_Model, m_Port);
    if (lineOf(m_Model).isOpen()) {
        AuditLog::say(QStringLiteral("%1 %2").arg(again ? "opened again" : "opened", m_Port));
        return true;
    }
    *why = QStringLiteral("%1 did not open: %2").arg(m_Port, PortDiagnosis::explain(m_Port));
    return false;
}

CardService::Outcome CardService::perform(const Job &job)
{
    QString why;
    if (!ensureOpen(&why))
        return {-241, why, QString()};
    RunRecord record(*m_Agent, RunRecord::ScpiNames);
    const Outcome outcome = job.kind == Job::Set ? set(job) : query(job);
    if (record.first({RunEvents::SettingsRestored}))
        AuditLog::say(QStringLiteral("%1: the line's settings had been changed by another program "
                                     "and were put back in full")
                          .arg(m_Port));
    return outcome;
}

void CardService::watch(int delta)
{
    m_Watchers.fetchAndAddRelaxed(delta);
    QMutexLocker lock(&m_Mutex);
    m_Wake.wakeOne();
}

void CardService::poll()
{
    QString why;
    const bool klr = m_Model == CardModels::Klr620;
    if ((!klr && m_Model == CardModels::Jq5120) || !ensureOpen(&why))
        return;
    const int channels = 4;
    m_PollChannel = (m_PollChannel + 1) % channels;
    RunRecord record(*m_Agent, RunRecord::ScpiNames);
    note(m_PollChannel,
        m_Agent->takeReadings(
            m_Model, m_PollChannel, {klr ? QStringLiteral("warning") : QStringLiteral("temp")}));
}

void CardService::note(int channel, const CmdAgent::Readings &r)
{
    if (channel < 0 || channel >= m_ChannelConditions.size())
        return;
    int &bits = m_ChannelConditions[channel];
    if (r.contains(QStringLiteral("warning")))
        bits = r.value(QStringLiteral("warning")) != 0 ? (bits | Warning) : (bits & ~Warning);
    if (r.contains(QStringLiteral("temp"))) {
        const CardLimits::Range range = CardLimits::of(
            m_Model == CardModels::Vn2810 ? CardLimits::Vn2810 : CardLimits::Jq5140, "temp");
        bits = range.contains(qint64(r.value(QStringLiteral("temp")))) ? (bits & ~Temperature)
                                                                       : (bits | Temperature);
    }
    int all = 0;
    for (const int b : qAsConst(m_ChannelConditions))
        all |= b;
    const int before = m_Questionable.fetchAndStoreRelaxed(all);
    // Emitted on the thread the sessions live on, in one go: a signal from
    // here would post each session its own event, and a client that heard
    // of the change from one of its connections could ask another before
    // that one's event was posted.
    if (const int rose = all & ~before)
        QMetaObject::invokeMethod(
            this, [this, rose] { emit questionableChanged(rose); }, Qt::QueuedConnection);
}

CardService::Outcome CardService::query(const Job &job)
{
    RunRecord record(*m_Agent, RunRecord::ScpiNames);
    if (job.bound != Given) {
        // The range of a gain the card's work mode decides.
        const CmdAgent::Readings mode
            = m_Agent->takeReadings(m_Model, job.channel, {QStringLiteral("workmode")});
        if (const RunEvents::Event *e = record.first(RunRecord::faults()))
            return {-240, record.explain(*e, m_Model, RunRecord::ReadBack), QString()};
        const int workmode = int(mode.value(QStringLiteral("workmode")));
        return {0, QString(),
            CmdAgent::userValue(m_Model, job.key, boundOf(m_Model, job.key, job.bound, workmode))};
    }
    const bool whole = job.kind == Job::Report;
    const CmdAgent::Readings r = m_Agent->takeReadings(
        m_Model, job.channel, whole ? QStringList() : CmdAgent::readingsFor(m_Model, job.key));
    note(job.channel, r);
    const RunEvents::Event *fault = record.first(RunRecord::faults());
    const QString failed = fault ? record.explain(*fault, m_Model, RunRecord::ReadBack) : QString();
    const QVariantMap report = CmdAgent::reportOf(m_Model, job.channel, r, whole);
    // The whole report is rfcard's, also when a reading failed: that key's
    // text is then empty, as rfcard --part 1 prints it.
    if (whole)
        return {fault ? -240 : 0, failed,
            QString::fromUtf8(QJsonDocument::fromVariant(report).toJson(QJsonDocument::Compact))};
    if (fault)
        return {-240, failed, QString()};
    const QString text = report.value(job.key).toString();
    // A query answers in the unit its command sets: the output in MHz.
    if (job.key == QLatin1String("outfreq"))
        return {0, QString(), CmdAgent::userValue(m_Model, job.key, text.toInt())};
    return {0, QString(), text};
}

CardService::Outcome CardService::set(const Job &job)
{
    RunRecord record(*m_Agent, RunRecord::ScpiNames);
    CmdAgent::CardValues v = job.values;
    // On the JQ5140 and the KLR620 the work mode the card is in decides how
    // a gain is made, and so what it may be.
    const bool modal = byMode(m_Model, job.key);
    if (modal) {
        const CmdAgent::Readings mode
            = m_Agent->takeReadings(m_Model, job.channel, {QStringLiteral("workmode")});
        if (const RunEvents::Event *e = record.first(RunRecord::faults()))
            return {-240, record.explain(*e, m_Model, RunRecord::ReadBack), QString()};
        v.workmode = int(mode.value(QStringLiteral("workmode")));
        if (job.bound != Given)
            put(m_Model, job.key, boundOf(m_Model, job.key, job.bound, v.workmode), &v);
        const QString refused = refusal(m_Model, job.key, v);
        if (!refused.isEmpty())
            return {-222, refused + QStringLiteral(" in work mode %1").arg(v.workmode), QString()};
    }
    const int sent = record.size();
    AuditLog::setStarted(job.client, m_Model, job.what);
    m_Agent->applyOption(m_Model, job.channel, job.key, v);
    if (const RunEvents::Event *e = record.first(RunRecord::faults(), sent))
        return {-240, record.explain(*e, m_Model, RunRecord::SetCommands), QString()};
    if (record.first({RunEvents::Refused}, sent))
        return {-222, refusal(m_Model, job.key, v), QString()};
    CmdAgent::Readings applied = record.applied(job.channel);
    if (modal)
        applied.insert(QStringLiteral("workmode"), v.workmode);
    const int checked = record.size();
    const QList<CmdAgent::Difference> differences = m_Agent->verify(m_Model, job.channel, applied);
    if (const RunEvents::Event *e = record.first(RunRecord::faults(), checked))
        return {-240,
            QStringLiteral("the query that checks it: %1")
                .arg(record.explain(*e, m_Model, RunRecord::Verification)),
            QString()};
    QStringList said;
    for (const CmdAgent::Difference &d : differences)
        said << QStringLiteral("%1: set %2, read %3")
                    .arg(d.key, d.set, d.read.isEmpty() ? QStringLiteral("nothing") : d.read);
    if (!said.isEmpty())
        return {-300, said.join(QStringLiteral("; ")), QString()};
    return {};
}

qint64 CardService::valueOf(
    const QString &model, const QString &option, const CmdAgent::CardValues &v)
{
    return option == QLatin1String("freq")   ? v.freq
        : option == QLatin1String("gain")    ? (model == CardModels::Klr620 ? v.gain : v.gain2)
        : option == QLatin1String("outfreq") ? CmdAgent::outputIndex(model, v.outfreq)
        : option == QLatin1String("band")    ? v.band
        : option == QLatin1String("ref")     ? v.ref
                                             : v.workmode;
}

bool CardService::byMode(const QString &model, const QString &option)
{
    return option == QLatin1String("gain")
        && (model == CardModels::Jq5140 || model == CardModels::Klr620);
}

qint64 CardService::boundOf(const QString &model, const QString &option, Bound bound, int workmode)
{
    const CardLimits::Range range = CmdAgent::limitOf(model, option, workmode);
    // The outputs go by their index: the VN2810's second (21.4 MHz) is
    // its lower one.
    const bool reversed = CmdAgent::userValue(model, option, range.low).toDouble()
        > CmdAgent::userValue(model, option, range.high).toDouble();
    if (bound == Minimum || bound == Maximum)
        return (bound == Maximum) != reversed ? range.high : range.low;
    const qint64 value = valueOf(model, option,
        CmdAgent::cardValues({{option, RFCardParser::channelDefault(option)},
            {QStringLiteral("gain2"), RFCardParser::channelDefault(QStringLiteral("gain2"))}}));
    return range.contains(value) ? value : range.low;
}

void CardService::put(
    const QString &model, const QString &option, qint64 value, CmdAgent::CardValues *v)
{
    if (option == QLatin1String("freq")) {
        v->freq = int(value);
    } else if (option == QLatin1String("gain")) {
        v->gain = int(model == CardModels::Klr620 ? value : value / 2);
        v->gain2 = int(model == CardModels::Klr620 ? value * 2 : value);
    } else if (option == QLatin1String("outfreq")) {
        v->outfreq
            = CmdAgent::roundedInt(CmdAgent::userValue(model, option, value).toDouble() * 1000.0);
    } else {
        int &field = option == QLatin1String("band") ? v->band
            : option == QLatin1String("ref")         ? v->ref
                                                     : v->workmode;
        field = int(value);
    }
}

QString CardService::refusal(
    const QString &model, const QString &option, const CmdAgent::CardValues &v)
{
    const CardLimits::Range range = CmdAgent::limitOf(model, option, v.workmode);
    if (range.contains(valueOf(model, option, v)))
        return QString();
    const auto user = [&](qint64 x) { return CmdAgent::userValue(model, option, x); };
    if (range.high < range.low)
        return QStringLiteral("the %1 sets no gain").arg(model);
    return QStringLiteral("the %1 takes %2 %3 %4")
        .arg(model, user(range.low), range.high == range.low + 1 ? "or" : "to", user(range.high));
}
