#include "store/settingsreport.h"

namespace {

QList<SettingsReport::Warning> &all()
{
    static QList<SettingsReport::Warning> warnings;
    return warnings;
}

} // namespace

void SettingsReport::add(Kind kind, const QString &line)
{
    all().append({kind, line});
}

QList<SettingsReport::Warning> SettingsReport::warnings()
{
    return all();
}

QString SettingsReport::first(Kind kind)
{
    for (const Warning &w : all()) {
        if (w.kind == kind)
            return w.line;
    }
    return QString();
}
