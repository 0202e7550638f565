#ifndef SERVICERUN_H
#define SERVICERUN_H

#include "strict/servicesocket.h"

#include <QByteArray>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <cstdio>

// rfcard-strict's run made through rfcardd, the service that owns the card's
// port (--service NAME, the socket /run/rfcard/NAME.sock, or --service PATH):
// a set run sends the values given, each set and read back by the service,
// in the order rfcard sends them, and a read-back prints the report rfcard
// prints. Nothing is read from or written to the settings file: the card
// and its port are the service's, and the values those given.
class ServiceRun {
public:
    struct Verdict {
        int status = 0;
        QString reason; // for the exit line
        QString advice;
    };

    ServiceRun(const QString &service, const QCommandLineParser &parser, FILE *out);
    // The model the service drives, once connected (connect() tells why not).
    bool connect(Verdict *verdict);
    QString model() const { return m_Model; }
    Verdict run(int part, int ch);

    // Where a name's socket is: a name is a card of the shared install.
    static QString socketOf(const QString &service);
    // The service that holds a port, as --service takes it (its name, else
    // its socket's path), when its socket is root's or the user's own;
    // empty when no such rfcardd holds it.
    static QString holding(const QString &port);

private:
    bool ask(const QByteArray &message, QByteArray *answer, Verdict *verdict);
    // The status an error of the service's queue stands for.
    static Verdict judge(const QByteArray &error);

    const QString m_Service;
    const QString m_Path;
    const QCommandLineParser &m_Parser;
    FILE *m_Out;
    ServiceSocket m_Socket;
    QString m_Model;
    QString m_Port;
};

#endif // SERVICERUN_H
