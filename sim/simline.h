#ifndef SIMLINE_H
#define SIMLINE_H

#include <QByteArray>
#include <QString>

// The card's end of a serial line.
class SimLine {
public:
    virtual ~SimLine() = default;
    // The device name the tool opens.
    virtual QString deviceName() const = 0;
    // What arrived within the time-out (empty: nothing). Sets `lost` when the
    // line went away for good.
    virtual QByteArray read(int timeoutMs, bool &lost) = 0;
    virtual bool write(const QByteArray &bytes) = 0;
    // Makes the line go away, as when the card is unplugged.
    virtual void unplug() { }
};

#endif // SIMLINE_H
