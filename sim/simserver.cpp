#include "sim/simserver.h"

#include "sim/simline.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>
#include <QThread>
#include <QTime>

#include <cstdio>

namespace {

// At 115200 baud, 8N1, a byte takes ten bit times on the wire.
constexpr qint64 WireNanos = qint64(10) * 1000000000 / 115200;

} // namespace

SimServer::SimServer(SimCard &card, const SimFaults &faults, const Options &options)
    : m_Card(card)
    , m_Faults(faults)
    , m_Options(options)
{
    m_Clock.start();
}

int SimServer::serve(SimLine &line, const std::atomic<bool> &stop)
{
    QByteArray buffer;
    int requests = 0;
    // Asked to stop, it still answers what has arrived (a request written
    // just before, on a busy machine).
    for (bool last = false; !last;) {
        last = stop;
        bool lost = false;
        buffer += line.read(last ? 0 : 100, lost);
        if (lost) {
            trace("--", QByteArray(), QStringLiteral("line lost"));
            break;
        }
        QByteArray frame;
        bool garbage = false;
        while (m_Card.takeFrame(buffer, frame, garbage)) {
            if (garbage) {
                trace("rx", frame, QStringLiteral("no frame start, dropped"));
                continue;
            }
            handleFrame(line, frame);
            ++requests;
            if (m_Options.unplugAfter > 0 && requests >= m_Options.unplugAfter) {
                trace("--", QByteArray(), QStringLiteral("unplugged"));
                line.unplug();
                return requests;
            }
        }
    }
    return requests;
}

void SimServer::handleFrame(SimLine &line, const QByteArray &frame)
{
    // Delays count from the request's arrival, so the card's own work and
    // the trace do not add to the time a real line would take.
    const qint64 arrivalUs = m_Clock.nsecsElapsed() / 1000;
    const SimCard::Response r = m_Card.handle(frame, m_Faults.keepsOld(m_Card.codeOf(frame)));
    trace("rx", frame, r.note);
    if (r.changed && !m_Options.statePath.isEmpty()) {
        QString error;
        if (!saveState(&error))
            std::fprintf(stderr, "rfcard-sim: cannot save state: %s\n", qPrintable(error));
    }
    if (!r.valid)
        return;

    const bool fe = m_Card.family() != SimCard::Family::KLR;
    const SimFaults::Plan plan = m_Faults.apply(r.code, r.reply, fe, m_Card.frameSize());
    if (plan.first.isEmpty() && plan.second.isEmpty()) {
        if (!plan.note.isEmpty())
            trace("--", QByteArray(), plan.note);
        return;
    }
    qint64 delay = qint64(m_Options.delayMs + plan.delayMs) * 1000;
    if (m_Options.baudTiming)
        delay += WireNanos * (frame.size() + plan.first.size() + plan.second.size()) / 1000;
    waitUntil(arrivalUs + delay);
    line.write(plan.first);
    trace("tx", plan.first, plan.note);
    if (!plan.second.isEmpty()) {
        waitUntil(m_Clock.nsecsElapsed() / 1000 + qint64(m_Options.splitPauseMs) * 1000);
        line.write(plan.second);
        trace("tx", plan.second, plan.note);
    }
}

void SimServer::pause(qint64 microseconds) const
{
    if (microseconds > 0)
        QThread::usleep(ulong(microseconds));
}

void SimServer::waitUntil(qint64 dueUs) const
{
    // A USB serial adapter passes what it has received on to the host only
    // when its latency timer runs out (or its buffer fills, which a reply of
    // ten bytes never does). The timer runs all the time, also while the
    // line is idle, so a reply that is complete on the wire waits for the
    // next tick.
    if (m_Options.latencyMs > 0) {
        const qint64 period = qint64(m_Options.latencyMs) * 1000;
        dueUs = (dueUs + period - 1) / period * period;
    }
    pause(dueUs - m_Clock.nsecsElapsed() / 1000);
}

void SimServer::trace(const char *direction, const QByteArray &bytes, const QString &note) const
{
    if (!m_Options.trace)
        return;
    const QByteArray time
        = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")).toLatin1();
    std::fprintf(stderr, "%s %s %s%s%s\n", time.constData(), direction,
        bytes.toHex(' ').constData(), note.isEmpty() ? "" : "  | ", note.toUtf8().constData());
    std::fflush(stderr);
}

bool SimServer::loadState(QString *error)
{
    QFile file(m_Options.statePath);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!doc.isObject()) {
        *error = parseError.errorString();
        return false;
    }
    return m_Card.fromJson(doc.object(), error);
}

bool SimServer::saveState(QString *error) const
{
    QSaveFile file(m_Options.statePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(m_Card.toJson()).toJson()) < 0
        || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
