#include "store/rfcardparser.h"

#include "store/cardmodels.h"
#include "store/corvanecore.h"
#include "store/corvanemodule.h"

#include <QDebug>

namespace {

// The system keys are declared from their GBK bytes, as the configuration
// framework expects them; the merges use the same texts as Unicode literals.
const char CardModelKeyGbk[] = "\xb1\xe4\xc6\xb5\xbf\xa8\xd0\xcd\xba\xc5"; // 变频卡型号
const char PortKeyGbk[] = "\xb6\xcb\xbf\xda\xba\xc5"; // 端口号

struct ChannelDefault {
    const char *key;
    const char *text;
};

// Frequencies are kept in kHz, in the text forms the merges write.
const ChannelDefault ChannelDefaults[] = {
    {"freq", "1000000.000"},
    {"gain", "0"},
    {"gain2", "0"},
    {"outfreq", "70000"},
    {"ref", "0"},
    {"workmode", "0"},
    {"band", "0"},
    {"gainmode", "0"},
    {"upfreq", "1e+06"},
    {"upgain", "0"},
};

} // namespace

RFCardParser *RFCardParser::instance()
{
    static RFCardParser *parser = new RFCardParser;
    return parser;
}

RFCardParser::~RFCardParser() = default;

void RFCardParser::init()
{
    Corvane::Core *core = Corvane::Core::Instance();
    systemModule = core->invokeModule(QStringLiteral("system"));
    if (systemModule) {
        systemModule->init(core->unicode(CardModelKeyGbk), CardModels::Default);
        systemModule->init(core->unicode(PortKeyGbk), QStringLiteral("COM1"));
    }

    Corvane::Core::Instance()->init(QStringLiteral("rfcard.json"));

    const QString prefix = QString::fromLatin1(metaObject()->className());
    for (int i = 0; i < ChannelCount; ++i)
        channelModules[i]
            = new Corvane::Module(prefix + QStringLiteral(" ch") + QString::number(i + 1));
    initChannelDefaults();
    for (Corvane::Module *module : channelModules)
        Corvane::Core::Instance()->registerModule(module);

    qDebug() << "RFCardParser init success.";
}

void RFCardParser::initChannelDefaults()
{
    for (Corvane::Module *module : channelModules) {
        for (const ChannelDefault &d : ChannelDefaults)
            module->init(QString::fromLatin1(d.key), QString::fromLatin1(d.text));
    }
}

QString RFCardParser::channelDefault(const QString &key)
{
    for (const ChannelDefault &d : ChannelDefaults) {
        if (key == QLatin1String(d.key))
            return QString::fromLatin1(d.text);
    }
    return QString();
}

QString RFCardParser::englishName(const QString &key)
{
    const Corvane::Core *core = Corvane::Core::Instance();
    if (key == core->unicode(CardModelKeyGbk))
        return QStringLiteral("card model");
    if (key == core->unicode(PortKeyGbk))
        return QStringLiteral("port");
    return QString();
}
