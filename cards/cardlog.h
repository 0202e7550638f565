#ifndef CARDLOG_H
#define CARDLOG_H

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

    static void notOpened(const char *card, const char *operation);
    static void queryFailed(const char *card, const char *operation, int value);
    static void queryFailed(const char *card, const char *operation, double value);
    static void overflow(const char *card, const char *operation, const char *name, int value);
    static void overflow(const char *card, const char *operation, const char *name, unsigned value);
};

#endif // CARDLOG_H
