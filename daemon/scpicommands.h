#ifndef SCPICOMMANDS_H
#define SCPICOMMANDS_H

#include "daemon/scpiparser.h"

#include <QByteArray>
#include <QString>

// The instrument's compound headers, and how a unit's nodes find theirs: a
// mnemonic in its short form (the capitals of "FREQuency") or its long form,
// in any case; a numeric suffix where the header numbers a channel (none
// given: 1), and 1 anywhere else, as SCPI allows; an optional node left out
// or given. The card's parameters name the read-back report's key, which is
// also the option that sets it. The common commands (*IDN? ...) are the
// session's own.
class ScpiCommands {
public:
    enum Command {
        ErrorNext,
        ErrorCount,
        Version,
        Parameter,
        Read,
        StatusEvent,
        StatusCondition,
        StatusEnable,
        StatusPreset
    };
    struct Header {
        const char *pattern; // "CHANnel#:FREQuency", "SYSTem:ERRor[:NEXT]"
        Command command;
        const char *key;
    };

    // The header the nodes name, and the channel they number; null: none.
    static const Header *find(const QList<ScpiParser::Node> &nodes, int *channel);
    // The long form of a parameter's header, for messages ("CHANnel2:FREQuency").
    static QString headerName(const QString &key, int channel);
    // The unit suffixes a parameter's number may carry, and the factor that
    // makes the option's unit (MHz for frequencies, dB for the gain).
    static bool scaleOf(const QString &key, const QByteArray &suffix, double *scale);
};

#endif // SCPICOMMANDS_H
