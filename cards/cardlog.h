#ifndef CARDLOG_H
#define CARDLOG_H

// The failure lines every card driver writes to the critical log, in the
// three shapes operators and their log filters know:
//   error: <Card> <Operation>, card not opened
//   error: <Card> <Operation> Query failed, val =  <value>
//   error: <Card> <Operation>,freq overflow, <name> = <value>
class CardLog
{
public:
    static void notOpened(const char *card, const char *operation);
    static void queryFailed(const char *card, const char *operation, int value);
    static void queryFailed(const char *card, const char *operation, double value);
    static void overflow(const char *card, const char *operation, const char *name, int value);
    static void overflow(const char *card, const char *operation, const char *name,
                         unsigned value);
};

#endif // CARDLOG_H
