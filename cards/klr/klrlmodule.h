#ifndef KLRLMODULE_H
#define KLRLMODULE_H

#include "cards/linesync.h"
#include "serial/uartagent.h"

#include <QObject>
#include <QString>

// The serial command protocol of the KLR620. Set commands are not
// acknowledged: the frame is written and the card is given 100 ms to apply
// it. Queries are answered by one 8-byte reply.
class KLRLModule : public QObject {
    Q_OBJECT

public:
    static constexpr int RecvBufSize = 16;
    enum Command : quint8 { QueryCommand = 0, SetCommand = 1 };

    KLRLModule();
    ~KLRLModule() override;

    int lOpenUart(QString portName);
    // The line the module owns, for a program that keeps it open.
    const UartAgent &uart() const { return m_Uart; }
    int lSetInterface(quint8 command, quint8 code, int value, int channel);

    int lSetFreq(int freq, int channel);
    int lSetWorkMode(int mode, int channel);
    int lSetRFAtten(int att, int channel);
    int lSetIFAtten(int att, int channel);
    int lSetIFBand(int band, int channel);

    int lGetFreq(int channel);
    int lGetWorkMode(int channel);
    int lGetRFAtten(int channel);
    int lGetIFAtten(int channel);
    int lGetWarning(int channel);
    int lGetBandwidth(int channel);

private:
    UartAgent m_Uart;
    LineSync m_Sync;
    quint8 m_RecvBuf[RecvBufSize] = {};
    quint32 m_RecvLen = 0;
};

#endif // KLRLMODULE_H
