#ifndef CLIENTCONNECTION_H
#define CLIENTCONNECTION_H

#include <QByteArray>
#include <QObject>
#include <QPointer>

class QIODevice;
class QSocketNotifier;

// One client's byte stream, as a session reads and answers it: complete
// lines in, responses out, with the memory of both bounded.
//
// At most `inputLimit` bytes are read ahead; past that the connection is
// not read until a line is taken, so a client that sends faster than its
// messages are made is held back by the network (TCP's window), not by this
// process's memory. What is written and not yet taken by the system is
// told by unsent(): the session stops making messages while that is large.
//
// The client's end of sending (a FIN: `nc -N`, a shell pipe) is not the end
// of the connection: the lines that came before it are still made and
// answered, and finish() closes this side once every response is out. A
// client that has gone altogether is found out when a write or read fails:
// from then on what is written is dropped.
//
// A socket the server accepted (TCP, or a Unix-domain socket) is read and
// written here directly; a named pipe on Windows comes as a Qt device.
class ClientConnection : public QObject {
    Q_OBJECT

public:
    ClientConnection(qintptr socket, int inputLimit, QObject *parent = nullptr);
    ClientConnection(QIODevice *device, int inputLimit, QObject *parent = nullptr);
    ~ClientConnection() override;

    bool canReadLine() const;
    // The next line, without its line end ("\n" or "\r\n").
    QByteArray readLine();
    // Input ahead reached the limit without a line end.
    bool overLimit() const;
    // The client sends nothing more; what is still buffered has no line end.
    bool inputEnded() const { return m_InputEnded; }
    // What is left without a line end (the input has ended), taken.
    QByteArray takeRest();
    // For framed protocols: the bytes read ahead, and taking some of them.
    const QByteArray &input() const { return m_In; }
    void consume(int count);

    void write(const QByteArray &bytes);
    qint64 unsent() const;
    // The client is gone: writing is pointless.
    bool broken() const { return m_Broken; }
    // Closes once everything written is out (at once when broken); then
    // closed() is emitted.
    void finish();
    bool isClosed() const { return m_Closed; }
    // The socket (-1 for a Qt device).
    qintptr descriptor() const { return m_Socket; }

signals:
    // New input, or the end of it.
    void readable();
    // Some of what was unsent went out.
    void written();
    void closed();

private:
    void readSocket();
    void flush();
    void fail();
    void close();
    void readDevice();

    const qintptr m_Socket = -1;
    const int m_InputLimit;
    QSocketNotifier *m_ReadNotifier = nullptr;
    QSocketNotifier *m_WriteNotifier = nullptr;
    QPointer<QIODevice> m_Device;
    QByteArray m_In;
    QByteArray m_Out;
    bool m_InputEnded = false;
    bool m_Broken = false;
    bool m_Finishing = false;
    bool m_Closed = false;
};

#endif // CLIENTCONNECTION_H
