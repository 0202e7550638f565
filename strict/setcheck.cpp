#include "strict/setcheck.h"

#include <QtMath>

#include <climits>
#include <cmath>

namespace {

// rfcard's conversions of a map value to a card integer: frequencies and the
// KLR620 gain truncated, everything else rounded from a number given in this
// run or read as a whole-number text.
int truncated(const QVariant &value)
{
    const double d = value.toDouble();
    if (std::isnan(d))
        return 0;
    return d >= double(INT_MAX) ? INT_MAX : d <= double(INT_MIN) ? INT_MIN : int(d);
}

int rounded(const QVariant &value)
{
    if (value.userType() != QMetaType::Double)
        return value.toInt();
    const double d = value.toDouble();
    if (std::isnan(d))
        return 0;
    return d >= double(INT_MAX) ? INT_MAX : d <= double(INT_MIN + 1) ? INT_MIN + 1 : qRound(d);
}

// The IF output a requested frequency (kHz) selects: 70 MHz is the first,
// `second` the other; -1 for one the card does not have.
int selection(int outfreq, int second)
{
    return outfreq == 70000 ? 0 : outfreq == second ? 1 : -1;
}

QString mhz(int kHz)
{
    return QString::number(kHz / 1000.0, 'f', 3);
}

QString number(int value)
{
    return QString::number(value);
}

// A quoted text as qDebug() writes it, starting at `at` (the quote);
// `at` moves past the closing quote.
QString unquote(const QByteArray &text, int &at)
{
    QByteArray out;
    for (++at; at < text.size() && text.at(at) != '"'; ++at) {
        if (text.at(at) == '\\' && at + 1 < text.size())
            ++at;
        out += text.at(at);
    }
    ++at;
    return QString::fromUtf8(out);
}

} // namespace

QVariantMap SetCheck::applied(const QByteArray &line)
{
    QVariantMap params;
    const QByteArray doubleTag = "QVariant(double, ";
    const QByteArray textTag = "QVariant(QString, ";
    int at = line.indexOf("QMap(");
    if (at < 0)
        return params;
    // Entries: ("key", QVariant(QString, "text")) or ("key", QVariant(double, 25))
    while ((at = line.indexOf("(\"", at)) >= 0) {
        ++at;
        const QString key = unquote(line, at);
        at = line.indexOf("QVariant(", at);
        if (at < 0)
            break;
        if (line.mid(at, textTag.size()) == textTag) {
            at += textTag.size();
            params.insert(key, unquote(line, at));
        } else if (line.mid(at, doubleTag.size()) == doubleTag) {
            at += doubleTag.size();
            const int end = line.indexOf(')', at);
            params.insert(key, line.mid(at, end - at).toDouble());
            at = end;
        }
    }
    return params;
}

QMap<QString, QString> SetCheck::expected(const QString &model, const QVariantMap &params)
{
    QMap<QString, QString> want;
    const int freq = truncated(params.value(QStringLiteral("freq")));
    const int gain2 = rounded(params.value(QStringLiteral("gain2")));
    const int workmode = rounded(params.value(QStringLiteral("workmode")));
    const int ref = rounded(params.value(QStringLiteral("ref")));
    const int band = rounded(params.value(QStringLiteral("band")));
    const int outfreq = rounded(params.value(QStringLiteral("outfreq")));
    want.insert(QStringLiteral("freq"), mhz(freq));
    if (model == QLatin1String("KLR620")) {
        // The gain travels as two attenuations that the read-back adds up
        // again: mode 0 30 - RF - IF, other modes 45 - RF - IF.
        want.insert(QStringLiteral("workmode"), number(workmode));
        want.insert(
            QStringLiteral("gain"), number(truncated(params.value(QStringLiteral("gain")))));
        want.insert(QStringLiteral("band"), number(band));
    } else if (model == QLatin1String("JQ5140")) {
        // Mode 0: RF attenuation 60 - gain2, read as half decibels; mode 1:
        // IF adjust attenuation 50 - gain2 / 2, read in whole decibels.
        want.insert(QStringLiteral("workmode"), number(workmode));
        want.insert(QStringLiteral("gain"),
            workmode == 0 ? QString::number(gain2 * 0.5, 'g', 6) : number(gain2 / 2));
        want.insert(QStringLiteral("ref"), number(ref));
        if (selection(outfreq, 140000) >= 0)
            want.insert(QStringLiteral("outfreq"), number(selection(outfreq, 140000)));
    } else if (model == QLatin1String("VN2810")) {
        want.insert(QStringLiteral("gain"), QString::number(gain2 * 0.5, 'f', 1));
        if (selection(outfreq, 21400) >= 0)
            want.insert(QStringLiteral("outfreq"), number(selection(outfreq, 21400)));
    } else if (model == QLatin1String("JQ5120")) {
        // Two attenuators, (60 - IF) + (60 - RF) half decibels.
        want.insert(QStringLiteral("gain"), QString::number(gain2 * 0.5, 'f', 1));
        want.insert(QStringLiteral("ref"), number(ref));
        want.insert(QStringLiteral("band"), number(band));
    } else {
        want.clear();
    }
    return want;
}

QList<SetCheck::Difference> SetCheck::compare(
    const QMap<QString, QString> &expected, const QJsonObject &report)
{
    QList<Difference> differences;
    for (auto it = expected.constBegin(); it != expected.constEnd(); ++it) {
        const QString read = report.value(it.key()).toString();
        if (read != it.value())
            differences.append({it.key(), it.value(), read});
    }
    return differences;
}
