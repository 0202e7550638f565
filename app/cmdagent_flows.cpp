// The two card flows: apply one channel's parameters to the card of the run,
// and read every parameter of one channel back into the report map.

#include "app/cmdagent.h"
#include "store/cardmodels.h"

#include <QDebug>

#include <climits>
#include <cmath>

namespace {

// The output selection for a requested IF output frequency in kHz. A
// frequency the card does not have gives 2, which the card refuses with its
// "outFreq overflow" line, so the operator sees why nothing was selected.
int outputSelect(int outFreqKHz, int secondKHz)
{
    if (outFreqKHz == 70000)
        return 0;
    return outFreqKHz == secondKHz ? 1 : 2;
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString general(double value)
{
    return QString::number(value, 'g', 6);
}

// A read that failed reports an empty text: the key is there, no number is
// invented.
template <typename T, typename Format> QString textOf(bool ok, T value, Format format)
{
    return ok ? format(value) : QString();
}

QString decimal(qint64 value)
{
    return QString::number(value);
}

} // namespace

int CmdAgent::truncatedInt(const QVariant &value)
{
    const double d = value.toDouble();
    if (std::isnan(d))
        return 0;
    if (d >= double(INT_MAX))
        return INT_MAX;
    if (d <= double(INT_MIN))
        return INT_MIN;
    return int(d);
}

int CmdAgent::roundedInt(const QVariant &value)
{
    if (value.userType() != QMetaType::Double)
        return value.toInt();
    const double d = value.toDouble();
    if (std::isnan(d))
        return 0;
    if (d >= double(INT_MAX))
        return INT_MAX;
    if (d <= double(INT_MIN + 1))
        return INT_MIN + 1;
    return qRound(d);
}

void CmdAgent::setAllParams(QString cardName, int ch, QVariantMap params)
{
    qDebug() << "setAllParams cardname = " << cardName << "param = " << params;
    if (cardName == CardModels::Klr620)
        applyKlr620(unsigned(ch), params);
    else if (cardName == CardModels::Jq5140)
        applyJq5140(ch, params);
    else if (cardName == CardModels::Vn2810)
        applyVn2810(unsigned(ch), params);
    else if (cardName == CardModels::Jq5120)
        applyJq5120(ch, params);
}

void CmdAgent::applyKlr620(unsigned ch, const QVariantMap &params)
{
    const int freq = truncatedInt(params.value(QStringLiteral("freq")));
    const int workmode = roundedInt(params.value(QStringLiteral("workmode")));
    const int gain = truncatedInt(params.value(QStringLiteral("gain")));
    const int band = roundedInt(params.value(QStringLiteral("band")));
    qDebug() << "setAllParams freq = " << freq << " gain=" << gain << " workmode =" << workmode
             << " band = " << band;
    klrCard.SetFreq(ch, freq) && klrCard.SetWorkMode(ch, unsigned(workmode))
        && klrCard.SetGain(ch, gain, workmode) && klrCard.SetBandWidth(ch, unsigned(band));
}

void CmdAgent::applyJq5140(int ch, const QVariantMap &params)
{
    const int freq = truncatedInt(params.value(QStringLiteral("freq")));
    const int workmode = roundedInt(params.value(QStringLiteral("workmode")));
    const int gain2 = roundedInt(params.value(QStringLiteral("gain2")));
    const int ref = roundedInt(params.value(QStringLiteral("ref")));
    const int outfreq = roundedInt(params.value(QStringLiteral("outfreq")));
    // The work mode doubles as the gain mode: 0 through the RF attenuator,
    // 1 through the IF adjust attenuator.
    jqCardFour.SetWorkMode(ch, workmode) && jqCardFour.SetFreq(ch, freq)
        && jqCardFour.SetGain(ch, gain2, workmode) && jqCardFour.SetRefType(ch, ref)
        && jqCardFour.SetIFOutputSelect(ch, outputSelect(outfreq, 140000));
}

void CmdAgent::applyVn2810(unsigned ch, const QVariantMap &params)
{
    const int freq = truncatedInt(params.value(QStringLiteral("freq")));
    const int gain2 = roundedInt(params.value(QStringLiteral("gain2")));
    const int outfreq = roundedInt(params.value(QStringLiteral("outfreq")));
    vnCard.SetFreq(ch, freq) && vnCard.SetGain(ch, unsigned(gain2))
        && vnCard.SetIFOutputSelect(ch, unsigned(outputSelect(outfreq, 21400)));
}

void CmdAgent::applyJq5120(int ch, const QVariantMap &params)
{
    const int freq = truncatedInt(params.value(QStringLiteral("freq")));
    const int gain2 = roundedInt(params.value(QStringLiteral("gain2")));
    qDebug() << "gain ==" << gain2;
    const int ref = roundedInt(params.value(QStringLiteral("ref")));
    const int band = roundedInt(params.value(QStringLiteral("band")));
    // On the two-channel card "band" is the IF output selection; it has one
    // gain path, so the mode is not used.
    jqCardTwo.SetFreq(ch, freq) && jqCardTwo.SetGain(ch, gain2, 0) && jqCardTwo.SetRefType(ch, ref)
        && jqCardTwo.SetIFOutputSelect(ch, band);
}

QVariantMap CmdAgent::readAllParams(QString cardName, int ch)
{
    qDebug() << "readAllParams cardname =" << cardName << " ch =" << ch;
    if (cardName == CardModels::Klr620)
        return readKlr620(ch);
    if (cardName == CardModels::Jq5140)
        return readJq5140(ch);
    if (cardName == CardModels::Vn2810)
        return readVn2810(ch);
    if (cardName == CardModels::Jq5120)
        return readJq5120(ch);
    return QVariantMap();
}

QVariantMap CmdAgent::readKlr620(int ch)
{
    qDebug() << "This is KLR620"
             << " ch = " << ch;
    const unsigned c = unsigned(ch);
    unsigned freq = 0, mode = 0, ifAtt = 0, rfAtt = 0, band = 0, warning = 0;
    const bool freqOk = klrCard.GetFreq(c, freq);
    const bool modeOk = klrCard.GetWorkMode(c, mode);
    const bool ifOk = klrCard.GetIFAttenuation(c, ifAtt);
    const bool rfOk = klrCard.GetRFAttenuation(c, rfAtt);
    const bool gainOk = modeOk && ifOk && rfOk;
    const qint64 gain = (mode == 0 ? 30 : 45) - qint64(rfAtt) - qint64(ifAtt);
    const bool bandOk = klrCard.GetBandwidth(c, band);
    const bool warningOk = klrCard.GetWarning(c, warning);

    QVariantMap report;
    report.insert(QStringLiteral("freq"),
        textOf(freqOk, freq / 1000.0, [](double v) { return fixed(v, 3); }));
    report.insert(QStringLiteral("workmode"), textOf(modeOk, qint64(mode), decimal));
    report.insert(QStringLiteral("gain"), textOf(gainOk, gain, decimal));
    report.insert(QStringLiteral("band"), textOf(bandOk, qint64(band), decimal));
    report.insert(QStringLiteral("warning"), textOf(warningOk, qint64(warning), decimal));
    report.insert(QStringLiteral("ch"), decimal(ch));
    return report;
}

QVariantMap CmdAgent::readJq5140(int ch)
{
    qDebug() << "This is JQ5140"
             << " ch = " << ch;
    int freq = 0, mode = 0, ref = 0, power = 0, att = 0, select = 0;
    double temp = 0;
    const bool freqOk = jqCardFour.GetFreq(ch, freq);
    const bool tempOk = jqCardFour.GetTemperature(ch, temp);
    const bool modeOk = jqCardFour.GetWorkMode(ch, mode);
    const bool refOk = jqCardFour.GetRefType(ch, ref);
    const bool powerOk = jqCardFour.GetInputPower(ch, power);
    // Without a work mode, read the attenuation mode 0 uses; the gain it
    // stands for is unknown then.
    const bool rfMode = !modeOk || mode == 0;
    const bool attOk
        = rfMode ? jqCardFour.GetRFAttenuation(ch, att) : jqCardFour.GetIFAttenuation(ch, att);
    const double gain = rfMode ? (60 - att) * 0.5 : 50.0 - att;
    const bool selectOk = jqCardFour.GetIFOutputSelect(ch, select);

    QVariantMap report;
    report.insert(QStringLiteral("freq"),
        textOf(freqOk, freq / 1000.0, [](double v) { return fixed(v, 3); }));
    report.insert(QStringLiteral("temp"), textOf(tempOk, temp / 10.0, general));
    report.insert(QStringLiteral("workmode"), textOf(modeOk, qint64(mode), decimal));
    report.insert(QStringLiteral("ref"), textOf(refOk, qint64(ref), decimal));
    report.insert(QStringLiteral("power"), textOf(powerOk, qint64(power), decimal));
    report.insert(QStringLiteral("gain"), textOf(modeOk && attOk, gain, general));
    report.insert(QStringLiteral("outfreq"), textOf(selectOk, qint64(select), decimal));
    report.insert(QStringLiteral("ch"), decimal(ch));
    return report;
}

QVariantMap CmdAgent::readVn2810(int ch)
{
    qDebug() << "This is VN2810"
             << " ch = " << ch;
    const unsigned c = unsigned(ch);
    unsigned freq = 0, gain = 0, select = 0, type = 0;
    double temp = 0;
    const bool freqOk = vnCard.GetFreq(c, freq);
    const bool gainOk = vnCard.GetGain(c, gain);
    const bool tempOk = vnCard.GetTemperature(c, temp);
    const bool selectOk = vnCard.GetIFOutputSelect(c, select);
    const bool typeOk = vnCard.GetType(c, type);

    QVariantMap report;
    report.insert(QStringLiteral("freq"),
        textOf(freqOk, freq / 1000.0, [](double v) { return fixed(v, 3); }));
    report.insert(
        QStringLiteral("gain"), textOf(gainOk, gain * 0.5, [](double v) { return fixed(v, 1); }));
    report.insert(QStringLiteral("temp"), textOf(tempOk, temp / 10.0, general));
    report.insert(QStringLiteral("outfreq"), textOf(selectOk, qint64(select), decimal));
    report.insert(QStringLiteral("hardch"), textOf(typeOk, qint64(type), decimal));
    report.insert(QStringLiteral("ch"), decimal(ch));
    return report;
}

QVariantMap CmdAgent::readJq5120(int ch)
{
    qDebug() << "This is JQ5120"
             << " ch = " << ch;
    int freq = 0, ref = 0, band = 0, gain = 0;
    const bool freqOk = jqCardTwo.GetFreq(ch, freq);
    const bool refOk = jqCardTwo.GetRefType(ch, ref);
    const bool bandOk = jqCardTwo.GetIFOutputSelect(ch, band);
    const bool gainOk = jqCardTwo.GetGain(ch, gain);

    QVariantMap report;
    report.insert(QStringLiteral("freq"),
        textOf(freqOk, freq / 1000.0, [](double v) { return fixed(v, 3); }));
    report.insert(QStringLiteral("ref"), textOf(refOk, qint64(ref), decimal));
    report.insert(QStringLiteral("band"), textOf(bandOk, qint64(band), decimal));
    report.insert(
        QStringLiteral("gain"), textOf(gainOk, gain * 0.5, [](double v) { return fixed(v, 1); }));
    return report;
}
