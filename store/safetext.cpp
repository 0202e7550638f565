#include "store/safetext.h"

QString SafeText::printable(const QString &text)
{
    // By code point, so that a character outside the Basic Multilingual
    // Plane (an emoji, a rare CJK character) is judged whole and kept, while
    // a lone half of a surrogate pair is escaped like any other unprintable
    // unit. Control characters (Cc) and format characters (Cf: the
    // direction overrides that reorder what a terminal shows) are escaped.
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        uint code = c.unicode();
        int units = 1;
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            code = QChar::surrogateToUcs4(c, text.at(i + 1));
            units = 2;
        }
        if (code == ' ' || QChar::isPrint(code)) {
            out.append(text.constData() + i, units);
        } else if (code == '\n') {
            out += QLatin1String("\\n");
        } else if (code == '\r') {
            out += QLatin1String("\\r");
        } else if (code == '\t') {
            out += QLatin1String("\\t");
        } else if (code > 0xFFFF) {
            out += QStringLiteral("\\U%1").arg(code, 8, 16, QLatin1Char('0'));
        } else {
            out += QStringLiteral("\\u%1").arg(code, 4, 16, QLatin1Char('0'));
        }
        i += units - 1;
    }
    return out;
}
