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
//
// Several runs may share one file (scripts drive several cards at once), so a
// save takes a lock, re-reads the file and writes back only what this run
// set, on top of what is there now. A file that cannot be understood is
// reported and kept beside the new one as "<name>.bad".
class Core : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 MaxFileSize = 4 * 1024 * 1024;
    static constexpr int LockWaitMs = 5000;

    static Core *Instance();

    Module *invokeModule(const QString &name) const;
    QString unicode(const char *gbkText) const;
    void init(const QString &fileName);
    bool registerModule(Module *module);
    bool saveConfig(bool force);

    QString fileName() const { return m_FileName; }

private:
    Core();

    // What reading the file gave: its object, or why it could not be used.
    struct FileContent {
        QJsonObject root;
        QString problem; // empty when the file is missing or sound
        bool keepAsBad = false; // a damaged regular file, worth keeping
    };
    static FileContent readFile(const QString &path);
    static void shareWithGroup(const QString &fileName);

    void applyStoredTexts(Module *module) const;
    QJsonObject merged(QJsonObject root) const;
    bool fileIsCurrent() const;

    QString m_FileName;
    QJsonObject m_FileRoot; // the file as loaded, unknown modules included
    bool m_FileSound = false; // it was there and could be read in full
    QList<Module *> m_Modules;
};

} // namespace Corvane

#endif // CORVANECORE_H
