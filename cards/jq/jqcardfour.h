#ifndef JQCARDFOUR_H
#define JQCARDFOUR_H

#include "cards/cardlimits.h"

#include <QObject>
#include <QString>

// Driver of the JQ5140, the four-channel JQ card. Gains are in half-dB steps
// (0..100) and go to one attenuator, chosen by the gain mode.
class JQCardFour : public QObject {
    Q_OBJECT

public:
    JQCardFour();
    ~JQCardFour() override;

    void Open(QString portName);

    bool SetWorkMode(int channel, int mode);
    bool SetFreq(int channel, int freqKHz);
    bool SetGain(int channel, int gain, int mode);
    bool SetRefType(int channel, int type);
    bool SetIFOutputSelect(int channel, int select);
    // The gains, in half-dB steps, a gain mode sends: through the RF
    // attenuator (mode 0) 0 to 60, through the IF adjust attenuator 0 to 100.
    static CardLimits::Range gainRange(int mode);

    bool GetFreq(int channel, int &freqKHz);
    bool GetWorkMode(int channel, int &mode);
    bool GetRFAttenuation(int channel, int &att);
    bool GetIFAttenuation(int channel, int &att);
    bool GetRefType(int channel, int &type);
    bool GetIFOutputSelect(int channel, int &select);
    bool GetInputPower(int channel, int &power);
    bool GetTemperature(int channel, double &temperature);

private:
    bool opened(const char *operation) const;

    bool m_Opened = false;
};

#endif // JQCARDFOUR_H
