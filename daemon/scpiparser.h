#ifndef SCPIPARSER_H
#define SCPIPARSER_H

#include <QByteArray>
#include <QList>
#include <QString>

// A program message as an instrument reads it (IEEE 488.2, SCPI): message
// units joined by ";", each a header and its parameters. A common command
// is "*" and a mnemonic ("*IDN?"); a compound one is a path of nodes joined
// by ":" ("CHANnel2:FREQuency 1500"), each a mnemonic with an optional
// numeric suffix, rooted when it starts with ":"; "?" at the end makes a
// query. A parameter may be a string in single or double quotes (a quote
// doubled inside it), which keeps ";" and "," as text. Mnemonics are matched
// without regard to case, long or short form, by the command table; this
// only reads the syntax. A pure codec: bytes in, units out, for any bytes;
// units are taken one at a time, so that a long message never exists as a
// long list.
class ScpiParser {
public:
    struct Node {
        QByteArray name; // upper-cased
        int suffix = -1; // none given
    };
    struct Unit {
        int error = 0; // a syntax error (-102), with what is wrong
        QString detail;
        bool common = false;
        bool rooted = false;
        bool query = false; // also for a unit with an error whose header ends in "?"
        QList<Node> nodes; // a common command: one node, its mnemonic
        QList<QByteArray> params;
        QByteArray header; // as written, for messages
    };
    // A decimal number (<NRf>) and the unit suffix after it, upper-cased.
    // One written right whose magnitude no double holds ("1e400") is ok,
    // and infinite.
    struct Number {
        bool ok = false;
        double value = 0;
        QByteArray suffix;
    };

    // The next unit of a message (without its line end) from `*position`
    // on, which it moves past the unit; false at the message's end. Empty
    // units, as after a final ";", are passed over.
    static bool next(const QByteArray &message, int *position, Unit *unit);
    // Every unit of a message.
    static QList<Unit> parse(const QByteArray &message);
    static Number number(const QByteArray &text);
};

#endif // SCPIPARSER_H
