#include "daemon/scpisession.h"

#include "daemon/scpicommands.h"
#include "daemon/sockettuning.h"
#include "store/cardmodels.h"
#include "store/safetext.h"

#include <QAbstractSocket>
#include <QLocalSocket>
#include <QPointer>

#include <cmath>
#include <cstdio>

namespace {

const QByteArray NotANumber = "9.91E37";

// Every set is said, whoever made it and whether or not the client is still
// there to hear how it went.
void logSet(
    const QString &peer, const QString &model, const QString &what, int code, const QString &detail)
{
    // Hardware errors and a card that does not hold the value are the card's.
    const QString outcome = code == 0                  ? QStringLiteral("verified")
        : code == -240 || code == -241 || code == -300 ? QStringLiteral("card fault")
                                                       : QStringLiteral("refused");
    QString line = QStringLiteral("%1: %2 %3: %4").arg(peer, model, what, outcome);
    if (code)
        line += QStringLiteral(" (%1, %2)").arg(code).arg(detail);
    std::fprintf(stderr, "rfcardd: %s\n", SafeText::printable(line).toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

ScpiSession::ScpiSession(
    QIODevice *device, const QString &peer, bool readOnly, CardService &card, QObject *parent)
    : QObject(parent)
    , m_Device(device)
    , m_Peer(peer)
    , m_ReadOnly(readOnly)
    , m_Card(card)
{
    m_Device->setParent(this);
    // Qt stops reading from the connection once this much waits unread: a
    // client that writes without end is held back by the network, and a
    // line that fills it without ending is too long.
    if (auto *tcp = qobject_cast<QAbstractSocket *>(m_Device)) {
        tcp->setReadBufferSize(MaxMessage + 1);
        tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(tcp, &QAbstractSocket::disconnected, this, &ScpiSession::gone);
    } else if (auto *local = qobject_cast<QLocalSocket *>(m_Device)) {
        local->setReadBufferSize(MaxMessage + 1);
        connect(local, &QLocalSocket::disconnected, this, &ScpiSession::gone);
    }
    // The client closing its side comes before the connection is gone, with
    // what it sent last still to be read.
    connect(m_Device, &QIODevice::readChannelFinished, this, &ScpiSession::gone);
    connect(m_Device, &QIODevice::readyRead, this, &ScpiSession::readInput);
    connect(m_Device, &QIODevice::bytesWritten, this, &ScpiSession::run);
    readInput();
}

void ScpiSession::readInput()
{
    while (m_Messages.size() < MaxQueued && m_Device->canReadLine()) {
        QByteArray line = m_Device->readLine();
        line.chop(line.endsWith("\r\n") ? 2 : 1);
        m_Messages.enqueue(line);
    }
    // The end of the connection ends a last message without a line end.
    if (m_Gone && m_Messages.size() < MaxQueued && !m_Device->canReadLine()
        && m_Device->bytesAvailable() > 0 && m_Device->bytesAvailable() <= MaxMessage)
        m_Messages.enqueue(m_Device->readAll());
    if (auto *tcp = qobject_cast<QAbstractSocket *>(m_Device))
        SocketTuning::acknowledgeAtOnce(tcp->socketDescriptor());
    if (m_Messages.size() < MaxQueued && !m_Device->canReadLine()
        && m_Device->bytesAvailable() > MaxMessage) {
        // No line end in all that can be held: the rest of the connection
        // cannot be read as messages.
        m_Device->write(QByteArray::number(-363) + ",\"" + ScpiErrorQueue::text(-363).toUtf8()
            + "; a message over 64 KiB\"\n");
        std::fprintf(stderr, "rfcardd: %s sent a message over 64 KiB; connection closed\n",
            qPrintable(SafeText::printable(m_Peer)));
        m_Messages.clear();
        m_Device->close();
        end();
        return;
    }
    run();
}

void ScpiSession::run()
{
    while (!m_Waiting && !m_Ended) {
        if (m_InMessage && m_Next >= m_Units.size()) {
            m_InMessage = false;
            if (!m_Responses.isEmpty() && !m_Gone)
                m_Device->write(m_Responses.join(';') + '\n');
            m_Responses.clear();
        }
        if (!m_InMessage) {
            if (m_Gone && m_Messages.isEmpty() && !m_Device->canReadLine())
                return end();
            // A client that does not read its answers is not served more.
            if (m_Messages.isEmpty() || (!m_Gone && m_Device->bytesToWrite() > MaxUnsent))
                break;
            m_Units = ScpiParser::parse(m_Messages.dequeue());
            m_Next = 0;
            m_Path.clear(); // every message starts at the root
            m_InMessage = true;
            if (m_Device->canReadLine())
                QMetaObject::invokeMethod(this, &ScpiSession::readInput, Qt::QueuedConnection);
            continue;
        }
        execute(m_Units.at(m_Next++));
    }
}

void ScpiSession::gone()
{
    if (m_Gone)
        return;
    m_Gone = true;
    readInput();
}

void ScpiSession::end()
{
    if (!m_Ended)
        emit finished();
    m_Ended = true;
}

void ScpiSession::respond(const QByteArray &text)
{
    m_Responses << text;
}

void ScpiSession::error(int code, const QString &detail)
{
    m_Errors.push(code, detail);
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
    static const QList<QByteArray> known
        = {"*IDN?", "*CLS", "*OPC", "*OPC?", "*WAI", "*ESR?", "*TST?"};
    if (!known.contains(what)) {
        error(-113, QString::fromLatin1(unit.header));
        if (unit.query)
            respond(NotANumber);
        return;
    }
    if (!unit.params.isEmpty()) {
        error(-108, QString::fromLatin1(unit.header));
        if (unit.query)
            respond(NotANumber);
        return;
    }
    // Each command is done before the next starts: *WAI waits for nothing,
    // *OPC? answers as soon as it is reached.
    if (what == "*IDN?") {
        QString port = m_Card.port();
        port.replace(QLatin1Char(','), QLatin1Char('_'));
        respond(QStringLiteral("RFCARD,%1,%2,%3")
                    .arg(m_Card.model(), SafeText::printable(port), QStringLiteral(RFCARD_VERSION))
                    .toUtf8());
    } else if (what == "*CLS") {
        m_Errors.clear();
        m_Errors.takeEsr();
    } else if (what == "*OPC") {
        m_Errors.setEsr(ScpiErrorQueue::OperationComplete);
    } else if (what == "*OPC?") {
        respond("1");
    } else if (what == "*ESR?") {
        respond(QByteArray::number(m_Errors.takeEsr()));
    } else if (what == "*TST?") {
        // The self-test: does the card answer a read-back of the first channel?
        CardService::Job job;
        job.kind = CardService::Job::Report;
        job.key = QStringLiteral("*TST");
        submit(job, "1", QString());
    }
}

void ScpiSession::channelCommand(const ScpiParser::Unit &unit, const QString &key, int channel)
{
    const QString model = m_Card.model();
    const QByteArray failed = key.isEmpty() ? QByteArray("{}") : NotANumber;
    // The header's long form, once the channel is known to exist.
    QString name = QString::fromLatin1(unit.header);
    const auto refuse = [&](int code, const QString &detail) {
        error(code, detail);
        if (unit.query)
            respond(failed);
        else
            logSet(m_Peer, model,
                name + QLatin1Char(' ') + QString::fromLatin1(unit.params.join(',')), code, detail);
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
    if (unit.query) {
        if (!unit.params.isEmpty())
            return refuse(-108, name + QLatin1Char('?'));
        job.kind = key.isEmpty() ? CardService::Job::Report : CardService::Job::Query;
        return submit(job, failed, QString());
    }
    if (!settable)
        return refuse(-113, QStringLiteral("%1 is a query only").arg(name));
    if (m_ReadOnly)
        return refuse(-203, QStringLiteral("%1: this listener answers queries only").arg(name));
    if (unit.params.size() != 1)
        return refuse(unit.params.isEmpty() ? -109 : -108, name);
    const QByteArray given = unit.params.constFirst();
    const ScpiParser::Number n = ScpiParser::number(given);
    double scale = 1;
    if (!n.ok || !std::isfinite(n.value))
        return refuse(
            -104, QStringLiteral("%1 %2: not a number").arg(name, QString::fromLatin1(given)));
    if (!ScpiCommands::scaleOf(key, n.suffix, &scale))
        return refuse(-131, QStringLiteral("%1 %2").arg(name, QString::fromLatin1(given)));
    // In the option's unit, converted as rfcard converts the option.
    const double v = n.value * scale;
    CmdAgent::CardValues &c = job.values;
    if (key == QLatin1String("freq")) {
        c.freq = CmdAgent::truncatedInt(QString::number(v * 1000.0, 'f', 3));
    } else if (key == QLatin1String("gain")) {
        c.gain = CmdAgent::truncatedInt(v);
        c.gain2 = CmdAgent::roundedInt(v * 2.0);
    } else if (key == QLatin1String("outfreq")) {
        c.outfreq = CmdAgent::roundedInt(v * 1000.0);
    } else if (v != std::floor(v) || std::fabs(v) > 1e6) {
        return refuse(-104,
            QStringLiteral("%1 %2: not a whole number").arg(name, QString::fromLatin1(given)));
    } else {
        int &field = key == QLatin1String("band") ? c.band
            : key == QLatin1String("ref")         ? c.ref
                                                  : c.workmode;
        field = int(v);
    }
    // The gain of the models whose work mode chooses its path is judged
    // once the card has told its mode.
    const bool byMode = key == QLatin1String("gain")
        && (model == CardModels::Jq5140 || model == CardModels::Klr620);
    const QString refused = byMode ? QString() : CardService::refusal(model, key, c);
    if (!refused.isEmpty())
        return refuse(
            -222, QStringLiteral("%1 %2: %3").arg(name, QString::fromLatin1(given), refused));
    job.kind = CardService::Job::Set;
    submit(job, QByteArray(), QStringLiteral("%1 %2").arg(name, QString::fromLatin1(given)));
}

void ScpiSession::submit(const CardService::Job &job, const QByteArray &failed, const QString &what)
{
    m_Waiting = true;
    const QPointer<ScpiSession> self(this);
    const bool test = job.key == QLatin1String("*TST");
    const QString peer = m_Peer;
    const QString model = m_Card.model();
    m_Card.submit(job, [self, job, failed, what, peer, model, test](const CardService::Outcome &o) {
        if (job.kind == CardService::Job::Set)
            logSet(peer, model, what, o.error, o.detail);
        if (!self)
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
