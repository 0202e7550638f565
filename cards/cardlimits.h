#ifndef CARDLIMITS_H
#define CARDLIMITS_H

#include <QtGlobal>

// What each card can hold, parameter by parameter, in the card's own units
// (kHz, half-dB steps, attenuator steps, tenths of a degree, codes). A driver or protocol module
// refuses a value outside its range before anything is sent, and a value a
// card reports outside it is not something the card holds: a reply about
// another parameter, a garbled one, or a card that is not the model named.
// One table for both, so that a limit moved for the set path moves for the
// check of what is read back.
class CardLimits {
public:
    // Who keeps a limit: a family's protocol module, or a model's driver.
    enum Owner { JqProtocol, VnProtocol, KlrProtocol, Jq5140, Jq5120, Vn2810, Klr620 };

    struct Range {
        qint64 low;
        qint64 high;
        bool contains(qint64 value) const { return value >= low && value <= high; }
    };

    // The range of `parameter` ("freq", "rfatt", ...) that `owner` keeps;
    // every name the drivers and modules ask for is in the table.
    static Range of(Owner owner, const char *parameter);
};

#endif // CARDLIMITS_H
