#ifndef JQCARDTWO_H
#define JQCARDTWO_H

#include <QObject>
#include <QString>

// Driver of the JQ5120, the two-channel JQ card. A gain in half-dB steps is
// spread over two attenuators: gain = (60 - IF) + (60 - RF).
class JQCardTwo : public QObject {
    Q_OBJECT

public:
    JQCardTwo();
    ~JQCardTwo() override;

    void Open(QString portName);

    bool SetFreq(int channel, int freqKHz);
    bool SetGain(int channel, int gain, int mode);
    bool SetRefType(int channel, int type);
    bool SetIFOutputSelect(int channel, int select);

    bool GetFreq(int channel, int &freqKHz);
    bool GetGain(int channel, int &gain);
    bool GetRefType(int channel, int &type);
    bool GetIFOutputSelect(int channel, int &select);

    // The attenuations that realise a gain; ifAtt < 0 when it cannot be done.
    static void splitGain(int gain, int &ifAtt, int &rfAtt);

private:
    bool opened(const char *operation) const;

    bool m_Opened = false;
};

#endif // JQCARDTWO_H
