#ifndef ARGUMENTCHECK_H
#define ARGUMENTCHECK_H

#include <QString>

class QCommandLineParser;

// rfcard reads every number with Qt's conversions and takes what it cannot
// read as 0: "--gain 1O" sets gain 0, "--ch one" sets channel 0,
// "--freq 2,400" stores and sends 0. It also stops reading options at the
// first argument that is not one ("--ch 1 freq 3000" sets channel 1 with the
// stored values). rfcard-strict looks at the command line as rfcard's own
// parser read it, before anything is stored or sent, and refuses what would
// be taken for something the person did not mean.
class ArgumentCheck {
public:
    enum Verdict {
        Run, // nothing to object to
        Positional, // an argument that is not an option
        BadValue, // a value rfcard would read as something else
    };

    explicit ArgumentCheck(const QCommandLineParser &parser);

    Verdict verdict() const { return m_Verdict; }
    // What is wrong and what rfcard would have done, for the person.
    QString reason() const { return m_Reason; }
    // The run the command line asks for: part 0 is a set run, 1 a read-back.
    int part() const { return m_Part; }
    int channel() const { return m_Channel; }

private:
    void checkValue(const QString &name, const QString &text);

    Verdict m_Verdict = Run;
    QString m_Reason;
    int m_Part = 0;
    int m_Channel = 0;
};

#endif // ARGUMENTCHECK_H
