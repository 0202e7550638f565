#include "daemon/scpisession.h"

#include "daemon/auditlog.h"
#include "daemon/scpicommands.h"
#include "store/cardmodels.h"
#include "store/safetext.h"

#include <QPointer>

#include <cmath>

namespace {

const QByteArray NotANumber = "9.91E37";

// Status byte bits (IEEE 488.2, SCPI).
enum StatusBit {
    ErrorAvailable = 0x04,
    QuestionableSummary = 0x08,
    MessageAvailable = 0x10,
    EventSummary = 0x20,
    Request = 0x40,
    OperationSummary = 0x80
};

// MINimum, MAXimum, DEFault as a numeric parameter.
CardService::Bound boundOf(const QByteArray &text)
{
    const QByteArray t = text.toUpper();
    if (t == "MIN" || t == "MINIMUM")
        return CardService::Minimum;
    if (t == "MAX" || t == "MAXIMUM")
        return CardService::Maximum;
    if (t == "DEF" || t == "DEFAULT")
        return CardService::Default;
    return CardService::Given;
}

// A register's value as a parameter: 0 to `high` (-1: none).
int registerValue(const QList<QByteArray> &params, int high = 255)
{
    if (params.size() != 1)
        return -1;
    const ScpiParser::Number n = ScpiParser::number(params.constFirst());
    if (!n.ok || !n.suffix.isEmpty() || !(n.value >= -0.5 && n.value < high + 0.5))
        return -1;
    return int(std::lround(n.value));
}

} // namespace

ScpiSession::ScpiSession(
    const Client &client, bool readOnly, CardService &card, CardLocks &locks, QObject *parent)
    : QObject(parent)
    , m_Client(client)
    , m_ReadOnly(readOnly)
    , m_Card(card)
    , m_Locks(locks)
{
    m_Idle.start();
    m_Locks.setName(this, client.name);
    // The card's conditions latch into this session's event registers.
    connect(&m_Card, &CardService::questionableChanged, this, &ScpiSession::latch);
}

qint64 ScpiSession::idleMs() const
{
    return m_InMessage || m_Waiting ? 0 : m_Idle.elapsed();
}

void ScpiSession::take(const QByteArray &message)
{
    m_Message = message;
    m_Position = 0;
    m_Path.clear(); // every message starts at the root
    m_InMessage = true;
    m_Responded = false;
    run();
}

void ScpiSession::resume()
{
    run();
}

void ScpiSession::clear()
{
    // The card finishes a job it has begun; its answer is dropped.
    ++m_Generation;
    m_Waiting = false;
    m_InMessage = false;
    m_Responded = false;
    m_Message = QByteArray();
    m_Idle.restart();
}

void ScpiSession::run()
{
    if (m_Running)
        return;
    m_Running = true;
    // A client that sends many quick commands gets a share of the event
    // loop, not all of it: after a few units the rest waits for its turn.
    for (int share = UnitsPerTurn; m_InMessage && !m_Waiting;) {
        if (share-- == 0) {
            QMetaObject::invokeMethod(this, &ScpiSession::run, Qt::QueuedConnection);
            break;
        }
        // A client that does not read its answers is not served more:
        // what it sends waits in the network, not here.
        if (m_Backlog && m_Backlog() > MaxUnsent)
            break;
        ScpiParser::Unit unit;
        if (ScpiParser::next(m_Message, &m_Position, &unit))
            execute(unit);
        else
            endMessage();
    }
    m_Running = false;
}

void ScpiSession::endMessage()
{
    if (m_Responded)
        emit output("\n", true);
    // From now on the answer waits in the carrier (the backlog), if at all.
    m_Responded = false;
    m_InMessage = false;
    m_Message = QByteArray();
    m_Idle.restart();
    emit done();
}

void ScpiSession::respond(const QByteArray &text)
{
    const int before = statusByte();
    emit output(m_Responded ? ';' + text : text, false);
    m_Responded = true;
    checkRequest(before);
}

void ScpiSession::error(int code, const QString &detail)
{
    const int before = statusByte();
    m_Errors.push(code, detail);
    checkRequest(before);
}

int ScpiSession::statusByte() const
{
    int stb = 0;
    if (m_Errors.count() > 0)
        stb |= ErrorAvailable;
    if (m_QuesEvent & m_QuesEnable)
        stb |= QuestionableSummary;
    if (m_Responded || (m_Backlog && m_Backlog() > 0))
        stb |= MessageAvailable;
    if (m_Errors.esr() & m_Ese)
        stb |= EventSummary;
    if (m_OperEvent & m_OperEnable)
        stb |= OperationSummary;
    if (stb & m_Sre)
        stb |= Request;
    return stb;
}

void ScpiSession::checkRequest(int before)
{
    const int now = statusByte();
    if ((now & Request) && !(before & Request))
        emit serviceRequest(now);
}

ScpiSession::~ScpiSession()
{
    setQuestionableEnable(0);
}

void ScpiSession::setQuestionableEnable(int value)
{
    // The card's conditions are kept up to date while someone watches.
    if ((m_QuesEnable != 0) != (value != 0))
        m_Card.watch(value ? 1 : -1);
    m_QuesEnable = value;
}

void ScpiSession::latch(int rose)
{
    // The card's conditions that rose (SCPI's positive transitions).
    const int before = statusByte();
    m_QuesEvent |= rose;
    checkRequest(before);
}

void ScpiSession::execute(const ScpiParser::Unit &unit)
{
    const QString header = QString::fromLatin1(unit.header);
    if (unit.error) {
        error(unit.error, QStringLiteral("%1: %2").arg(header, unit.detail));
        if (unit.query)
            respond(NotANumber);
        return;
    }
    if (unit.common)
        return common(unit);
    // A header not rooted with ":" is taken after the path the last one
    // left ("CHAN1:FREQ 1500;GAIN 10"), else from the root.
    int channel = 1;
    const ScpiCommands::Header *h
        = unit.rooted ? nullptr : ScpiCommands::find(m_Path + unit.nodes, &channel);
    QList<ScpiParser::Node> nodes = h ? m_Path + unit.nodes : unit.nodes;
    if (!h)
        h = ScpiCommands::find(nodes, &channel);
    if (!h) {
        error(-113, header);
        if (unit.query)
            respond(NotANumber);
        return;
    }
    nodes.removeLast();
    m_Path = nodes;
    if (h->command == ScpiCommands::Parameter || h->command == ScpiCommands::Read) {
        if (!unit.query && h->command == ScpiCommands::Read) {
            error(-113, QStringLiteral("%1 is a query only").arg(header));
            return;
        }
        return channelCommand(unit, QString::fromLatin1(h->key), channel);
    }
    if (h->command >= ScpiCommands::StatusEvent)
        return status(unit, h->command, h->key ? QByteArray(h->key) : QByteArray());
    if (!unit.query || !unit.params.isEmpty()) {
        error(unit.query ? -108 : -113, header);
        if (unit.query)
            respond(NotANumber);
        return;
    }
    if (h->command == ScpiCommands::ErrorNext)
        respond(m_Errors.next());
    else if (h->command == ScpiCommands::ErrorCount)
        respond(QByteArray::number(m_Errors.count()));
    else
        respond("1999.0"); // the SCPI version these commands follow
}

void ScpiSession::common(const ScpiParser::Unit &unit)
{
    const QByteArray name = unit.nodes.constFirst().name;
    const QByteArray what = (unit.query ? "*" + name + '?' : "*" + name);
    static const QList<QByteArray> known = {"*IDN?", "*CLS", "*RST", "*OPC", "*OPC?", "*WAI",
        "*ESR?", "*TST?", "*ESE", "*ESE?", "*SRE", "*SRE?", "*STB?", "*TRG"};
    const bool takesValue = what == "*ESE" || what == "*SRE";
    const auto refuse = [&](int code) {
        error(code, QString::fromLatin1(unit.header));
        if (unit.query)
            respond(NotANumber);
    };
    if (!known.contains(what))
        return refuse(-113);
    if (!takesValue && !unit.params.isEmpty())
        return refuse(-108);
    if (takesValue && unit.params.isEmpty())
        return refuse(-109);
    // Each command is done before the next starts: *WAI waits for nothing,
    // *OPC? answers as soon as it is reached.
    if (what == "*TST?" && !m_Unavailable.isEmpty()) {
        error(-241, m_Unavailable);
        respond("1");
    } else if (what == "*IDN?" && !m_Unavailable.isEmpty()) {
        respond("RFCARD,NONE,," RFCARD_VERSION); // no card is served
    } else if (what == "*IDN?") {
        QString port = m_Card.port();
        port.replace(QLatin1Char(','), QLatin1Char('_'));
        respond(QStringLiteral("RFCARD,%1,%2,%3")
                    .arg(m_Card.model(), SafeText::printable(port), QStringLiteral(RFCARD_VERSION))
                    .toUtf8());
    } else if (what == "*CLS") {
        m_Errors.clear();
        m_Errors.takeEsr();
        m_QuesEvent = m_OperEvent = 0;
    } else if (what == "*RST") {
        // The card has no reset state of its own: its settings are the
        // operators', and every framework sends *RST when it connects, so
        // it changes nothing on the card. It ends what the connection had
        // going (the header path); the status registers stay.
        m_Path.clear();
    } else if (what == "*TRG") {
        error(-210, QStringLiteral("the %1 has no trigger").arg(m_Card.model()));
    } else if (what == "*OPC") {
        m_Errors.setEsr(ScpiErrorQueue::OperationComplete);
    } else if (what == "*OPC?") {
        respond("1");
    } else if (what == "*ESR?") {
        respond(QByteArray::number(m_Errors.takeEsr()));
    } else if (what == "*ESE?") {
        respond(QByteArray::number(m_Ese));
    } else if (what == "*SRE?") {
        respond(QByteArray::number(m_Sre));
    } else if (what == "*STB?") {
        respond(QByteArray::number(statusByte()));
    } else if (takesValue) {
        const int value = registerValue(unit.params);
        if (value < 0)
            return error(unit.params.size() > 1 ? -108 : -222,
                QStringLiteral("%1: 0 to 255").arg(QString::fromLatin1(unit.header)));
        const int before = statusByte();
        if (what == "*ESE")
            m_Ese = value;
        else
            m_Sre = value & ~Request; // its own bit cannot be enabled
        checkRequest(before);
    } else if (what == "*TST?") {
        // The self-test: does the card answer a read-back of the first channel?
        CardService::Job job;
        job.kind = CardService::Job::Report;
        job.key = QStringLiteral("*TST");
        submit(job, "1", QString());
    }
}

void ScpiSession::status(const ScpiParser::Unit &unit, int command, const QByteArray &which)
{
    const bool ques = which == "ques";
    int &event = ques ? m_QuesEvent : m_OperEvent;
    int &enable = ques ? m_QuesEnable : m_OperEnable;
    const QString header = QString::fromLatin1(unit.header);
    const auto refuse = [&](int code) {
        error(code, header);
        if (unit.query)
            respond(NotANumber);
    };
    if (command == ScpiCommands::StatusPreset) {
        if (unit.query || !unit.params.isEmpty())
            return refuse(unit.query ? -113 : -108);
        setQuestionableEnable(0);
        m_OperEnable = 0;
        return;
    }
    if (command == ScpiCommands::StatusEnable && !unit.query) {
        const int value = registerValue(unit.params, 32767);
        if (value < 0)
            return error(unit.params.size() == 1 ? -222
                    : unit.params.isEmpty()      ? -109
                                                 : -108,
                header + QStringLiteral(": 0 to 32767"));
        const int before = statusByte();
        if (ques)
            setQuestionableEnable(value);
        else
            enable = value;
        return checkRequest(before);
    }
    if (!unit.query)
        return refuse(-113);
    if (!unit.params.isEmpty())
        return refuse(-108);
    if (command == ScpiCommands::StatusEnable)
        return respond(QByteArray::number(enable));
    if (command == ScpiCommands::StatusCondition)
        return respond(QByteArray::number(ques ? m_Card.questionable() : 0));
    const int value = event; // reading the event register clears it
    event = 0;
    respond(QByteArray::number(value));
}

void ScpiSession::channelCommand(const ScpiParser::Unit &unit, const QString &key, int channel)
{
    const QString model = m_Card.model();
    const QByteArray failed = key.isEmpty() ? QByteArray("{}") : NotANumber;
    if (!m_Unavailable.isEmpty()) {
        error(-241, m_Unavailable);
        if (unit.query)
            respond(failed);
        return;
    }
    // The header's long form, once the channel is known to exist.
    QString name = QString::fromLatin1(unit.header);
    const auto refuse = [&](int code, const QString &detail) {
        error(code, detail);
        if (unit.query)
            respond(failed);
        else
            AuditLog::refused(m_Client.key,
                QStringLiteral("%1: %2 %3: refused (%4, %5)")
                    .arg(AuditLog::field(m_Client.name), model,
                        AuditLog::field(
                            name + QLatin1Char(' ') + QString::fromLatin1(unit.params.join(','))))
                    .arg(code)
                    .arg(AuditLog::field(detail)));
    };
    const int channels = model == CardModels::Jq5120 ? 2 : 4;
    if (channel < 1 || channel > channels)
        return refuse(-114,
            QStringLiteral("%1: the %2 has channels 1 to %3")
                .arg(QString::fromLatin1(unit.header), model)
                .arg(channels));
    name = key.isEmpty() ? QStringLiteral("CHANnel%1:READ").arg(channel)
                         : ScpiCommands::headerName(key, channel);
    const bool settable = CmdAgent::optionsSent(model).contains(key);
    const bool reported = key.isEmpty() || CmdAgent::reportOf(model, 0, {}, true).contains(key);
    if (!settable && !reported)
        return refuse(-113, QStringLiteral("%1: the %2 has none").arg(name, model));
    CardService::Job job;
    job.channel = channel - 1;
    job.key = key;
    const CardService::Bound bound
        = unit.params.size() == 1 ? boundOf(unit.params.constFirst()) : CardService::Given;
    if (unit.query) {
        // A setting's query may ask for a bound of its range instead.
        if (!unit.params.isEmpty() && (!settable || bound == CardService::Given))
            return refuse(-108, name + QLatin1Char('?'));
        if (bound != CardService::Given && !CardService::byMode(model, key))
            return respond(
                CmdAgent::userValue(model, key, CardService::boundOf(model, key, bound, 0))
                    .toUtf8());
        job.kind = key.isEmpty() ? CardService::Job::Report : CardService::Job::Query;
        job.bound = bound;
        return submit(job, failed, QString());
    }
    if (!settable)
        return refuse(-113, QStringLiteral("%1 is a query only").arg(name));
    if (m_ReadOnly)
        return refuse(-203, QStringLiteral("%1: this listener answers queries only").arg(name));
    if (unit.params.size() != 1)
        return refuse(unit.params.isEmpty() ? -109 : -108, name);
    const QByteArray given = unit.params.constFirst();
    const QString what = QStringLiteral("%1 %2").arg(name, QString::fromLatin1(given));
    CmdAgent::CardValues &c = job.values;
    job.bound = bound;
    if (bound == CardService::Given) {
        const ScpiParser::Number n = ScpiParser::number(given);
        double scale = 1;
        if (!n.ok)
            return refuse(-104, what + QStringLiteral(": not a number"));
        if (!ScpiCommands::scaleOf(key, n.suffix, &scale))
            return refuse(-131, what);
        // In the option's unit, converted as rfcard converts the option.
        const double v = n.value * scale;
        if (!std::isfinite(v) || std::fabs(v) > 1e12)
            return refuse(-222, what + QStringLiteral(": far out of range"));
        if (key == QLatin1String("freq")) {
            c.freq = CmdAgent::truncatedInt(QString::number(v * 1000.0, 'f', 3));
        } else if (key == QLatin1String("gain")) {
            c.gain = CmdAgent::truncatedInt(v);
            c.gain2 = CmdAgent::roundedInt(v * 2.0);
        } else if (key == QLatin1String("outfreq")) {
            c.outfreq = CmdAgent::roundedInt(v * 1000.0);
        } else if (v != std::floor(v)) {
            return refuse(-104, what + QStringLiteral(": not a whole number"));
        } else {
            CardService::put(model, key, qint64(qBound(-1e9, v, 1e9)), &c);
        }
    } else if (!CardService::byMode(model, key)) {
        CardService::put(model, key, CardService::boundOf(model, key, bound, 0), &c);
    }
    // The gain of the models whose work mode chooses its path is judged
    // once the card has told its mode.
    const QString refused
        = CardService::byMode(model, key) ? QString() : CardService::refusal(model, key, c);
    if (!refused.isEmpty())
        return refuse(-222, QStringLiteral("%1: %2").arg(what, refused));
    job.kind = CardService::Job::Set;
    job.client = m_Client.name;
    job.what = what;
    submit(job, QByteArray(), what);
}

void ScpiSession::submit(const CardService::Job &job, const QByteArray &failed, const QString &what)
{
    m_Waiting = true;
    if (m_Locks.mayUse(this))
        return send(job, failed, what);
    // Another client holds the card: wait for it, up to the lock time-out.
    const QPointer<ScpiSession> self(this);
    const quint64 generation = m_Generation;
    const int wait = m_LockWaitMs < 0 ? m_Locks.waitMs() : m_LockWaitMs;
    m_Locks.waitForUse(this, wait, [self, job, failed, what, generation](bool granted) {
        if (!self || self->m_Generation != generation)
            return;
        if (granted)
            return self->send(job, failed, what);
        const QString holder = self->m_Locks.holderOf(self);
        const QString detail = QStringLiteral("the card is locked by %1").arg(holder);
        if (job.kind == CardService::Job::Set)
            AuditLog::setDone(self->m_Client.name, self->m_Card.model(), what, -200, detail);
        self->error(-200, what.isEmpty() ? detail : what + QStringLiteral(": ") + detail);
        if (job.kind != CardService::Job::Set)
            self->respond(job.key == QLatin1String("*TST") ? QByteArray("1") : failed);
        self->m_Waiting = false;
        self->run();
    });
}

void ScpiSession::send(const CardService::Job &job, const QByteArray &failed, const QString &what)
{
    const QPointer<ScpiSession> self(this);
    const bool test = job.key == QLatin1String("*TST");
    const QString peer = m_Client.name;
    const QString model = m_Card.model();
    const quint64 generation = m_Generation;
    m_Card.submit(m_Client.key, job,
        [self, job, failed, what, peer, model, test, generation](const CardService::Outcome &o) {
            if (job.kind == CardService::Job::Set)
                AuditLog::setDone(peer, model, what, o.error, o.detail);
            // Gone, or cleared meanwhile: the answer is nobody's.
            if (!self || self->m_Generation != generation)
                return;
            if (o.error)
                self->error(
                    o.error, what.isEmpty() ? o.detail : what + QStringLiteral(": ") + o.detail);
            if (test)
                self->respond(o.error ? "1" : "0");
            else if (job.kind != CardService::Job::Set)
                self->respond(o.text.isEmpty() ? failed : o.text.toUtf8());
            self->m_Waiting = false;
            self->run();
        });
}
