#ifndef STRICTRUN_H
#define STRICTRUN_H

#include <QString>
#include <QStringList>

#include <cstdio>

// One rfcard run, made by rfcard's own code in this process, for a script:
// the report of a read-back alone on `out`, rfcard's log on standard error
// (the lines rfcard prints on standard output with it, in their place) and,
// when the status is not 0, what went wrong and what to do; the exit status
// says what happened with the card. The verdict comes from what the run did
// (RunRecord), never from the wording of its log; after a set run the card
// is asked, on the port that is open, for each value it was given.
class StrictRun {
public:
    enum Status {
        Ok = 0, // every command sent and answered as expected, a set run read back as set
        Usage = 1, // an unknown option, a missing value, an argument without dashes
        Refused = 2, // a value refused, by the card's driver or before anything was sent
        CardFault = 3, // the card did not answer, or answered wrongly
        PortFailed = 4, // the port could not be opened
        UnknownModel = 5, // a card model rfcard has no driver for: nothing sent
        // 6 is not given: a run that does not end normally ends this process
        // with it. The number stays reserved.
        NotSaved = 7, // the card is set as asked, but the settings were not saved
        Mismatch = 8, // the card answered, but does not hold what was set
        Locked = 9, // another client of the card's service holds its lock
    };

    explicit StrictRun(FILE *out);
    int exec(const QStringList &arguments);

private:
    int run(QStringList arguments);
    int throughService(const QString &name, int part, int ch);
    // Why the run would be refused for the card model: a channel it does
    // not have, an option its driver does not use; empty when it is not.
    QString refusal(const QString &model, int part, int ch) const;
    // A line of rfcard-strict's own, said when the run is over.
    void say(const QString &text);
    // Says the exit line (when the status is not 0 and there is a reason),
    // then `after`; returns the status.
    int finish(int status, const QString &reason, const QString &after = QString());

    FILE *m_Out;
    QStringList m_Said;
    // Why the device the stored port opened on was refused, if it was.
    QString m_Foreign;
};

#endif // STRICTRUN_H
