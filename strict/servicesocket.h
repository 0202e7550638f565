#ifndef SERVICESOCKET_H
#define SERVICESOCKET_H

#include <QByteArray>
#include <QString>

#ifdef Q_OS_WIN
#include <QLocalSocket>
#endif

// The connection rfcard-strict --service makes to rfcardd: a line sent, a
// line of answer. On POSIX systems a Unix-domain socket through the system's
// own calls: Qt Network, and the libraries it brings with it, would be
// loaded and relocated at the start of every rfcard-strict run, for the few
// runs that use the service, and cost a read-back a tenth of its time. On
// Windows, where the programs are static and rfcardd listens on a named
// pipe, Qt's local socket.
class ServiceSocket {
public:
    ServiceSocket();
    ~ServiceSocket();
    ServiceSocket(const ServiceSocket &) = delete;
    ServiceSocket &operator=(const ServiceSocket &) = delete;

    // Connects to the socket at `path` (one that does not start with "/" is
    // in the temporary folder) within timeoutMs.
    bool connectTo(const QString &path, int timeoutMs);
    // Sends `line` and its end, and waits up to timeoutMs at a time for a
    // whole line of answer, given without its end and the blanks around it.
    bool ask(const QByteArray &line, QByteArray *answer, int timeoutMs);
    // Why the last call failed, and whether because the user may not connect.
    QString errorString() const { return m_Error; }
    bool accessDenied() const { return m_Denied; }

private:
#ifdef Q_OS_WIN
    QLocalSocket m_Socket;
#else
    void failed(const char *where, int error);
    int m_Fd = -1;
    QByteArray m_Received;
#endif
    QString m_Error;
    bool m_Denied = false;
};

#endif // SERVICESOCKET_H
