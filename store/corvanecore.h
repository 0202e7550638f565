#ifndef CORVANECORE_H
#define CORVANECORE_H

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

namespace Corvane {

class Module;

// Owns the configuration file: one JSON object that maps a module name to an
// object of key -> text. The framework's own module "system" exists from the
// start; other modules take part once they are registered.
class Core : public QObject
{
    Q_OBJECT

public:
    static Core *Instance();

    Module *invokeModule(const QString &name) const;
    QString unicode(const char *gbkText) const;
    void init(const QString &fileName);
    bool registerModule(Module *module);
    bool saveConfig(bool force);

    QString fileName() const { return m_FileName; }

private:
    Core();
    void applyStoredTexts(Module *module) const;

    QString m_FileName;
    QJsonObject m_FileRoot;   // the file as loaded, unknown modules included
    QList<Module *> m_Modules;
};

} // namespace Corvane

#endif // CORVANECORE_H
