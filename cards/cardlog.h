#ifndef CARDLOG_H
#define CARDLOG_H

#include "cards/cardlimits.h"
#include "serial/runevents.h"

#include <QByteArray>
#include <QDebug>

// The failure lines every card driver writes to the critical log, in the
// three shapes operators and their log filters know:
//   error: <Card> <Operation>, card not opened
//   error: <Card> <Operation> Query failed, val =  <value>
//   error: <Card> <Operation>,freq overflow, <name> = <value>
class CardLog {
public:
    // True when the card is open; otherwise the "card not opened" line.
    static bool opened(bool isOpen, const char *card, const char *operation);
    // A protocol read: a value of 0 or more goes to `out`; a failure code is
    // logged and leaves `out` untouched.
    template <typename T>
    static bool take(const char *card, const char *operation, int result, T &out)
    {
        if (result < 0) {
            queryFailed(card, operation, result);
            return false;
        }
        out = T(result);
        return true;
    }

    // The same, for a value the card can hold only within `range`: one
    // outside it is taken as it came, and reported as implausible.
    template <typename T>
    static bool take(
        const char *card, const char *operation, int result, T &out, CardLimits::Range range)
    {
        if (!take(card, operation, result, out))
            return false;
        plausible(result, range);
        return true;
    }
    static void plausible(qint64 value, CardLimits::Range range);

    // A set command's result: true unless 0 (which no module returns); a
    // command the card took (1) is reported as applied with the value the
    // driver sent, in its own units.
    static bool took(int result, qint64 value);

    // A line the protocol modules print on standard output (where the JQ
    // and VN modules have always written a few of theirs), or, while a
    // program that runs rfcard's code has taken them, hands to it.
    static void print(const QString &line);
    using Printer = void (*)(const QByteArray &line);
    static void setPrinter(Printer printer);

    static void notOpened(const char *card, const char *operation);
    static void queryFailed(const char *card, const char *operation, int value);
    static void queryFailed(const char *card, const char *operation, double value);
    // The overflow line, and the refusal of `refused` (the driver's value,
    // which the line may show in another form) for not being in `range`.
    template <typename T>
    static void overflow(const char *card, const char *operation, const char *name, T shown,
        qint64 refused, CardLimits::Range range)
    {
        const QByteArray text = overflowText(card, operation, name);
        qCritical() << text.constData() << shown;
        RunEvents::refused(
            RunEvents::logLine(text.constData(), shown), refused, range.low, range.high);
    }

private:
    static QByteArray overflowText(const char *card, const char *operation, const char *name);
};

#endif // CARDLOG_H
