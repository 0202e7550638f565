#ifndef FEFRAME_H
#define FEFRAME_H

#include <QtGlobal>

#include <array>

// The 10-byte frame shared by the JQ and VN card families:
//   FE | command | code | value[4] | channel | XOR of bytes 1..7 | FA
// The families differ only in how a parameter code lays out its value, so
// each passes its own layout; building and checking are the same.
class FeFrame {
public:
    static constexpr int Size = 10;
    static constexpr quint8 Header = 0xFE;
    static constexpr quint8 Tail = 0xFA;
    static constexpr quint8 QueryCommand = 1;
    static constexpr quint8 SetCommand = 3;
    static constexpr quint8 StatusFailedA = 0x51;
    static constexpr quint8 StatusFailedB = 0x53;

    // How a value sits in bytes 3..6 of a frame.
    enum class Layout { None, Byte, Be16, Be24 };
    // What a reply is, before its value is looked at.
    enum class Check { Ok, BadLength, WrongCode };

    using Bytes = std::array<quint8, Size>;

    static Bytes build(quint8 command, quint8 code, quint32 value, quint8 channel, Layout layout);
    static Check check(const quint8 *reply, quint32 length, quint8 sentCode);
    static int decode(const quint8 *reply, Layout layout);
    static bool statusFailed(const quint8 *reply);
};

#endif // FEFRAME_H
