// The settings file as the tool loads and saves it: whatever the file holds,
// the load gives texts, the save writes a JSON object that keeps the text
// this run set, and a damaged file is moved aside, not lost.

#include "store/corvanecore.h"
#include "store/corvanemodule.h"
#include "store/rfcardparser.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdint>

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) { }

QTemporaryDir *workDir = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(quiet);
    workDir = new QTemporaryDir;
    RFCardParser::instance()->init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString name = QDir(workDir->path()).filePath(QStringLiteral("rfcard.json"));
    QFile::remove(name + QStringLiteral(".bad"));
    {
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            __builtin_trap();
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    std::fflush(stderr);
    Corvane::Core *core = Corvane::Core::Instance();
    core->init(name);
    Corvane::Module *ch2 = RFCardParser::instance()->channelModules[1];
    const QString gain = ch2->val(QStringLiteral("gain"));
    (void)RFCardParser::instance()->systemModule->val(QStringLiteral("端口号"));
    ch2->set(QStringLiteral("ref"), gain + QStringLiteral("x"));
    if (!core->saveConfig(false))
        __builtin_trap();

    QFile saved(name);
    if (!saved.open(QIODevice::ReadOnly))
        __builtin_trap();
    const QJsonDocument doc = QJsonDocument::fromJson(saved.readAll());
    const QJsonObject ch2Saved = doc.object().value(QStringLiteral("RFCardParser ch2")).toObject();
    if (!doc.isObject()
        || ch2Saved.value(QStringLiteral("ref")).toString() != gain + QStringLiteral("x"))
        __builtin_trap();
    return 0;
}
