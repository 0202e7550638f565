// The merges: an option given on the command line replaces the stored text
// (and is stored at once); an option left out takes the stored text.

#include "app/cmdagent.h"

#include "serial/portname.h"
#include "store/corvanemodule.h"
#include "store/rfcardparser.h"

namespace {

QString upperCased(const QString &text)
{
    return text.toUpper();
}

QString portNormalized(const QString &text)
{
    return PortName::normalized(text);
}

// The system keys, the same texts the store declares from their GBK bytes.
QString cardModelKey()
{
    return QStringLiteral("变频卡型号");
}

QString portKey()
{
    return QStringLiteral("端口号");
}

} // namespace

QString CmdAgent::mergeSystemKey(const QCommandLineOption &option, const QString &storeKey,
    const QString &mapKey, QString (*normalize)(const QString &))
{
    Corvane::Module *system = RFCardParser::instance()->systemModule;
    if (parser.isSet(option)) {
        const QString text = normalize(parser.value(option));
        if (system)
            system->set(storeKey, text);
        systemParams.insert(mapKey, text);
    } else {
        systemParams.insert(mapKey, system ? system->val(storeKey) : QString());
    }
    return systemParams.value(mapKey);
}

QString CmdAgent::mergeCard()
{
    return mergeSystemKey(cardOption(), cardModelKey(), QStringLiteral("cardname"), &upperCased);
}

QString CmdAgent::mergeCom()
{
    return mergeSystemKey(comOption(), portKey(), QStringLiteral("com"), &portNormalized);
}

void CmdAgent::mergeChannelKey(
    int ch, const QCommandLineOption &option, const QString &key, Form form)
{
    Corvane::Module *module = RFCardParser::instance()->channelModules[ch];
    QVariantMap &params = channelParams[ch];
    if (!parser.isSet(option)) {
        params.insert(key, module->val(key));
        return;
    }

    const QString typed = parser.value(option);
    const double kHz = typed.toDouble() * 1000.0; // MHz on the command line
    switch (form) {
    case Form::Text:
        module->set(key, typed);
        params.insert(key, typed);
        break;
    case Form::FixedKHz: {
        const QString text = QString::number(kHz, 'f', 3);
        module->set(key, text);
        params.insert(key, text);
        break;
    }
    case Form::KHzNumber:
        module->set(key, QString::number(kHz, 'g', 6));
        params.insert(key, kHz);
        break;
    }
}

void CmdAgent::mergeFreq(int ch)
{
    mergeChannelKey(ch, freqOption(), QStringLiteral("freq"), Form::FixedKHz);
}

void CmdAgent::mergeGain(int ch)
{
    // One option, two keys: the gain as typed, and twice the gain ("gain2",
    // half-dB steps) for the cards that count in half steps.
    const QString gainKey = QStringLiteral("gain");
    const QString gain2Key = QStringLiteral("gain2");
    Corvane::Module *module = RFCardParser::instance()->channelModules[ch];
    QVariantMap &params = channelParams[ch];
    const QCommandLineOption option = gainOption();
    if (parser.isSet(option)) {
        const QString typed = parser.value(option);
        const double twice = typed.toDouble() * 2.0;
        module->set(gainKey, typed);
        module->set(gain2Key, QString::number(twice, 'g', 6));
        params.insert(gainKey, typed);
        params.insert(gain2Key, twice);
    } else {
        params.insert(gainKey, module->val(gainKey));
        params.insert(gain2Key, module->val(gain2Key));
    }
}

void CmdAgent::mergeOutFreq(int ch)
{
    mergeChannelKey(ch, outFreqOption(), QStringLiteral("outfreq"), Form::KHzNumber);
}

void CmdAgent::mergeBand(int ch)
{
    mergeChannelKey(ch, bandOption(), QStringLiteral("band"), Form::Text);
}

void CmdAgent::mergeRef(int ch)
{
    mergeChannelKey(ch, refOption(), QStringLiteral("ref"), Form::Text);
}

void CmdAgent::mergeWorkMode(int ch)
{
    mergeChannelKey(ch, workModeOption(), QStringLiteral("workmode"), Form::Text);
}

void CmdAgent::mergeGainMode(int ch)
{
    mergeChannelKey(ch, gainModeOption(), QStringLiteral("gainmode"), Form::Text);
}

void CmdAgent::mergeUpFreq(int ch)
{
    mergeChannelKey(ch, upFreqOption(), QStringLiteral("upfreq"), Form::KHzNumber);
}

void CmdAgent::mergeUpGain(int ch)
{
    mergeChannelKey(ch, upGainOption(), QStringLiteral("upgain"), Form::Text);
}

QString CmdAgent::optionText(const QString &name, int ch, bool *given) const
{
    *given = parser.isSet(name);
    if (*given)
        return parser.value(name);
    const RFCardParser *store = RFCardParser::instance();
    if (ch < 0 || ch >= ChannelCount || !store->channelModules[ch])
        return QString();
    const QString stored = store->channelModules[ch]->val(name);
    const bool kHz = name == QLatin1String("freq") || name == QLatin1String("outfreq")
        || name == QLatin1String("upfreq");
    return kHz ? QString::number(stored.toDouble() / 1000.0, 'g', 9) : stored;
}

QString CmdAgent::cardOfRun() const
{
    if (parser.isSet(cardOption()))
        return upperCased(parser.value(cardOption()));
    const Corvane::Module *system = RFCardParser::instance()->systemModule;
    return system ? system->val(cardModelKey()) : QString();
}

QString CmdAgent::portOfRun() const
{
    if (parser.isSet(comOption()))
        return portNormalized(parser.value(comOption()));
    const Corvane::Module *system = RFCardParser::instance()->systemModule;
    return system ? system->val(portKey()) : QString();
}
