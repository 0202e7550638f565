// Command lines, split at line ends: the option parser, the merges into the
// store and the channel map, and the two card flows on the merged values.
// No card is reachable: the stored port is a path that cannot exist and
// command lines naming a port are passed over, so nothing touches a real
// serial line.

#include "app/cmdagent.h"
#include "store/corvanecore.h"
#include "store/corvanemodule.h"
#include "store/rfcardparser.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) { }

QCoreApplication *app = nullptr;
QTemporaryDir *workDir = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qInstallMessageHandler(quiet);
    app = new QCoreApplication(*argc, *argv);
    workDir = new QTemporaryDir;
    const QString path = QDir(workDir->path()).filePath(QStringLiteral("rfcard.json"));
    QFile settings(path);
    settings.open(QIODevice::WriteOnly);
    settings.write(R"({"system": {"端口号": "/nonexistent/rfcard-fuzz-port"}})");
    settings.close();
    RFCardParser::instance()->init();
    // The settings of this run are the scratch file, not any beside the
    // fuzzer's executable.
    Corvane::Core::Instance()->init(path);
    CmdAgent::instance()->init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QStringList args{QStringLiteral("rfcard")};
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    args += text.split(QLatin1Char('\n'));

    CmdAgent *agent = CmdAgent::instance();
    if (!agent->parser.parse(args) || agent->parser.optionNames().isEmpty())
        return 0;
    if (agent->parser.isSet(CmdAgent::comOption()))
        return 0;
    // KLR620 set commands pause 100 ms each; they add nothing here but time.
    const QString card = agent->parser.isSet(CmdAgent::cardOption())
        ? agent->parser.value(CmdAgent::cardOption()).toUpper()
        : RFCardParser::instance()->systemModule->val(QStringLiteral("变频卡型号"));
    if (card == QLatin1String("KLR620") && agent->parser.value(CmdAgent::partOption()).toInt() == 0)
        return 0;
    agent->dispatch();
    return 0;
}
