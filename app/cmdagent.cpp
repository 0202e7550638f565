#include "app/cmdagent.h"
#include "store/cardmodels.h"

#include <QCoreApplication>
#include <QDebug>
#include <QJsonDocument>

#include <cstdio>
#include <cstdlib>

namespace {

QCommandLineOption makeOption(
    const char *name, const char *description, const char *valueName, const char *defaultValue)
{
    return QCommandLineOption(QString::fromLatin1(name),
        QCoreApplication::translate("main", description), QString::fromLatin1(valueName),
        QString::fromLatin1(defaultValue));
}

// Digits with an optional sign, as toInt reads them (blanks around allowed).
bool isWholeNumber(const QString &text)
{
    const QString t = text.trimmed();
    int i = t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+')) ? 1 : 0;
    if (i >= t.size())
        return false;
    for (; i < t.size(); ++i) {
        if (t.at(i) < QLatin1Char('0') || t.at(i) > QLatin1Char('9'))
            return false;
    }
    return true;
}

} // namespace

CmdAgent *CmdAgent::instance()
{
    static CmdAgent *agent = new CmdAgent;
    return agent;
}

CmdAgent::CmdAgent() = default;
CmdAgent::~CmdAgent() = default;

QCommandLineOption CmdAgent::cardOption()
{
    return makeOption("card", "变频卡型号 支持 VN2810,\nJQ5140,KLR620,JQ5120\n默认值VN2810\n",
        " eg: --card vn2810", "vn2810");
}

QCommandLineOption CmdAgent::comOption()
{
    return makeOption("com", "端口号 默认值com1\n", " eg: --com com1", "com1");
}

QCommandLineOption CmdAgent::partOption()
{
    return makeOption("part",
        "设置或者回读参数模块选择 0=设置 \n1=回读(此处回读该通道的所有参数) \n默认值0\n",
        " eg: --part 0", "0");
}

QCommandLineOption CmdAgent::chOption()
{
    return makeOption(
        "ch", "设置变频通道 0=通道1, 1=通道2,\n 2=通道3, 3=通道4. 默认值0\n", " eg: --ch 0", "0");
}

QCommandLineOption CmdAgent::freqOption()
{
    return makeOption("freq", "设置中心频率 范围20.000~6000.000MHz.\n 默认值1000.000\n",
        " eg: --freq 1000.000", "1000.000");
}

QCommandLineOption CmdAgent::gainOption()
{
    return makeOption("gain", "设置增益 范围0~25dBm(普通模式),\n 0~40dBm(低噪声模式). 默认值0.0\n",
        " eg: --gain 0.0", "0.0");
}

QCommandLineOption CmdAgent::outFreqOption()
{
    return makeOption("outfreq",
        "设置输出频率 70MHz,24.1MHz(变频卡VN2810),\n70MHz,153.6MHz(变频卡VN2810A),\n"
        "70MHz,140MHz(变频卡JQ5140),\n735MHz(变频卡VN2810B), \n"
        "其余变频卡为70MHz. 默认值70\n",
        " eg: --outfreq 70", "70");
}

QCommandLineOption CmdAgent::refOption()
{
    return makeOption("ref", "设置参考类型 0=内参考,\n1=外参考. 默认值0\n", " eg: --ref 0", "0");
}

QCommandLineOption CmdAgent::workModeOption()
{
    return makeOption("workmode",
        "设置工作模式 0=低噪声模式,\n1=普通模式.(KLR620变频卡则相反) 默认值0\n",
        " eg: --workmode 0", "0");
}

QCommandLineOption CmdAgent::bandOption()
{
    return makeOption("band",
        "设置输出带宽 0=5M,\n1=20M,2=40M\n.其中变频卡KLR620对应 2=175M,3=400M,\n"
        "变频卡JQ5120对应0=200MHz,1=400MHz,\n 默认值0\n",
        " eg: --band 0", "0");
}

QCommandLineOption CmdAgent::gainModeOption()
{
    return makeOption(
        "gainmode", "设置增益模式 0=MGC,\n1=AGC. 默认值0\n", " eg: --gainmode 0", "0");
}

QCommandLineOption CmdAgent::upFreqOption()
{
    return makeOption("upfreq", "设置上变频频率 范围950.000-2150.000MHz.\n 默认值1000.000\n",
        " eg: --upfreq 1000.000", "1000.000");
}

QCommandLineOption CmdAgent::upGainOption()
{
    return makeOption("upgain", "设置上变频增益 范围0-30dBmMHz. 默认值0\n", " eg: --upgain 0", "0");
}

QCommandLineOption CmdAgent::gchOption()
{
    return makeOption(
        "gch", "回读变频通道 0=通道1, 1=通道2,\n 2=通道3, 3=通道4. 默认值0\n", " eg: --gch 0", "0");
}

void CmdAgent::init()
{
    parser.addHelpOption();
    parser.addVersionOption();
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption options[] = {
        cardOption(),
        comOption(),
        partOption(),
        chOption(),
        freqOption(),
        gainOption(),
        outFreqOption(),
        refOption(),
        workModeOption(),
        bandOption(),
        gainModeOption(),
        upFreqOption(),
        upGainOption(),
        gchOption(),
    };
    for (const QCommandLineOption &option : options)
        parser.addOption(option);
}

void CmdAgent::process(QCoreApplication &app)
{
    parser.process(app);
    if (parser.optionNames().isEmpty())
        parser.showHelp(1);
    const int status = dispatch();
    if (status != 0)
        std::exit(status);
}

int CmdAgent::dispatch()
{
    qDebug() << "cmd ======= " << parser.optionNames();

    const int part = parser.value(partOption()).toInt();

    // Refused before anything is merged, so nothing of the run is stored.
    int length = 0;
    const QString overlong = overlongOption(&length);
    if (!overlong.isEmpty()) {
        std::fprintf(stderr, "error: --%s must be at most %d characters, got %d\n",
            overlong.toLocal8Bit().constData(), MaxValueLength, length);
        return 1;
    }

    const QString cardName = mergeCard();
    const QString portName = mergeCom();

    if (part == 0) {
        const QString chText = parser.value(chOption());
        bool inRange = false;
        const int ch = chText.toInt(&inRange);
        // There are four channels, in the store and in the agent; a channel
        // outside them, also one too large for an int, is refused before
        // anything is stored or sent. A text that is no number at all means
        // the first channel.
        if (ch < 0 || ch >= ChannelCount || (!inRange && isWholeNumber(chText))) {
            std::fprintf(stderr, "error: --ch must be 0 to 3, got \"%s\"\n",
                chText.toLocal8Bit().constData());
            return 1;
        }
        mergeFreq(ch);
        mergeGain(ch);
        mergeOutFreq(ch);
        mergeBand(ch);
        mergeRef(ch);
        mergeWorkMode(ch);
        mergeGainMode(ch);
        mergeUpFreq(ch);
        mergeUpGain(ch);
        openCard(cardName, portName);
        setAllParams(cardName, ch, channelParams[ch]);
    } else if (part == 1) {
        const int ch = parser.value(gchOption()).toInt();
        openCard(cardName, portName);
        printReport(readAllParams(cardName, ch));
    }
    return 0;
}

QStringList CmdAgent::channelOptions()
{
    return {QStringLiteral("freq"), QStringLiteral("gain"), QStringLiteral("outfreq"),
        QStringLiteral("band"), QStringLiteral("ref"), QStringLiteral("workmode"),
        QStringLiteral("gainmode"), QStringLiteral("upfreq"), QStringLiteral("upgain")};
}

QString CmdAgent::overlongOption(int *length) const
{
    // No parameter of any card needs a long text; one would only swell the
    // settings file towards the size a load refuses. Only what this run
    // stores counts (the last of a repeated option): card and port in every
    // run, the channel's parameters in a set run.
    QStringList stored{QStringLiteral("card"), QStringLiteral("com")};
    if (parser.value(partOption()).toInt() == 0)
        stored += channelOptions();
    for (const QString &name : qAsConst(stored)) {
        *length = int(parser.value(name).size());
        if (parser.isSet(name) && *length > MaxValueLength)
            return name;
    }
    return QString();
}

void CmdAgent::printReport(const QVariantMap &report) const
{
    const QByteArray json = QJsonDocument::fromVariant(QVariant(report)).toJson();
    std::fwrite(json.constData(), 1, size_t(json.size()), reportOut);
    std::fputs("\n", reportOut);
    std::fflush(reportOut);
}

void CmdAgent::openCard(QString cardName, QString portName)
{
    if (cardName == CardModels::Klr620)
        klrCard.Open(portName);
    else if (cardName == CardModels::Vn2810)
        vnCard.Open(portName);
    else if (cardName == CardModels::Jq5140)
        jqCardFour.Open(portName);
    else if (cardName == CardModels::Jq5120)
        jqCardTwo.Open(portName);
}
