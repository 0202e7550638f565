#ifndef JQFLMODULE_H
#define JQFLMODULE_H

#include "cards/linesync.h"
#include "serial/uartagent.h"

#include <QObject>
#include <QString>

// The serial command protocol of the JQ cards (JQ5140, JQ5120): one 10-byte
// command per parameter of one channel, answered by one 10-byte reply.
class JQFLModule : public QObject {
    Q_OBJECT

public:
    JQFLModule();
    ~JQFLModule() override;

    int lOpenUart(QString portName);
    // The line the module owns, for a program that keeps it open.
    const UartAgent &uart() const { return m_Uart; }
    int lSetInterface(quint8 command, quint8 code, quint32 value, quint8 channel);

    int lSetFreq(int value, int channel);
    int lSetWorkMode(int value, int channel);
    int lSetRFAtten(int value, int channel);
    int lSetIFAtten(int value, int channel);
    int lSetIFAdjustAttenuation(int value, int channel);
    int lSetClkSelect(int value, int channel);
    int lSetIFOutputSelect(int value, int channel);
    int lSetIFOutBand(int value, int channel);

    int lGetFreq(int channel);
    int lGetWorkMode(int channel);
    int lGetRFAtten(int channel);
    int lGetIFAtten(int channel);
    int lGetIFAdjustAttenuation(int channel);
    int lGetClkSelect();
    int lGetIFOutputSelect(int channel);
    int lGetInputPower(int channel);
    int lGetIFOutBand(int channel);
    int lGetTemperature(int channel);

private:
    int setValue(quint8 code, int value, int channel);
    int query(quint8 code, int channel);
    int setBounded(
        const char *operation, quint8 code, int value, const char *parameter, int channel);

    UartAgent m_Uart;
    LineSync m_Sync;
    quint8 m_RecvBuf[UartAgent::RecvBufSize] = {};
    quint32 m_RecvLen = 0;
};

#endif // JQFLMODULE_H
