#ifndef LINESYNC_H
#define LINESYNC_H

#include "serial/uartagent.h"

#include <QByteArray>
#include <QList>

// Keeps a card's line in step after an exchange failed.
//
// A card answers its requests one at a time, in the order they came. When
// an exchange fails (no reply within the time-out, a reply short, long,
// split or garbled), the reply it waited for may still be on its way. The
// serial agent drops what waits on the line before each request, but bytes
// that arrive during the next exchange's wait are read as that exchange's
// reply, and neither a frame's length nor its code tells one channel's
// frequency reply from another's: a sweep would log a clean, wrong value.
//
// So after a failure the next exchange first brings the line back in step:
// it sends a harmless query (a probe) whose reply code is none of those
// still owed, and reads on, dropping whatever comes, until the probe's own
// reply is the last thing on the line and the line then stays quiet for a
// reply gap. Everything the card owed before the probe has come by then.
// The probe costs one exchange after a failure; a healthy card pays
// nothing. When the probe's reply does not come either, its code is owed
// too and the request is not sent (RunEvents::OutOfStep), so that a later
// reply is never taken for it; the next request tries again with another
// probe. When every probe's code is owed (a card silent for several
// exchanges), the line is instead held until it has been quiet for QuietMs:
// a reply later than that after the card went quiet is taken as never
// coming.
//
// Off unless a program turns it on: rfcard's exchanges stay exactly those
// its users' logs and captures know; the programs that act on what a card
// answers after a failure (rfcardd, rfcard-strict) turn it on.
class LineSync {
public:
    struct Probe {
        QByteArray request;
        quint8 replyCode;
    };
    static constexpr int TimeoutMs = 1000; // as an exchange's
    static constexpr int QuietMs = 3000;

    // Frames of `frameSize` bytes carrying their code at `codeOffset`.
    LineSync(int frameSize, int codeOffset, QList<Probe> probes);

    static void setEnabled(bool on);
    static bool enabled();

    // The exchange whose reply carries `replyCode` failed: its reply, or
    // the rest of it, may still come.
    void failed(quint8 replyCode);
    // Before a request: true when nothing is owed or the line was brought
    // back in step; false when the request must not be sent.
    bool ready(UartAgent &uart);
    // The line was opened again: nothing on it is owed any longer.
    void reset() { m_Owed.clear(); }

private:
    bool endsWithReply(const QByteArray &seen, quint8 code) const;
    bool probe(UartAgent &uart, const Probe &p);
    bool holdUntilQuiet(UartAgent &uart);

    const int m_FrameSize;
    const int m_CodeOffset;
    const QList<Probe> m_Probes;
    QList<quint8> m_Owed;
};

#endif // LINESYNC_H
