#ifndef UARTAGENT_H
#define UARTAGENT_H

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

// The one serial-port wrapper: every protocol module owns one. An exchange is
// one write, one blocking wait for the first bytes of the answer and one read
// of whatever has arrived by then; the cards answer in one burst.
class UartAgent : public QObject {
    Q_OBJECT

public:
    enum Result { Success = 1, WriteIncomplete = -4, NothingReceived = -5 };
    static constexpr int RecvBufSize = 20;

    UartAgent();
    ~UartAgent() override;

    void openPort(
        QString portName, int baudRate, int dataBits, int parity, int stopBits, int flowControl);
    // The line every card family uses: 115200 baud, 8 data bits, no parity,
    // one stop bit, no flow control.
    void openCardLine(const QString &portName);
    int sendRecv(const quint8 *request, int count, quint8 (&recvBuf)[RecvBufSize], quint32 *recvLen,
        quint32 timeoutMs);
    int sendRecvCapped(const quint8 *request, int count, quint8 *recvBuf, quint32 capacity,
        quint32 *recvLen, quint32 timeoutMs);

    bool isOpen() const { return m_IsOpen; }
    QString portName() const { return m_PortName; }

private:
    bool writeRequest(const quint8 *request, int count);
    bool waitAndRead(quint32 timeoutMs);

    QSerialPort m_SerialPort;
    QString m_PortName;
    int m_BaudRate = 0;
    int m_DataBits = 0;
    int m_Parity = 0;
    int m_StopBits = 0;
    int m_FlowControl = 0;
    bool m_IsOpen = false;
    QByteArray m_RecvData;
};

#endif // UARTAGENT_H
