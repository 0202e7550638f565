// The two card flows: apply one channel's parameters to the card of the run,
// and read every parameter of one channel back into the report map.

#include "app/cmdagent.h"
#include "store/cardmodels.h"

#include <QDebug>

#include <climits>
#include <cmath>

namespace {

// The IF outputs a model selects by --outfreq, in kHz: 70 MHz is the first.
constexpr int FirstOutputKHz = 70000;
int secondOutputKHz(const QString &model)
{
    return model == CardModels::Jq5140 ? 140000 : 21400;
}

// The output selection for a requested IF output frequency in kHz. A
// frequency the card does not have gives 2, which the card refuses with its
// "outFreq overflow" line, so the operator sees why nothing was selected.
int outputSelect(int outFreqKHz, const QString &model)
{
    if (outFreqKHz == FirstOutputKHz)
        return 0;
    return outFreqKHz == secondOutputKHz(model) ? 1 : 2;
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString general(double value)
{
    return QString::number(value, 'g', 6);
}

QString decimal(qint64 value)
{
    return QString::number(value);
}

} // namespace

QString CmdAgent::userValue(const QString &model, const QString &parameter, qint64 value)
{
    // The inverse of what the merges and the apply flow do with an option.
    if (parameter == QLatin1String("freq"))
        return QString::number(value / 1000.0, 'g', 10);
    if (parameter == QLatin1String("temp")) // only read: in degrees, as the report gives it
        return general(value / 10.0);
    if (parameter == QLatin1String("outfreq") && (value == 0 || value == 1))
        return general((value ? secondOutputKHz(model) : FirstOutputKHz) / 1000.0);
    const bool halfSteps = model != CardModels::Klr620 && parameter == QLatin1String("gain");
    return halfSteps ? general(value * 0.5) : QString::number(value);
}

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

namespace {

// One set command of a model's apply sequence: the option whose value it
// sends, and how it sends it.
struct Step {
    const char *option;
    bool (*send)(CmdAgent &agent, int ch, const CmdAgent::CardValues &v);
};

// Each model's set commands, in the order the apply flow makes them; the
// flow stops at the first that returns false. What a model's driver sends
// is what its steps name (optionsSent), and one option alone is sent by its
// step (applyOption).
const Step Klr620Steps[] = {
    {"freq",
        [](CmdAgent &a, int ch, const CmdAgent::CardValues &v) {
            return a.klrCard.SetFreq(unsigned(ch), v.freq);
        }},
    {"workmode",
        [](CmdAgent &a, int ch, const CmdAgent::CardValues &v) {
            return a.klrCard.SetWorkMode(unsigned(ch), unsigned(v.workmode));
        }},
    {"gain",
        [](CmdAgent &a, int ch, const CmdAgent::CardValues &v) {
            return a.klrCard.SetGain(unsigned(ch), v.gain, v.workmode);
        }},
    {"band",
        [](CmdAgent &a, int ch, const CmdAgent::CardValues &v) {
            return a.klrCard.SetBandWidth(unsigned(ch), unsigned(v.band));
        }},
};

// The work mode doubles as the JQ5140's gain mode: 0 through the RF
// attenuator, 1 through the IF adjust attenuator.
const Step Jq5140Steps[] = {
    {"workmode",
        [](CmdAgent &a, int ch, const CmdAgent::CardValues &v) {
            return a.jqCardFour.SetWorkMode(ch, v.workmode);
        }},
    {"freq",
        [](CmdAgent &a, int ch, const CmdAgent::CardValues &v) {
            return a.jqCardFour.SetFreq(ch, v.freq);
        }},
    {"gain",
        [](CmdAgent &a, int ch, const CmdAgent::CardValues &v) {
            return a.jqCardFour.SetGain(ch, v.gain2, v.workmode);
        }},
    {"ref",
        [](CmdAgent &a, int ch, const CmdAgent::CardValues &v) {
            return a.jqCardFour.SetRefType(ch, v.ref);
        }},
    {"outfreq",
        [](CmdAgent &a, int ch, const CmdAgent::CardValues &v) {
            return a.jqCardFour.SetIFOutputSelect(ch, outputSelect(v.outfreq, CardModels::Jq5140));
        }},
};

const Step Vn2810Steps[] = {
    {"freq",
        [](CmdAgent &a, int ch, const CmdAgent::CardValues &v) {
            return a.vnCard.SetFreq(unsigned(ch), v.freq);
        }},
    {"gain",
        [](CmdAgent &a, int ch, const CmdAgent::CardValues &v) {
            return a.vnCard.SetGain(unsigned(ch), unsigned(v.gain2));
        }},
    {"outfreq",
        [](CmdAgent &a, int ch, const CmdAgent::CardValues &v) {
            return a.vnCard.SetIFOutputSelect(
                unsigned(ch), unsigned(outputSelect(v.outfreq, CardModels::Vn2810)));
        }},
};

// On the two-channel card "band" is the IF output selection; it has one
// gain path, so the mode is not used.
const Step Jq5120Steps[] = {
    {"freq",
        [](CmdAgent &a, int ch, const CmdAgent::CardValues &v) {
            return a.jqCardTwo.SetFreq(ch, v.freq);
        }},
    {"gain",
        [](CmdAgent &a, int ch, const CmdAgent::CardValues &v) {
            return a.jqCardTwo.SetGain(ch, v.gain2, 0);
        }},
    {"ref",
        [](CmdAgent &a, int ch, const CmdAgent::CardValues &v) {
            return a.jqCardTwo.SetRefType(ch, v.ref);
        }},
    {"band",
        [](CmdAgent &a, int ch, const CmdAgent::CardValues &v) {
            return a.jqCardTwo.SetIFOutputSelect(ch, v.band);
        }},
};

struct Steps {
    const Step *begin;
    const Step *end;
};

Steps stepsOf(const QString &model)
{
    if (model == CardModels::Klr620)
        return {std::begin(Klr620Steps), std::end(Klr620Steps)};
    if (model == CardModels::Jq5140)
        return {std::begin(Jq5140Steps), std::end(Jq5140Steps)};
    if (model == CardModels::Vn2810)
        return {std::begin(Vn2810Steps), std::end(Vn2810Steps)};
    if (model == CardModels::Jq5120)
        return {std::begin(Jq5120Steps), std::end(Jq5120Steps)};
    return {nullptr, nullptr};
}

} // namespace

QStringList CmdAgent::optionsSent(const QString &model)
{
    QStringList options;
    for (const Step *s = stepsOf(model).begin; s != stepsOf(model).end; ++s)
        options << QLatin1String(s->option);
    return options;
}

CmdAgent::CardValues CmdAgent::cardValues(const QVariantMap &params)
{
    CardValues v;
    v.freq = truncatedInt(params.value(QStringLiteral("freq")));
    v.gain = truncatedInt(params.value(QStringLiteral("gain")));
    v.gain2 = roundedInt(params.value(QStringLiteral("gain2")));
    v.workmode = roundedInt(params.value(QStringLiteral("workmode")));
    v.ref = roundedInt(params.value(QStringLiteral("ref")));
    v.outfreq = roundedInt(params.value(QStringLiteral("outfreq")));
    v.band = roundedInt(params.value(QStringLiteral("band")));
    return v;
}

bool CmdAgent::applyOption(const QString &model, int ch, const QString &option, const CardValues &v)
{
    for (const Step *s = stepsOf(model).begin; s != stepsOf(model).end; ++s) {
        if (option == QLatin1String(s->option))
            return s->send(*this, ch, v);
    }
    return false;
}

int CmdAgent::outputIndex(const QString &model, int outFreqKHz)
{
    return outputSelect(outFreqKHz, model);
}

CardLimits::Range CmdAgent::limitOf(const QString &model, const QString &option, int workmode)
{
    using L = CardLimits;
    const bool klr = model == CardModels::Klr620;
    const L::Owner protocol = klr     ? L::KlrProtocol
        : model == CardModels::Vn2810 ? L::VnProtocol
                                      : L::JqProtocol;
    const L::Owner card = klr         ? L::Klr620
        : model == CardModels::Vn2810 ? L::Vn2810
        : model == CardModels::Jq5140 ? L::Jq5140
                                      : L::Jq5120;
    if (option == QLatin1String("freq"))
        return L::of(klr ? protocol : card, "freq");
    if (option == QLatin1String("gain")) {
        if (klr)
            return KLRCard::gainRange(workmode);
        if (model == CardModels::Jq5140)
            return JQCardFour::gainRange(workmode);
        return L::of(card, model == CardModels::Jq5120 ? "splitgain" : "gain");
    }
    return L::of(protocol, option.toLatin1().constData()); // outfreq, band, ref, workmode
}

QStringList CmdAgent::readingsFor(const QString &model, const QString &key)
{
    // As reportOf puts the gain together.
    if (key == QLatin1String("gain")
        && (model == CardModels::Klr620 || model == CardModels::Jq5140))
        return {QStringLiteral("workmode"), QStringLiteral("rfatt"), QStringLiteral("ifatt")};
    return {key};
}

void CmdAgent::setAllParams(QString cardName, int ch, QVariantMap params)
{
    qDebug() << "setAllParams cardname = " << cardName << "param = " << params;
    const CardValues v = cardValues(params);
    if (cardName == CardModels::Klr620)
        qDebug() << "setAllParams freq = " << v.freq << " gain=" << v.gain
                 << " workmode =" << v.workmode << " band = " << v.band;
    else if (cardName == CardModels::Jq5120)
        qDebug() << "gain ==" << v.gain2;
    for (const Step *s = stepsOf(cardName).begin; s != stepsOf(cardName).end; ++s) {
        if (!s->send(*this, ch, v))
            break;
    }
}

QVariantMap CmdAgent::readAllParams(QString cardName, int ch)
{
    qDebug() << "readAllParams cardname =" << cardName << " ch =" << ch;
    if (!CardModels::isKnown(cardName))
        return QVariantMap();
    qDebug() << qPrintable(QStringLiteral("This is ") + cardName) << " ch = " << ch;
    return reportOf(cardName, ch, takeReadings(cardName, ch), true);
}

namespace {

// One reading: the getter's value, when it gave one.
template <typename T, typename Get>
void take(CmdAgent::Readings &r, const QStringList &only, const char *name, Get get)
{
    T value{};
    if ((only.isEmpty() || only.contains(QLatin1String(name))) && get(value))
        r.insert(QLatin1String(name), double(value));
}

} // namespace

CmdAgent::Readings CmdAgent::takeReadings(const QString &model, int ch, const QStringList &only)
{
    // In each model's order, which is the order of the queries on the line.
    Readings r;
    const unsigned c = unsigned(ch);
    if (model == CardModels::Klr620) {
        take<unsigned>(r, only, "freq", [&](unsigned &v) { return klrCard.GetFreq(c, v); });
        take<unsigned>(r, only, "workmode", [&](unsigned &v) { return klrCard.GetWorkMode(c, v); });
        take<unsigned>(
            r, only, "ifatt", [&](unsigned &v) { return klrCard.GetIFAttenuation(c, v); });
        take<unsigned>(
            r, only, "rfatt", [&](unsigned &v) { return klrCard.GetRFAttenuation(c, v); });
        take<unsigned>(r, only, "band", [&](unsigned &v) { return klrCard.GetBandwidth(c, v); });
        take<unsigned>(r, only, "warning", [&](unsigned &v) { return klrCard.GetWarning(c, v); });
    } else if (model == CardModels::Jq5140) {
        take<int>(r, only, "freq", [&](int &v) { return jqCardFour.GetFreq(ch, v); });
        take<double>(r, only, "temp", [&](double &v) { return jqCardFour.GetTemperature(ch, v); });
        take<int>(r, only, "workmode", [&](int &v) { return jqCardFour.GetWorkMode(ch, v); });
        take<int>(r, only, "ref", [&](int &v) { return jqCardFour.GetRefType(ch, v); });
        take<int>(r, only, "power", [&](int &v) { return jqCardFour.GetInputPower(ch, v); });
        // The work mode tells which attenuator sets the gain; without one,
        // the one of mode 0 is read.
        const bool rfMode = r.value(QStringLiteral("workmode"), 0) == 0;
        const QStringList att = only.isEmpty()
            ? QStringList{rfMode ? QStringLiteral("rfatt") : QStringLiteral("ifatt")}
            : only;
        take<int>(r, att, "rfatt", [&](int &v) { return jqCardFour.GetRFAttenuation(ch, v); });
        take<int>(r, att, "ifatt", [&](int &v) { return jqCardFour.GetIFAttenuation(ch, v); });
        take<int>(r, only, "outfreq", [&](int &v) { return jqCardFour.GetIFOutputSelect(ch, v); });
    } else if (model == CardModels::Vn2810) {
        take<unsigned>(r, only, "freq", [&](unsigned &v) { return vnCard.GetFreq(c, v); });
        take<unsigned>(r, only, "gain", [&](unsigned &v) { return vnCard.GetGain(c, v); });
        take<double>(r, only, "temp", [&](double &v) { return vnCard.GetTemperature(c, v); });
        take<unsigned>(
            r, only, "outfreq", [&](unsigned &v) { return vnCard.GetIFOutputSelect(c, v); });
        take<unsigned>(r, only, "hardch", [&](unsigned &v) { return vnCard.GetType(c, v); });
    } else if (model == CardModels::Jq5120) {
        take<int>(r, only, "freq", [&](int &v) { return jqCardTwo.GetFreq(ch, v); });
        take<int>(r, only, "ref", [&](int &v) { return jqCardTwo.GetRefType(ch, v); });
        take<int>(r, only, "band", [&](int &v) { return jqCardTwo.GetIFOutputSelect(ch, v); });
        take<int>(r, only, "gain", [&](int &v) { return jqCardTwo.GetGain(ch, v); });
    }
    return r;
}

QVariantMap CmdAgent::reportOf(const QString &model, int ch, const Readings &r, bool complete)
{
    QVariantMap report;
    // A key whose readings are all there gets its text; one whose readings
    // failed gets an empty text in a complete report (no number is made
    // up), and is left out otherwise.
    const auto put = [&](const char *key, QStringList needs, const auto &text) {
        bool all = true;
        for (const QString &n : needs)
            all = all && r.contains(n);
        if (all)
            report.insert(QLatin1String(key), text());
        else if (complete)
            report.insert(QLatin1String(key), QString());
    };
    const auto v = [&](const char *name) { return r.value(QLatin1String(name)); };
    const auto plain = [&](const char *name) {
        put(name, {QLatin1String(name)}, [&] { return decimal(qint64(v(name))); });
    };
    put("freq", {"freq"}, [&] { return fixed(v("freq") / 1000.0, 3); });
    if (model == CardModels::Klr620) {
        plain("workmode");
        put("gain", {"workmode", "rfatt", "ifatt"}, [&] {
            return decimal(
                (v("workmode") == 0 ? 30 : 45) - qint64(v("rfatt")) - qint64(v("ifatt")));
        });
        plain("band");
        plain("warning");
    } else if (model == CardModels::Jq5140) {
        put("temp", {"temp"}, [&] { return general(v("temp") / 10.0); });
        plain("workmode");
        plain("ref");
        plain("power");
        const bool rfMode = v("workmode") == 0;
        put("gain", {"workmode", rfMode ? "rfatt" : "ifatt"},
            [&] { return general(rfMode ? (60 - v("rfatt")) * 0.5 : 50.0 - v("ifatt")); });
        plain("outfreq");
    } else if (model == CardModels::Vn2810) {
        put("gain", {"gain"}, [&] { return fixed(v("gain") * 0.5, 1); });
        put("temp", {"temp"}, [&] { return general(v("temp") / 10.0); });
        plain("outfreq");
        plain("hardch");
    } else if (model == CardModels::Jq5120) {
        plain("ref");
        plain("band");
        put("gain", {"gain"}, [&] { return fixed(v("gain") * 0.5, 1); });
        return report; // the two-channel card's report names no channel
    }
    report.insert(QStringLiteral("ch"), decimal(ch));
    return report;
}

QList<CmdAgent::Difference> CmdAgent::verify(const QString &model, int ch, const Readings &applied)
{
    const Readings read = takeReadings(model, ch, applied.keys());
    QList<Difference> differences;
    if (read == applied)
        return differences;
    // In the read-back's own words where they show it, else as the values.
    const QVariantMap want = reportOf(model, ch, applied, false);
    const QVariantMap got = reportOf(model, ch, read, false);
    for (auto it = want.constBegin(); it != want.constEnd(); ++it) {
        if (it.value() != got.value(it.key()))
            differences.append({it.key(), it.value().toString(), got.value(it.key()).toString()});
    }
    for (auto it = applied.constBegin(); differences.isEmpty() && it != applied.constEnd(); ++it) {
        if (!read.contains(it.key()) || read.value(it.key()) != it.value())
            differences.append({it.key(), general(it.value()),
                read.contains(it.key()) ? general(read.value(it.key())) : QString()});
    }
    return differences;
}
