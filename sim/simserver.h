#ifndef SIMSERVER_H
#define SIMSERVER_H

#include "sim/simcard.h"
#include "sim/simfaults.h"

#include <QElapsedTimer>
#include <QString>

#include <atomic>

class SimLine;

// Serves one simulated card on one line: reads request frames, lets the card
// answer, bends the answer as the faults say, and keeps the state file.
class SimServer {
public:
    struct Options {
        bool trace = false;
        bool baudTiming = false;
        int delayMs = 0; // extra delay before every answer
        // Pause between the two parts of a split answer: well over the 50 ms of
        // quiet after which rfcard takes a reply as complete.
        int splitPauseMs = 100;
        // A USB serial adapter's latency timer: every reply is held until the
        // next tick of a free-running timer of this period (0: no adapter).
        int latencyMs = 0;
        int unplugAfter = 0; // requests after which the line goes away (0: never)
        QString statePath;
    };

    SimServer(SimCard &card, const SimFaults &faults, const Options &options);

    // Serves until `stop` is set or the line is lost; returns the number of
    // requests handled.
    int serve(SimLine &line, const std::atomic<bool> &stop);

    bool loadState(QString *error);
    bool saveState(QString *error) const;

private:
    void handleFrame(SimLine &line, const QByteArray &frame);
    void trace(const char *direction, const QByteArray &bytes, const QString &note) const;
    void pause(qint64 microseconds) const;
    // Waits until `dueUs` on the server's clock or, with a latency timer,
    // until its first tick from then on.
    void waitUntil(qint64 dueUs) const;

    SimCard &m_Card;
    const SimFaults &m_Faults;
    Options m_Options;
    QElapsedTimer m_Clock; // since the adapter was plugged in: its timer's phase
};

#endif // SIMSERVER_H
