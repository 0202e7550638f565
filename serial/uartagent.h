#ifndef UARTAGENT_H
#define UARTAGENT_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <functional>

// The one serial-port wrapper: every protocol module owns one. An exchange is
// one write and the blocking read of one whole reply.
//
// A card writes its reply in one burst, but a real serial driver need not
// hand it over in one piece: a 16550 raises its receive interrupt when 8
// bytes sit in its FIFO and delivers the rest after its character time-out;
// a USB adapter delivers at every tick of its latency timer. So the reply is
// collected until it is as long as the request it answers (every card family
// answers with a frame of its request's size), until the line stays quiet
// for ReplyGapMs, or until the exchange's time-out, whichever comes first.
// A reply that is really short or long still arrives at the protocol's
// length check as it was sent.
class UartAgent : public QObject {
    Q_OBJECT

public:
    enum Result { Success = 1, WriteIncomplete = -4, NothingReceived = -5 };
    static constexpr int RecvBufSize = 20;
    // Silence that ends a reply: far longer than a driver or adapter holds
    // back the tail of a burst (a FIFO time-out is well under 1 ms at
    // 115200 baud, a USB latency timer at most 16 ms by default), far shorter
    // than the time-out.
    static constexpr int ReplyGapMs = 50;

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

    // For bringing the line back in step after a failed exchange (LineSync):
    // a request written without a reply awaited and without a log line or
    // event, and whatever arrives within `waitMs` (empty: nothing did).
    bool sendQuietly(const quint8 *request, int count);
    QByteArray receive(int waitMs);

    // Whether each exchange first puts the line's settings back in full
    // when another process changed them (LineSettings); off unless a
    // program that keeps the port open turns it on.
    static void guardSettings(bool on);

    bool isOpen() const { return m_IsOpen; }
    // The port was opened, but its line is gone (LineCheck): opening the
    // name again may find it.
    bool lineLost() const;
    QString portName() const { return m_PortName; }

    // A program that must judge a device before anything reaches it
    // (rfcard-strict, for a port it did not name itself) sets a gate for the
    // whole process. It is asked right after a port opens, with the port as
    // it was opened, before the line is set up or a byte is written; an
    // answer that is not empty closes the port again, and the open is
    // reported as failed with that answer as its reason, so that every
    // command of the run finds the port closed. rfcard sets none.
    using OpenGate = std::function<QString(const QSerialPort &port)>;
    static void setOpenGate(OpenGate gate);

private:
    bool writeRequest(const quint8 *request, int count);
    // The request on an open port, after what waits on the line is dropped.
    qint64 send(const quint8 *request, int count);
    // Puts the adapter's latency back as the port was before it was opened.
    void restoreLatency();
    void writeFailed();
    // Nothing came back: `line` is logged (none for a KLR query, whose
    // module says so itself).
    void nothingReceived(const char *line);
    bool readReply(int expected, const QElapsedTimer &sinceRequest, quint32 timeoutMs);

    QSerialPort m_SerialPort;
    QString m_PortName;
    int m_BaudRate = 0;
    int m_DataBits = 0;
    int m_Parity = 0;
    int m_StopBits = 0;
    int m_FlowControl = 0;
    bool m_IsOpen = false;
    QByteArray m_RecvData;
    bool m_LowLatency = false; // this agent asked the driver for low latency
    QByteArray m_Settings; // as the port was configured
    int m_SavedSerialFlags = 0;
};

#endif // UARTAGENT_H
