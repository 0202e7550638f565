#ifndef PORTDIAGNOSIS_H
#define PORTDIAGNOSIS_H

#include <QList>
#include <QString>

// rfcard says only "open uart "NAME" failed", whatever the cause. This looks
// at the port the way rfcard named it and says why it could not be opened
// and what to do: it is missing, it is no serial device, the user may not
// open it (and which groups may), or another process holds it. It never
// opens the port itself on Linux: opening a serial line can reset what is
// attached to it.
class PortDiagnosis {
public:
    // `name` as rfcard was given it; a relative one such as ./port starts
    // from the current folder, which is rfcard's own during a run.
    static QString explain(const QString &name);

    // The processes that hold the port: the one its lock file names, if it
    // runs, and those that have it open (all of them for root, one's own
    // otherwise). Empty on Windows.
    static QList<qint64> holders(const QString &name);
};

#endif // PORTDIAGNOSIS_H
