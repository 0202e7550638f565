#include "strict/argumentcheck.h"

#include <QCommandLineParser>

#include <cmath>

namespace {

enum class Kind {
    Whole, // read with toInt
    Number, // read with toDouble
    Channel, // a whole number 0 to 3
};

struct Option {
    const char *name;
    Kind kind;
    // What rfcard does with a text it cannot read as the kind says.
    const char *otherwise;
};

// rfcard's options that take numbers, and what rfcard does with a text it
// cannot read as one.
const Option Options[] = {
    {"part", Kind::Whole, "rfcard would take it as 0 and make a set run"},
    {"ch", Kind::Channel, "rfcard would set channel 0"},
    {"freq", Kind::Number, "rfcard would store and send it as 0"},
    {"gain", Kind::Number, "rfcard would send it as 0"},
    {"outfreq", Kind::Number, "rfcard would store it as 0 and select no output"},
    {"ref", Kind::Whole, "rfcard would send it as 0"},
    {"workmode", Kind::Whole, "rfcard would send it as 0"},
    {"band", Kind::Whole, "rfcard would send it as 0"},
    {"gainmode", Kind::Whole, "rfcard would store it as typed, meaning 0"},
    {"upfreq", Kind::Number, "rfcard would store it as 0"},
    {"upgain", Kind::Number, "rfcard would store it as typed, meaning 0"},
    {"gch", Kind::Channel, "rfcard would read channel 0"},
};

const Option &optionNamed(const QString &name)
{
    for (const Option &option : Options) {
        if (name == QLatin1String(option.name))
            return option;
    }
    return Options[0];
}

} // namespace

ArgumentCheck::ArgumentCheck(const QCommandLineParser &parser)
{
    if (!parser.positionalArguments().isEmpty()) {
        m_Verdict = Positional;
        m_Reason = QStringLiteral("\"%1\" is not an option (missing dashes?); rfcard would ignore "
                                  "it and every argument after it")
                       .arg(parser.positionalArguments().constFirst());
        return;
    }
    const QString part = parser.value(QStringLiteral("part"));
    checkValue(QStringLiteral("part"), part.isEmpty() ? QStringLiteral("0") : part);
    if (m_Verdict != Run)
        return;
    m_Part = part.toInt();
    // Only what the run uses (reads, stores or sends), and of a repeated
    // option the last, as rfcard takes it.
    for (const Option &option : Options) {
        const QLatin1String name(option.name);
        const bool used = m_Part == 0
            ? name != QLatin1String("part") && name != QLatin1String("gch")
            : m_Part == 1 && name == QLatin1String("gch");
        if (used && parser.isSet(name))
            checkValue(name, parser.value(name));
        if (m_Verdict != Run)
            return;
    }
    m_Channel = parser.value(m_Part == 0 ? QStringLiteral("ch") : QStringLiteral("gch")).toInt();
}

void ArgumentCheck::checkValue(const QString &name, const QString &text)
{
    const Option &option = optionNamed(name);
    bool ok = true;
    QString what;
    QString otherwise = QString::fromLatin1(option.otherwise);
    switch (option.kind) {
    case Kind::Whole:
        text.toInt(&ok);
        what = QStringLiteral("a whole number");
        break;
    case Kind::Number:
        ok = std::isfinite(text.toDouble(&ok)) && ok;
        what = QStringLiteral("a number (a point for decimals, as in 1500.5)");
        break;
    case Kind::Channel: {
        const int channel = text.toInt(&ok);
        if (ok && (channel < 0 || channel > 3))
            otherwise = QStringLiteral("the cards have no such channel");
        ok = ok && channel >= 0 && channel <= 3;
        what = QStringLiteral("a channel 0 to 3");
        break;
    }
    }
    if (ok)
        return;
    m_Verdict = BadValue;
    m_Reason
        = QStringLiteral("--%1 \"%2\" is not %3; %4").arg(name, text.left(60), what, otherwise);
}
