#ifndef HISLIPFRAME_H
#define HISLIPFRAME_H

#include <QByteArray>
#include <QtGlobal>

// A HiSLIP message (IVI-6.1, the High-Speed LAN Instrument Protocol): a
// 16-byte header, "HS", the message type, a control code, a 32-bit message
// parameter and the 64-bit length of the payload that follows, all in
// network order. A pure codec: bytes in, messages out, for any bytes.
class HislipFrame {
public:
    enum Type : quint8 {
        Initialize = 0,
        InitializeResponse = 1,
        FatalError = 2,
        Error = 3,
        AsyncLock = 4,
        AsyncLockResponse = 5,
        Data = 6,
        DataEnd = 7,
        DeviceClearComplete = 8,
        DeviceClearAcknowledge = 9,
        AsyncRemoteLocalControl = 10,
        AsyncRemoteLocalResponse = 11,
        Trigger = 12,
        Interrupted = 13,
        AsyncInterrupted = 14,
        AsyncMaximumMessageSize = 15,
        AsyncMaximumMessageSizeResponse = 16,
        AsyncInitialize = 17,
        AsyncInitializeResponse = 18,
        AsyncDeviceClear = 19,
        AsyncServiceRequest = 20,
        AsyncStatusQuery = 21,
        AsyncStatusResponse = 22,
        AsyncDeviceClearAcknowledge = 23,
        AsyncLockInfo = 24,
        AsyncLockInfoResponse = 25,
    };
    // The codes of FatalError and Error.
    enum Fatal : quint8 {
        Unidentified = 0,
        BadHeader = 1,
        NoChannels = 2,
        BadInitialize = 3,
        TooManyClients = 4
    };
    enum Failure : quint8 { UnrecognizedType = 1, UnrecognizedControl = 2, TooLarge = 4 };
    static constexpr int HeaderSize = 16;

    struct Message {
        quint8 type = 0;
        quint8 control = 0;
        quint32 parameter = 0;
        QByteArray payload;
    };
    enum class Parse { Complete, Incomplete, BadHeader, TooLarge };

    // The first message of `bytes`: Complete (`used` bytes long), Incomplete
    // (more is needed), a header that is none, or a payload over
    // `maxPayload` (the connection cannot go on).
    static Parse parse(const QByteArray &bytes, qint64 maxPayload, Message *message, int *used);
    static QByteArray build(
        quint8 type, quint8 control, quint32 parameter, const QByteArray &payload = QByteArray());
};

#endif // HISLIPFRAME_H
