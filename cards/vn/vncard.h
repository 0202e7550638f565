#ifndef VNCARD_H
#define VNCARD_H

#include <QObject>
#include <QString>

// Driver of the VN2810 (and its A and B variants). The card takes its gain as
// a code: 90 minus the gain in half-dB steps.
class VNCard : public QObject {
    Q_OBJECT

public:
    VNCard();
    ~VNCard() override;

    void Open(QString portName);

    bool SetFreq(unsigned channel, int freqKHz);
    bool SetGain(unsigned channel, unsigned gain);
    bool SetIFOutputSelect(unsigned channel, unsigned select);

    bool GetFreq(unsigned channel, unsigned &freqKHz);
    bool GetGain(unsigned channel, unsigned &gain);
    bool GetIFOutputSelect(unsigned channel, unsigned &select);
    bool GetTemperature(unsigned channel, double &temperature);
    bool GetType(unsigned channel, unsigned &type);

private:
    bool opened(const char *operation) const;

    bool m_Opened = false;
};

#endif // VNCARD_H
