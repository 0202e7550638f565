#ifndef STRICTRUN_H
#define STRICTRUN_H

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class OutputSplitter;

// One run of the rfcard beside this executable, for a script: rfcard's log
// and protocol lines go to standard error as they come, unchanged and in
// the order rfcard wrote them; the report of a read-back goes to standard
// output at the end; the exit status says what happened with the card
// (see RunVerdict).
class StrictRun {
public:
    // Where the rfcard to run lives: beside this executable (after symbolic
    // links, as rfcard's own settings file).
    static QString rfcardPath();
    // The environment rfcard runs in: the caller's, with the Qt logging
    // settings that would hide or reword its lines put back to Qt's own.
    static QProcessEnvironment childEnvironment();

    int exec(const QString &program, const QStringList &arguments);

private:
    struct Outcome {
        int status; // a RunVerdict::Status
        QString reason;
    };

    // Reads the channel of a set run back with the same rfcard, card model
    // and port, and compares what the card holds with what was set.
    static Outcome verify(const QString &program, const class RunVerdict &set, int channel);
    // Runs the program with standard output and standard error on one
    // stream, fed to `splitter`; the exit code, or -1 when it did not start
    // or did not end normally (then `error` says why).
    static int runMerged(const QString &program, const QStringList &arguments,
        OutputSplitter &splitter, QString &error);
};

#endif // STRICTRUN_H
