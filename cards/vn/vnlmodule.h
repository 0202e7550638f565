#ifndef VNLMODULE_H
#define VNLMODULE_H

#include "cards/linesync.h"
#include "serial/uartagent.h"

#include <QObject>
#include <QString>

// The serial command protocol of the VN cards (VN2810 and its variants): the
// JQ frame shape with the VN family's own parameter codes.
class VNLModule : public QObject {
    Q_OBJECT

public:
    VNLModule();
    ~VNLModule() override;

    int lOpenUart(QString portName);
    // The line the module owns, for a program that keeps it open.
    const UartAgent &uart() const { return m_Uart; }
    int lSetInterface(quint8 command, quint8 code, quint32 value, quint8 channel);

    int lSetFreq(int freq, int channel);
    int lSetGain(int code, int channel);
    int lSetIFOutputSelect(int select, int channel);

    int lGetFreq(int channel);
    int lGetGain(int channel);
    int lGetIFOutputSelect(int channel);
    int lGetTemperature(int channel);
    int lGetType(int channel);

private:
    int setValue(quint8 code, int value, int channel);
    int query(quint8 code, int channel);

    UartAgent m_Uart;
    LineSync m_Sync;
    quint8 m_RecvBuf[UartAgent::RecvBufSize] = {};
    quint32 m_RecvLen = 0;
};

#endif // VNLMODULE_H
