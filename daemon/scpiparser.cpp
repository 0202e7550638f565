#include "daemon/scpiparser.h"

#include <cmath>

namespace {

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// One node: letters (and underscores), then an optional decimal suffix.
bool readNode(const QByteArray &text, ScpiParser::Node *node)
{
    int i = 0;
    while (i < text.size() && (isLetter(text.at(i)) || (i > 0 && text.at(i) == '_')))
        ++i;
    if (i == 0 || i > 12) // SCPI mnemonics have at most 12 characters
        return false;
    node->name = text.left(i).toUpper();
    if (i == text.size())
        return true;
    const QByteArray digits = text.mid(i);
    bool ok = digits.size() <= 6;
    for (const char c : digits)
        ok = ok && isDigit(c);
    node->suffix = ok ? digits.toInt() : -1;
    return ok;
}

// Where the next `separator` outside quotes is, from `from` on (the end
// when there is none); `open` tells whether a quote was left open.
int unquoted(const QByteArray &text, int from, char separator, bool *open = nullptr)
{
    char quote = 0;
    int i = from;
    for (; i < text.size(); ++i) {
        const char c = text.at(i);
        if (quote) {
            if (c == quote)
                quote = 0; // a doubled quote closes and opens again
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == separator) {
            break;
        }
    }
    if (open)
        *open = quote != 0;
    return i;
}

ScpiParser::Unit readUnit(QByteArray text)
{
    ScpiParser::Unit unit;
    for (int i = 0; i < text.size(); ++i) {
        const uchar c = uchar(text.at(i));
        if ((c < 0x20 && c != '\t') || c > 0x7E) {
            unit.error = -102;
            unit.detail
                = QStringLiteral("byte %1 is not printable ASCII").arg(c, 2, 16, QLatin1Char('0'));
            text.truncate(i);
            break;
        }
    }
    text = text.trimmed();
    int split = 0;
    while (split < text.size() && text.at(split) != ' ' && text.at(split) != '\t')
        ++split;
    QByteArray header = text.left(split);
    unit.header = header;
    unit.query = header.endsWith('?');
    if (unit.error)
        return unit;
    if (unit.query)
        header.chop(1);
    const QByteArray rest = text.mid(split).trimmed();
    for (int from = 0; !rest.isEmpty() && from <= rest.size();) {
        bool open = false;
        const int end = unquoted(rest, from, ',', &open);
        unit.params << rest.mid(from, end - from).trimmed();
        from = end + 1;
        if (open || unit.params.last().isEmpty()) {
            unit.error = -102;
            unit.detail = open ? QStringLiteral("a string without its closing quote")
                               : QStringLiteral("an empty parameter");
            return unit;
        }
    }
    ScpiParser::Node node;
    if (header.startsWith('*')) {
        unit.common = true;
        if (!readNode(header.mid(1), &node) || node.suffix >= 0) {
            unit.error = -102;
            unit.detail = QStringLiteral("not a common command");
            return unit;
        }
        unit.nodes << node;
        return unit;
    }
    unit.rooted = header.startsWith(':');
    for (const QByteArray &part : header.mid(unit.rooted ? 1 : 0).split(':')) {
        node = ScpiParser::Node();
        if (!readNode(part, &node)) {
            unit.error = -102;
            unit.detail = QStringLiteral("not a header");
            unit.nodes.clear();
            return unit;
        }
        unit.nodes << node;
    }
    return unit;
}

} // namespace

bool ScpiParser::next(const QByteArray &message, int *position, Unit *unit)
{
    while (*position <= message.size()) {
        const int end = unquoted(message, *position, ';');
        const QByteArray text = message.mid(*position, end - *position);
        *position = end + 1;
        if (!text.trimmed().isEmpty()) {
            *unit = readUnit(text);
            return true;
        }
    }
    return false;
}

QList<ScpiParser::Unit> ScpiParser::parse(const QByteArray &message)
{
    QList<Unit> units;
    int position = 0;
    Unit unit;
    while (next(message, &position, &unit))
        units << unit;
    return units;
}

ScpiParser::Number ScpiParser::number(const QByteArray &text)
{
    // [+|-] digits [. digits] [E [+|-] digits], then an optional suffix.
    Number n;
    int i = 0;
    const auto digits = [&] {
        const int from = i;
        while (i < text.size() && isDigit(text.at(i)))
            ++i;
        return i - from;
    };
    if (i < text.size() && (text.at(i) == '+' || text.at(i) == '-'))
        ++i;
    int mantissa = digits();
    if (i < text.size() && text.at(i) == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return n;
    int end = i;
    bool smaller = false; // a negative exponent
    if (i < text.size() && (text.at(i) == 'E' || text.at(i) == 'e')) {
        ++i;
        smaller = i < text.size() && text.at(i) == '-';
        if (i < text.size() && (text.at(i) == '+' || text.at(i) == '-'))
            ++i;
        if (digits() > 0)
            end = i;
    }
    const QByteArray suffix = text.mid(end).trimmed();
    for (const char c : suffix) {
        if (!isLetter(c))
            return n;
    }
    bool fits = false;
    n.value = text.left(end).toDouble(&fits);
    if (!fits) // written right, but beyond a double: far too large, or nothing
        n.value = smaller ? 0.0 : (text.startsWith('-') ? -HUGE_VAL : HUGE_VAL);
    n.ok = true;
    n.suffix = suffix.toUpper();
    return n;
}
