#include "store/corvanecore.h"

#include "store/corvanemodule.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <QSaveFile>
#include <QTextCodec>

#include <cstdio>

namespace Corvane {

namespace {

QString absolute(const QString &path)
{
    return QFileInfo(path).absoluteFilePath();
}

void warn(const QString &text)
{
    std::fprintf(stderr, "warning: %s\n", text.toLocal8Bit().constData());
}

// The first entry that is not what the file layout promises, if any.
QString typeProblem(const QJsonObject &root)
{
    for (auto m = root.constBegin(); m != root.constEnd(); ++m) {
        if (!m.value().isObject())
            return QStringLiteral("module \"%1\" is not an object").arg(m.key());
        const QJsonObject module = m.value().toObject();
        for (auto k = module.constBegin(); k != module.constEnd(); ++k) {
            if (!k.value().isString())
                return QStringLiteral("\"%1\" of module \"%2\" is not a text")
                    .arg(k.key(), m.key());
        }
    }
    return QString();
}

} // namespace

Core *Core::Instance()
{
    static Core *core = new Core;
    return core;
}

Core::Core()
{
    m_Modules.append(new Module(QStringLiteral("system")));
}

Module *Core::invokeModule(const QString &name) const
{
    for (Module *module : m_Modules) {
        if (module->name() == name)
            return module;
    }
    return nullptr;
}

QString Core::unicode(const char *gbkText) const
{
    if (!gbkText)
        return QString();
    if (QTextCodec *codec = QTextCodec::codecForName("GBK"))
        return codec->toUnicode(gbkText);
    return QString::fromLocal8Bit(gbkText);
}

Core::FileContent Core::readFile(const QString &path)
{
    FileContent content;
    QFile file(path);
    if (!file.exists())
        return content;
    if (!file.open(QIODevice::ReadOnly)) {
        content.problem = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return content;
    }
    content.keepAsBad = true;
    if (file.size() > MaxFileSize) {
        content.problem = QStringLiteral("larger than %1 bytes").arg(MaxFileSize);
        return content;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.trimmed().isEmpty()) {
        content.problem = QStringLiteral("empty");
        return content;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        content.problem
            = QStringLiteral("not JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset);
        return content;
    }
    if (!doc.isObject()) {
        content.problem = QStringLiteral("not a JSON object");
        return content;
    }
    // Whatever is sound in a partly damaged file is still used.
    content.root = doc.object();
    content.problem = typeProblem(content.root);
    content.keepAsBad = !content.problem.isEmpty();
    return content;
}

void Core::init(const QString &fileName)
{
    m_FileName = fileName;
    const FileContent content = readFile(fileName);
    m_FileRoot = content.root;
    m_FileSound = content.problem.isEmpty() && QFile::exists(fileName);
    if (!content.problem.isEmpty()) {
        warn(QStringLiteral("settings file \"%1\" %2; defaults are used for what cannot be read")
                 .arg(absolute(fileName), content.problem));
    }
    for (Module *module : qAsConst(m_Modules))
        applyStoredTexts(module);
}

bool Core::registerModule(Module *module)
{
    if (!module || invokeModule(module->name()))
        return false;
    m_Modules.append(module);
    applyStoredTexts(module);
    return true;
}

void Core::applyStoredTexts(Module *module) const
{
    QMap<QString, QString> stored;
    const QJsonObject object = m_FileRoot.value(module->name()).toObject();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (it.value().isString())
            stored.insert(it.key(), it.value().toString());
    }
    module->setStored(stored);
}

QJsonObject Core::merged(QJsonObject root) const
{
    // On top of the file as it is now: the texts this run set, and every
    // declared key the file does not hold yet (so the file shows them all).
    for (const Module *module : qAsConst(m_Modules)) {
        QJsonObject object = root.value(module->name()).toObject();
        const QMap<QString, QString> texts = module->snapshot();
        for (auto it = texts.constBegin(); it != texts.constEnd(); ++it) {
            if (!object.value(it.key()).isString() || module->changed().contains(it.key()))
                object.insert(it.key(), it.value());
        }
        root.insert(module->name(), object);
    }
    return root;
}

bool Core::fileIsCurrent() const
{
    // The file as loaded already holds every declared key and every text
    // this run set: writing it again would change nothing.
    if (!m_FileSound)
        return false;
    for (const Module *module : qAsConst(m_Modules)) {
        const QJsonObject object = m_FileRoot.value(module->name()).toObject();
        const QMap<QString, QString> texts = module->snapshot();
        for (auto it = texts.constBegin(); it != texts.constEnd(); ++it) {
            if (object.value(it.key()) != QJsonValue(it.value()))
                return false;
        }
    }
    return true;
}

bool Core::saveConfig(bool force)
{
    if (m_FileName.isEmpty())
        return false;
    // Most runs repeat settings that are stored already; they leave the file
    // alone (no lock, no rewrite, no wait for the disk). `force` rewrites it
    // anyway.
    if (!force && fileIsCurrent())
        return true;

    QLockFile lock(m_FileName + QStringLiteral(".lock"));
    lock.setStaleLockTime(30000);
    if (!lock.tryLock(LockWaitMs)) {
        warn(QStringLiteral("cannot lock \"%1.lock\" within %2 s; saving without the lock, "
                            "settings of a run saving at the same time may be lost")
                 .arg(absolute(m_FileName))
                 .arg(LockWaitMs / 1000));
    }

    const FileContent current = readFile(m_FileName);
    if (current.keepAsBad) {
        const QString bad = m_FileName + QStringLiteral(".bad");
        QFile::remove(bad);
        if (QFile::rename(m_FileName, bad))
            warn(QStringLiteral("the damaged settings file was kept as \"%1\"").arg(absolute(bad)));
    }

    // QSaveFile writes a temporary file and renames it over the old one only
    // when everything was written, so a crash or a full disk never leaves a
    // half-written configuration behind.
    QSaveFile file(m_FileName);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QJsonDocument(merged(current.root)).toJson(QJsonDocument::Indented)) < 0
        || !file.commit()) {
        warn(QStringLiteral("cannot save settings to \"%1\": %2")
                 .arg(absolute(m_FileName), file.errorString()));
        return false;
    }
    shareWithGroup(m_FileName);
    return true;
}

void Core::shareWithGroup(const QString &fileName)
{
    // In a tool folder shared by a group (say, everyone allowed to use the
    // serial ports), the next run may be another member's: leave the file
    // writable for the group, or QSaveFile would refuse to replace it.
    const QFileInfo folder(QFileInfo(fileName).absolutePath());
    const QFile::Permissions mode = QFile::permissions(fileName);
    if (folder.permission(QFile::WriteGroup) && !(mode & QFile::WriteGroup))
        QFile::setPermissions(fileName, mode | QFile::ReadGroup | QFile::WriteGroup);
}

} // namespace Corvane
