#include "cards/linesync.h"

#include <QDebug>
#include <QElapsedTimer>

#include <algorithm>
#include <utility>

namespace {
bool g_Enabled = false;
} // namespace

LineSync::LineSync(int frameSize, int codeOffset, QList<Probe> probes)
    : m_FrameSize(frameSize)
    , m_CodeOffset(codeOffset)
    , m_Probes(std::move(probes))
{
}

void LineSync::setEnabled(bool on)
{
    g_Enabled = on;
}

bool LineSync::enabled()
{
    return g_Enabled;
}

void LineSync::failed(quint8 replyCode)
{
    if (g_Enabled && !m_Owed.contains(replyCode))
        m_Owed << replyCode;
}

bool LineSync::ready(UartAgent &uart)
{
    if (m_Owed.isEmpty())
        return true;
    for (const Probe &p : m_Probes) {
        if (!m_Owed.contains(p.replyCode))
            return probe(uart, p);
    }
    return holdUntilQuiet(uart);
}

bool LineSync::endsWithReply(const QByteArray &seen, quint8 code) const
{
    return seen.size() >= m_FrameSize
        && quint8(seen.at(seen.size() - m_FrameSize + m_CodeOffset)) == code;
}

bool LineSync::probe(UartAgent &uart, const Probe &p)
{
    if (!uart.sendQuietly(
            reinterpret_cast<const quint8 *>(p.request.constData()), int(p.request.size()))) {
        qDebug() << "line resync: the probe could not be written";
        return false;
    }
    QElapsedTimer since;
    since.start();
    QByteArray seen;
    qint64 received = 0;
    bool last = false; // the probe's reply is the last thing seen
    for (;;) {
        const qint64 left = TimeoutMs - since.elapsed();
        // Once the reply has come, only a reply gap more is waited for.
        const int wait
            = int(last ? std::min<qint64>(qMax<qint64>(left, 0), UartAgent::ReplyGapMs) : left);
        if (!last && wait <= 0)
            break;
        const QByteArray more = uart.receive(wait);
        if (more.isEmpty()) {
            if (!last)
                break;
            m_Owed.clear();
            if (received > m_FrameSize)
                qDebug() << "line resync: dropped" << received - m_FrameSize
                         << "bytes of earlier replies";
            return true;
        }
        received += more.size();
        seen = (seen + more).right(2 * m_FrameSize); // only the tail is looked at
        last = endsWithReply(seen, p.replyCode);
    }
    qDebug() << "line resync: no reply to the probe within" << TimeoutMs << "ms";
    failed(p.replyCode);
    return false;
}

bool LineSync::holdUntilQuiet(UartAgent &uart)
{
    QElapsedTimer quiet;
    quiet.start();
    QElapsedTimer since;
    since.start();
    while (quiet.elapsed() < QuietMs) {
        // A line that never falls quiet is not taken as in step.
        if (since.elapsed() > 3 * QuietMs)
            return false;
        if (!uart.receive(int(QuietMs - quiet.elapsed())).isEmpty())
            quiet.restart();
    }
    m_Owed.clear();
    return true;
}
