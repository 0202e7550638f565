#ifndef PORTDIAGNOSIS_H
#define PORTDIAGNOSIS_H

#include <QString>

// rfcard says only "open uart "NAME" failed", whatever the cause. This looks
// at the port the way rfcard named it and says why it could not be opened
// and what to do: it is missing, it is no serial device, the user may not
// open it (and which groups may), or another process holds it. It never
// opens the port itself on Linux: opening a serial line can reset what is
// attached to it.
class PortDiagnosis {
public:
    // `name` as rfcard was given it; `folder` is rfcard's own folder, where a
    // relative name such as ./port starts (rfcard runs there).
    static QString explain(const QString &name, const QString &folder);
};

#endif // PORTDIAGNOSIS_H
