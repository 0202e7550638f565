#ifndef NATIVESOCKET_H
#define NATIVESOCKET_H

#include <QHostAddress>
#include <QtGlobal>

// The calls on a connected stream socket (TCP, or Unix-domain) that Qt's
// socket classes do not offer. Qt takes a client's end of sending (its FIN)
// for the end of the whole connection and drops every response still to
// come; an instrument must answer `printf 'CHAN1:FREQ?\n' | nc -N host port`
// all the same. So a read here tells the end of the client's sending apart
// from a failure, and the server can close only its own sending side once
// everything is written.
class NativeSocket {
public:
    enum : qint64 { WouldBlock = -1, Failed = -2 };

    static bool setNonBlocking(qintptr socket);
    // Bytes read; 0: the client has finished sending; WouldBlock or Failed.
    static qint64 read(qintptr socket, char *data, qint64 size);
    // Bytes written; WouldBlock; Failed: the client is gone.
    static qint64 write(qintptr socket, const char *data, qint64 size);
    // Sends the end of this side's data (a FIN) after what was written.
    static void shutdownWrite(qintptr socket);
    static void close(qintptr socket);
    // The other end of a TCP connection; null for any other socket.
    static QHostAddress peerAddress(qintptr socket, quint16 *port);
    // The address this end of a TCP connection has (the one the client reached).
    static QHostAddress localAddress(qintptr socket, quint16 *port);

    // A client that writes a command and then, before reading anything, a
    // query (pyvisa's write, then query) has its query held back by its own
    // Nagle until the first segment is acknowledged; Linux delays that
    // acknowledgement by up to 40 ms. Acknowledging each message at once
    // takes that wait away (Linux only; the kernel clears the flag again as
    // it sees fit: set after every read). Responses leave at once too.
    static void acknowledgeAtOnce(qintptr socket);
    static void sendAtOnce(qintptr socket);
};

#endif // NATIVESOCKET_H
