#ifndef CORVANECORE_H
#define CORVANECORE_H

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace Corvane {

class Module;

// Owns the configuration file: one JSON object that maps a module name to an
// object of key -> text. The framework's own module "system" exists from the
// start; other modules take part once they are registered.
//
// Several runs may share one file (scripts drive several cards at once, and
// a shared install serves every operator), so a save takes the lock on
// "<name>.lock", re-reads the file, writes back only what this run set on
// top of what is there now, and replaces the file in one rename. A save
// either lands whole or leaves the old file exactly as it was, and says why.
// A file that cannot be understood is reported; before it is replaced, a
// copy is kept as "<name>.bad" (then ".bad.1" and so on, never overwriting
// the first).
class Core : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 MaxFileSize = 4 * 1024 * 1024;
    static constexpr int LockWaitMs = 10000;
    static constexpr int MaxBadCopies = 10;

    static Core *Instance();

    Module *invokeModule(const QString &name) const;
    QString unicode(const char *gbkText) const;
    void init(const QString &fileName);
    bool registerModule(Module *module);
    bool saveConfig(bool force);

private:
    Core();

    // What reading the file gave: its object, or why it could not be used.
    struct FileContent {
        QJsonObject root;
        QString problem; // empty when the file is missing or sound
        bool damaged = false; // a regular file, not (all) usable: keep a copy, replace it
        bool unusable = false; // cannot be read or is no file: leave it alone
        bool tooLarge = false; // damaged by its size, and not read
        QString notWritable; // why it may not be written, if so
        int mode = -1; // permission bits of the file there now
        QByteArray bytes;
    };
    FileContent readFile() const;

    void applyStoredTexts(Module *module) const;
    QJsonObject merged(QJsonObject root) const;
    bool fileIsCurrent() const;
    bool keepBadCopy(const FileContent &content, QString *error) const;
    // Notes are worth a warning whether or not the save succeeded.
    bool save(bool force, QString *error, QStringList *notes);
    // The texts this run set, for the warning of a save that failed.
    QString unsavedTexts() const;

    QString m_Path; // absolute, links resolved; empty when the file was refused
    QString m_Refused; // why it was refused
    QJsonObject m_FileRoot; // the file as loaded, unknown modules included
    bool m_FileSound = false; // it was there and could be read in full
    QList<Module *> m_Modules;
};

} // namespace Corvane

#endif // CORVANECORE_H
