#include "daemon/scpicommands.h"

#include <QList>
#include <QPair>

namespace {

using Header = ScpiCommands::Header;

const Header Headers[] = {
    {"SYSTem:ERRor[:NEXT]", ScpiCommands::ErrorNext, nullptr},
    {"SYSTem:ERRor:COUNt", ScpiCommands::ErrorCount, nullptr},
    {"SYSTem:VERSion", ScpiCommands::Version, nullptr},
    {"STATus:QUEStionable[:EVENt]", ScpiCommands::StatusEvent, "ques"},
    {"STATus:QUEStionable:CONDition", ScpiCommands::StatusCondition, "ques"},
    {"STATus:QUEStionable:ENABle", ScpiCommands::StatusEnable, "ques"},
    {"STATus:OPERation[:EVENt]", ScpiCommands::StatusEvent, "oper"},
    {"STATus:OPERation:CONDition", ScpiCommands::StatusCondition, "oper"},
    {"STATus:OPERation:ENABle", ScpiCommands::StatusEnable, "oper"},
    {"STATus:PRESet", ScpiCommands::StatusPreset, nullptr},
    {"CHANnel#:FREQuency", ScpiCommands::Parameter, "freq"},
    {"CHANnel#:GAIN", ScpiCommands::Parameter, "gain"},
    {"CHANnel#:OUTFreq", ScpiCommands::Parameter, "outfreq"},
    {"CHANnel#:BAND", ScpiCommands::Parameter, "band"},
    {"CHANnel#:REFerence", ScpiCommands::Parameter, "ref"},
    {"CHANnel#:WORKmode", ScpiCommands::Parameter, "workmode"},
    {"CHANnel#:TEMPerature", ScpiCommands::Parameter, "temp"},
    {"CHANnel#:POWer", ScpiCommands::Parameter, "power"},
    {"CHANnel#:WARNing", ScpiCommands::Parameter, "warning"},
    {"CHANnel#:TYPE", ScpiCommands::Parameter, "hardch"},
    {"CHANnel#:READ", ScpiCommands::Read, nullptr},
};

// A mnemonic of a pattern ("FREQuency") matches its short form (the capitals,
// "FREQ") and its long form, in any case; a suffix only where "#" allows
// one (1 is taken anywhere, as SCPI allows).
bool nodeMatches(QByteArray part, const ScpiParser::Node &node, int *channel)
{
    const bool numbered = part.endsWith('#');
    if (numbered)
        part.chop(1);
    QByteArray shortForm;
    for (const char c : part) {
        if (c >= 'A' && c <= 'Z')
            shortForm += c;
    }
    if (node.name != shortForm && node.name != part.toUpper())
        return false;
    if (numbered)
        *channel = node.suffix < 0 ? 1 : node.suffix;
    return numbered || node.suffix < 0 || node.suffix == 1;
}

bool headerMatches(const char *pattern, const QList<ScpiParser::Node> &nodes, int *channel)
{
    QList<QByteArray> parts = QByteArray(pattern).replace("[:", ":[").split(':');
    int n = 0;
    for (QByteArray part : parts) {
        const bool optional = part.startsWith('[');
        if (optional)
            part = part.mid(1, part.size() - 2);
        if (n < nodes.size() && nodeMatches(part, nodes.at(n), channel))
            ++n;
        else if (!optional)
            return false;
    }
    return n == nodes.size();
}

} // namespace

const ScpiCommands::Header *ScpiCommands::find(const QList<ScpiParser::Node> &nodes, int *channel)
{
    for (const Header &h : Headers) {
        if (headerMatches(h.pattern, nodes, channel))
            return &h;
    }
    return nullptr;
}

QString ScpiCommands::headerName(const QString &key, int channel)
{
    for (const Header &h : Headers) {
        if (h.key && key == QLatin1String(h.key))
            return QString::fromLatin1(h.pattern).replace(
                QLatin1Char('#'), QString::number(channel));
    }
    return QString();
}

bool ScpiCommands::scaleOf(const QString &key, const QByteArray &suffix, double *scale)
{
    *scale = 1;
    if (suffix.isEmpty())
        return true;
    if (key == QLatin1String("freq") || key == QLatin1String("outfreq")) {
        const QList<QPair<QByteArray, double>> units
            = {{"HZ", 1e-6}, {"KHZ", 1e-3}, {"MHZ", 1}, {"GHZ", 1e3}};
        for (const auto &u : units) {
            if (suffix == u.first) {
                *scale = u.second;
                return true;
            }
        }
        return false;
    }
    return key == QLatin1String("gain") && suffix == "DB";
}
