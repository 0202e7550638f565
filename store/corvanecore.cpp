#include "store/corvanecore.h"

#include "store/corvanemodule.h"
#include "store/filelock.h"
#include "store/programfolder.h"
#include "store/rfcardparser.h"
#include "store/safetext.h"
#include "store/settingsfile.h"
#include "store/settingsreport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTextCodec>

#include <cstdio>

namespace Corvane {

namespace {

// Every warning names things from the settings file or its folder, which
// other operators may have named: nothing of them reaches the terminal raw.
void warn(const QString &text, SettingsReport::Kind kind = SettingsReport::Note)
{
    const QString line = QStringLiteral("warning: ") + SafeText::printable(text);
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    SettingsReport::add(kind, line);
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

// The part of a loaded file the store can use: modules are objects of texts.
// Anything else would make every later run report the file as damaged.
QJsonObject usable(const QJsonObject &root)
{
    QJsonObject clean;
    for (auto m = root.constBegin(); m != root.constEnd(); ++m) {
        if (!m.value().isObject())
            continue;
        QJsonObject module;
        const QJsonObject object = m.value().toObject();
        for (auto k = object.constBegin(); k != object.constEnd(); ++k) {
            if (k.value().isString())
                module.insert(k.key(), k.value());
        }
        clean.insert(m.key(), module);
    }
    return clean;
}

// How many member names the file's text gives the top-level object and the
// module objects in it. JSON allows a name twice, and the parser keeps only
// one of the two; more names in the text than in the parsed object mean that
// settings were dropped. The text is valid JSON (it parsed).
void countNames(const QByteArray &json, int *modules, int *keys)
{
    QByteArray open; // the containers the scan is in, '{' or '['
    bool name = false; // the next string is a member name
    for (int i = 0; i < json.size(); ++i) {
        switch (json.at(i)) {
        case '"':
            if (name) {
                if (open == "{")
                    ++*modules;
                else if (open == "{{")
                    ++*keys;
                name = false;
            }
            for (++i; i < json.size() && json.at(i) != '"'; ++i) {
                if (json.at(i) == '\\')
                    ++i;
            }
            break;
        case '{':
            open += '{';
            name = true;
            break;
        case '[':
            open += '[';
            name = false;
            break;
        case '}':
        case ']':
            open.chop(1);
            name = false;
            break;
        case ',':
            name = open.endsWith('{');
            break;
        default:
            break;
        }
    }
}

QString duplicateProblem(const QByteArray &json, const QJsonObject &root)
{
    int modules = 0;
    int keys = 0;
    countNames(json, &modules, &keys);
    int parsedKeys = 0;
    for (auto m = root.constBegin(); m != root.constEnd(); ++m)
        parsedKeys += m.value().isObject() ? m.value().toObject().size() : 0;
    if (modules > root.size())
        return QStringLiteral("names a module more than once, and only one copy was read");
    if (keys > parsedKeys)
        return QStringLiteral("names a setting twice in one module, and only one was read");
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

Core::FileContent Core::readFile() const
{
    FileContent content;
    const SettingsFile::Content file = SettingsFile::read(m_Path, MaxFileSize);
    if (!file.exists)
        return content;
    content.mode = file.mode;
    content.notWritable = file.notWritable;
    content.bytes = file.bytes;
    content.problem = file.error;
    if (file.tooLarge) {
        content.damaged = true;
        content.tooLarge = true;
        return content;
    }
    if (!file.regular || !file.error.isEmpty()) {
        content.unusable = true;
        return content;
    }
    content.damaged = true;
    if (file.bytes.trimmed().isEmpty()) {
        content.problem = QStringLiteral("empty");
        return content;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.bytes, &error);
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
    if (content.problem.isEmpty())
        content.problem = duplicateProblem(file.bytes, content.root);
    content.damaged = !content.problem.isEmpty();
    return content;
}

void Core::init(const QString &fileName)
{
    // A relative name is taken in the program's folder, never in the folder
    // the run happened to start in.
    m_Refused.clear();
    m_Path.clear();
    if (QFileInfo(fileName).isAbsolute()) {
        m_Path = SettingsFile::resolve(fileName, &m_Refused);
    } else {
        const QString folder = ProgramFolder::path(&m_Refused);
        if (!folder.isEmpty())
            m_Path = SettingsFile::resolve(QDir(folder).filePath(fileName), &m_Refused);
    }
    m_FileRoot = QJsonObject();
    m_FileSound = false;
    if (m_Path.isEmpty()) {
        warn(QStringLiteral("settings file refused: %1; defaults are used").arg(m_Refused),
            SettingsReport::NotLoaded);
    } else {
        const FileContent content = readFile();
        m_FileRoot = content.root;
        m_FileSound = content.problem.isEmpty() && content.mode >= 0;
        // A first run has no file; rfcard says nothing of it.
        if (content.problem.isEmpty() && content.mode < 0)
            SettingsReport::add(SettingsReport::Missing, m_Path);
        if (!content.problem.isEmpty()) {
            warn(
                QStringLiteral("settings file \"%1\" %2; defaults are used for what cannot be read")
                    .arg(m_Path, content.problem),
                SettingsReport::NotLoaded);
        }
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
    root = usable(root);
    for (const Module *module : qAsConst(m_Modules)) {
        QJsonObject object = root.value(module->name()).toObject();
        const QMap<QString, QString> texts = module->snapshot();
        for (auto it = texts.constBegin(); it != texts.constEnd(); ++it) {
            if (!object.contains(it.key()) || module->changed().contains(it.key()))
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
    QString error;
    QStringList notes;
    const bool saved = save(force, &error, &notes);
    for (const QString &note : qAsConst(notes))
        warn(note);
    if (saved)
        return true;
    const QString texts = unsavedTexts();
    warn(
        QStringLiteral("cannot save settings to \"%1\"%2: %3")
            .arg(m_Path.isEmpty() ? QStringLiteral("rfcard.json") : m_Path,
                texts.isEmpty() ? QString() : QStringLiteral(" (not saved: %1)").arg(texts), error),
        SettingsReport::NotSaved);
    return false;
}

bool Core::save(bool force, QString *error, QStringList *notes)
{
    if (m_Path.isEmpty()) {
        *error = m_Refused.isEmpty() ? QStringLiteral("no settings file") : m_Refused;
        return false;
    }
    // Most runs repeat settings that are stored already; they leave the file
    // alone (no lock, no rewrite, no wait for the disk). `force` rewrites it
    // anyway.
    if (!force && fileIsCurrent())
        return true;

    const QString folder = QFileInfo(m_Path).absolutePath();
    FileLock lock;
    if (!lock.lock(
            m_Path + QStringLiteral(".lock"), SettingsFile::modeFor(folder), LockWaitMs, error))
        return false;

    const FileContent current = readFile();
    if (current.unusable) {
        // Never replace what could not be read: it may hold every setting.
        *error = QStringLiteral("\"%1\" %2").arg(m_Path, current.problem);
        return false;
    }
    if (!current.notWritable.isEmpty()) {
        // A file made read-only is meant to stay as it is.
        *error = QStringLiteral("\"%1\" cannot be written: %2").arg(m_Path, current.notWritable);
        return false;
    }
    if (current.damaged && !keepBadCopy(current, error))
        return false;

    // Indented for people to read, unless that would make a file the next
    // load refuses: a file that loads must stay a file that saves.
    const QJsonDocument document(merged(current.root));
    QByteArray bytes = document.toJson(QJsonDocument::Indented);
    if (bytes.size() > MaxFileSize)
        bytes = document.toJson(QJsonDocument::Compact);
    if (bytes.size() > MaxFileSize) {
        *error = QStringLiteral("the settings would take %1 bytes, more than the %2 a run loads")
                     .arg(bytes.size())
                     .arg(MaxFileSize);
        return false;
    }
    return SettingsFile::replace(
        m_Path, bytes, SettingsFile::modeFor(folder, current.mode), error, notes);
}

bool Core::keepBadCopy(const FileContent &content, QString *error) const
{
    // The first copy, with the operator's own values, is never overwritten;
    // later ones take the numbered names, the oldest making way once all
    // are used.
    const QString bad = m_Path + QStringLiteral(".bad");
    QString name;
    QString oldest;
    for (int i = 0; i < MaxBadCopies && name.isEmpty(); ++i) {
        const QString candidate = i == 0 ? bad : bad + QLatin1Char('.') + QString::number(i);
        if (!SettingsFile::exists(candidate))
            name = candidate;
        else if (i > 0
            && (oldest.isEmpty()
                || SettingsFile::modifiedAt(candidate) < SettingsFile::modifiedAt(oldest)))
            oldest = candidate;
    }
    // Names taken by what cannot be removed (folders an operator made there)
    // must not stop every later save: the copy then takes a name of its own.
    if (name.isEmpty())
        name = SettingsFile::removeEntry(oldest) ? oldest : SettingsFile::unusedName(bad);
    // A second name for the file costs nothing and works for a file of any
    // size; where links are not possible the bytes read are copied.
    QString linkError;
    if (!SettingsFile::linkAs(m_Path, name, &linkError)) {
        if (content.tooLarge) { // never read in full, so it cannot be copied
            *error = linkError;
            return false;
        }
        const QString folder = QFileInfo(m_Path).absolutePath();
        if (!SettingsFile::createNew(
                name, content.bytes, SettingsFile::modeFor(folder, content.mode), error))
            return false;
    }
    warn(QStringLiteral("the damaged settings file was kept as \"%1\"").arg(name));
    return true;
}

QString Core::unsavedTexts() const
{
    QStringList texts;
    for (const Module *module : qAsConst(m_Modules)) {
        QStringList set;
        for (auto it = module->changed().constBegin(); it != module->changed().constEnd(); ++it) {
            const QString english = RFCardParser::englishName(it.key());
            set << QStringLiteral("%1%2=\"%3\"")
                       .arg(it.key(),
                           english.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(english),
                           it.value().left(40));
        }
        if (!set.isEmpty())
            texts << module->name() + QLatin1Char(' ') + set.join(QLatin1Char(' '));
    }
    return texts.join(QStringLiteral("; "));
}

} // namespace Corvane
