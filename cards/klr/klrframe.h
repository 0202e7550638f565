#ifndef KLRFRAME_H
#define KLRFRAME_H

#include <QtGlobal>

#include <array>

// The 8-byte frame of the KLR family: "{" | code | channel | value[4] | "}".
// No check byte; set and query are told apart by the code alone, and a reply
// is decoded by its own code.
class KLRFrame {
public:
    static constexpr int Size = 8;
    static constexpr quint8 Start = 0x7B; // '{'
    static constexpr quint8 End = 0x7D; // '}'

    enum Code : quint8 {
        SetFreq = 0xA2,
        SetWorkMode = 0xA3,
        SetRFAtten = 0xA4,
        SetIFAtten = 0xA5,
        SetIFBand = 0xA6,
        GetFreq = 0xA7,
        GetWorkMode = 0xA8,
        GetRFAtten = 0xA9,
        GetIFAtten = 0xAA,
        GetWarning = 0xAB,
        GetBandwidth = 0xAC,
        ReplyFreq = 0xB2,
        ReplyWorkMode = 0xB3,
        ReplyRFAtten = 0xB4,
        ReplyIFAtten = 0xB5,
        ReplyBandwidth = 0xB6,
        ReplyWarning = 0xBA,
    };

    using Bytes = std::array<quint8, Size>;

    static Bytes build(quint8 code, quint32 value, quint8 channel);
    // The value of an 8-byte reply; 0 for a reply code the host does not know.
    static int decode(const quint8 *reply);
    static bool knows(const quint8 *reply);
    // The code of the reply that answers a query code (0 for another code).
    static quint8 replyTo(quint8 queryCode);
};

#endif // KLRFRAME_H
