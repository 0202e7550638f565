#ifndef CARDLOG_H
#define CARDLOG_H

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

    // A set command's result: true unless 0 (which no module returns); a
    // command the card took (1) is reported as applied with the value the
    // driver sent, in its own units.
    static bool took(int result, qint64 value);

    static void notOpened(const char *card, const char *operation);
    static void queryFailed(const char *card, const char *operation, int value);
    static void queryFailed(const char *card, const char *operation, double value);
    // The overflow line, and the refusal of `refused` (the driver's value,
    // which the line may show in another form) for not being in low..high.
    template <typename T>
    static void overflow(const char *card, const char *operation, const char *name, T shown,
        qint64 refused, qint64 low, qint64 high)
    {
        const QByteArray text = overflowText(card, operation, name);
        qCritical() << text.constData() << shown;
        RunEvents::refused(RunEvents::logLine(text.constData(), shown), refused, low, high);
    }

private:
    static QByteArray overflowText(const char *card, const char *operation, const char *name);
};

#endif // CARDLOG_H
