#ifndef SETTINGSREPORT_H
#define SETTINGSREPORT_H

#include <QList>
#include <QString>

// What the settings store told the operator during this run, kept as data
// for a program that judges the run: each warning as it was written, with
// what it was about.
class SettingsReport {
public:
    enum Kind {
        Note, // said in passing; the settings are fine
        NotLoaded, // the file, or part of it, could not be used: defaults instead
        NotSaved, // this run's settings were not saved
        Missing, // not said: there was no settings file (the line is its path)
    };
    struct Warning {
        Kind kind;
        QString line; // as written on standard error
    };

    static void add(Kind kind, const QString &line);
    static QList<Warning> warnings();
    // The line of the first warning of that kind; empty when there was none.
    static QString first(Kind kind);
};

#endif // SETTINGSREPORT_H
