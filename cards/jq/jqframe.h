#ifndef JQFRAME_H
#define JQFRAME_H

#include "cards/feframe.h"

// Parameter codes of the JQ family and how each lays out its value.
class JQFrame {
public:
    enum Code : quint8 {
        Freq = 2,
        WorkMode = 7,
        RFAtten = 8,
        IFAtten = 9,
        IFAdjustAtten = 10,
        ClkSelect = 11,
        IFOutputSelect = 12,
        InputPower = 13,
        IFOutBand = 16,
        Temperature = 128,
    };

    static FeFrame::Layout requestLayout(quint8 code);
    static FeFrame::Layout replyLayout(quint8 code);
    static FeFrame::Bytes build(quint8 command, quint8 code, quint32 value, quint8 channel);
};

#endif // JQFRAME_H
