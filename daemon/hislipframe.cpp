#include "daemon/hislipframe.h"

#include <QtEndian>

HislipFrame::Parse HislipFrame::parse(
    const QByteArray &bytes, qint64 maxPayload, Message *message, int *used)
{
    if (bytes.size() >= 2 && !bytes.startsWith("HS"))
        return Parse::BadHeader;
    if (bytes.size() < HeaderSize)
        return Parse::Incomplete;
    const auto *h = reinterpret_cast<const uchar *>(bytes.constData());
    const quint64 length = qFromBigEndian<quint64>(h + 8);
    if (length > quint64(maxPayload))
        return Parse::TooLarge;
    if (quint64(bytes.size()) < HeaderSize + length)
        return Parse::Incomplete;
    message->type = h[2];
    message->control = h[3];
    message->parameter = qFromBigEndian<quint32>(h + 4);
    message->payload = bytes.mid(HeaderSize, int(length));
    *used = HeaderSize + int(length);
    return Parse::Complete;
}

QByteArray HislipFrame::build(
    quint8 type, quint8 control, quint32 parameter, const QByteArray &payload)
{
    QByteArray m(HeaderSize, '\0');
    auto *h = reinterpret_cast<uchar *>(m.data());
    h[0] = 'H';
    h[1] = 'S';
    h[2] = type;
    h[3] = control;
    qToBigEndian<quint32>(parameter, h + 4);
    qToBigEndian<quint64>(quint64(payload.size()), h + 8);
    return m + payload;
}
