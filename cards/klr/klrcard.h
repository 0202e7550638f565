#ifndef KLRCARD_H
#define KLRCARD_H

#include "cards/cardlimits.h"

#include <QObject>
#include <QString>

// Driver of the KLR620. A gain is realised by two attenuators, RF (0..30)
// first and IF (0..20) for the rest; the work mode decides the total.
class KLRCard : public QObject {
    Q_OBJECT

public:
    KLRCard();
    ~KLRCard() override;

    void Open(QString portName);

    bool SetFreq(unsigned channel, int freqKHz);
    bool SetWorkMode(unsigned channel, unsigned mode);
    bool SetGain(unsigned channel, int gain, int mode);
    bool SetRFAttenuation(unsigned channel, unsigned att);
    bool SetIFAttenuation(unsigned channel, unsigned att);
    bool SetBandWidth(unsigned channel, unsigned band);
    // The gains a work mode reaches with the two attenuators: 0 to 30 in
    // mode 0, -5 to 45 in mode 1 (nothing is sent in another mode).
    static CardLimits::Range gainRange(int mode);

    bool GetFreq(unsigned channel, unsigned &freqKHz);
    bool GetWorkMode(unsigned channel, unsigned &mode);
    bool GetRFAttenuation(unsigned channel, unsigned &att);
    bool GetIFAttenuation(unsigned channel, unsigned &att);
    bool GetBandwidth(unsigned channel, unsigned &band);
    bool GetWarning(unsigned channel, unsigned &warning);

private:
    bool opened(const char *operation) const;

    bool m_Opened = false;
};

#endif // KLRCARD_H
