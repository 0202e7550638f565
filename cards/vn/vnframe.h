#ifndef VNFRAME_H
#define VNFRAME_H

#include "cards/feframe.h"

// Parameter codes of the VN family and how each lays out its value.
class VNFrame {
public:
    enum Code : quint8 {
        Freq = 2,
        Gain = 5,
        IFOutputSelect = 12,
        Temperature = 13,
        Type = 16,
    };

    static FeFrame::Layout requestLayout(quint8 code);
    static FeFrame::Layout replyLayout(quint8 code);
    static FeFrame::Bytes build(quint8 command, quint8 code, quint32 value, quint8 channel);
};

#endif // VNFRAME_H
