#include "store/corvanecore.h"

#include "store/corvanemodule.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTextCodec>

namespace Corvane {

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

void Core::init(const QString &fileName)
{
    m_FileName = fileName;
    m_FileRoot = QJsonObject();

    QFile file(fileName);
    if (file.open(QIODevice::ReadOnly)) {
        const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
        if (doc.isObject())
            m_FileRoot = doc.object();
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

bool Core::saveConfig(bool force)
{
    Q_UNUSED(force)
    if (m_FileName.isEmpty())
        return false;

    QJsonObject root = m_FileRoot;
    for (const Module *module : qAsConst(m_Modules)) {
        QJsonObject object = root.value(module->name()).toObject();
        const QMap<QString, QString> texts = module->snapshot();
        for (auto it = texts.constBegin(); it != texts.constEnd(); ++it)
            object.insert(it.key(), it.value());
        root.insert(module->name(), object);
    }

    // QSaveFile writes a temporary file and renames it over the old one only
    // when everything was written, so a crash or a full disk never leaves a
    // half-written configuration behind.
    QSaveFile file(m_FileName);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QJsonDocument(root).toJson(QJsonDocument::Indented)) < 0
        || !file.commit()) {
        qWarning("warning: cannot save settings to \"%s\": %s",
                 qPrintable(QFileInfo(m_FileName).absoluteFilePath()),
                 qPrintable(file.errorString()));
        return false;
    }
    return true;
}

} // namespace Corvane
