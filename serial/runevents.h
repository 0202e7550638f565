#ifndef RUNEVENTS_H
#define RUNEVENTS_H

#include <QDebug>
#include <QString>

#include <functional>
#include <initializer_list>
#include <utility>

// What happened with the port and the card during a run, told as data at
// the moment it happens by the code that knows it: the serial agent (the
// port opened or not, a command that never left), the protocol modules (no
// reply, a reply of the wrong length or code, a status the card flagged)
// and the card drivers (a value refused before sending, a set command the
// card took). rfcard itself writes its log lines and listens to none of
// this; a program that judges a run (rfcard-strict) sets a sink and builds
// its verdict from these events instead of from the log's wording.
//
// A driver names the parameter it is working on for everything that happens
// below it meanwhile (a Scope), so that an event of the line knows which
// parameter of which channel it concerns.
class RunEvents {
public:
    enum Kind {
        PortOpened, // detail: the port's name
        PortFailed, // detail: the system's reason
        Refused, // a value refused before anything was sent
        WriteFailed, // a request that could not be written out whole
        NoReply, // nothing came back within the time-out
        BadLength, // value: the length of the reply
        WrongCode, // the reply names another parameter
        StatusFailed, // value: the status the card flagged a query with
        UnknownReply, // value: a KLR reply code the host does not know (read as 0)
        Applied, // a set command the card took (answered, or written for the KLR)
        Implausible, // value: what the card reported, which it cannot hold (not low..high)
        OutOfStep, // a request not sent: a reply still owed to a failed one could be taken for its
        SettingsRestored, // the line's settings had been changed by someone else, and were put back
    };

    struct Event {
        Event(Kind kind, QString line = QString(), qint64 value = 0, QString detail = QString())
            : kind(kind)
            , line(std::move(line))
            , value(value)
            , detail(std::move(detail))
        {
        }
        Kind kind;
        QString line; // what rfcard logged or printed about it; empty: nothing
        qint64 value; // in the card's units
        QString detail;
        qint64 low = 0; // refused, implausible: the range the card takes
        qint64 high = 0;
        QString parameter; // the read-back's name of it ("freq", "rfatt"), from the Scope
        int channel = -1;
    };
    using Sink = std::function<void(const Event &)>;

    // While it lives, the events below it concern this parameter and channel.
    class Scope {
    public:
        Scope(const char *parameter, int channel);
        ~Scope();

    private:
        const char *m_Parameter;
        int m_Channel;
    };

    // Where events go from now on; none (the default): nowhere. Returns
    // where they went before.
    static Sink setSink(Sink sink);
    static void report(Event event);
    static void refused(const QString &line, qint64 value, qint64 low, qint64 high);
    // A value a query gave that lies outside low..high (no line: rfcard
    // reports it as it came).
    static void implausible(qint64 value, qint64 low, qint64 high);

    // The line qDebug() writes for these items: blanks between them, texts
    // quoted and escaped.
    template <typename... Items> static QString logLine(const Items &...items)
    {
        QString text;
        {
            QDebug stream(&text);
            (void)std::initializer_list<int>{((void)(stream << items), 0)...};
        }
        if (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        return text;
    }
};

#endif // RUNEVENTS_H
