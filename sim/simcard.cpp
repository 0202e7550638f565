#include "sim/simcard.h"

#include <QJsonArray>

namespace {

using Layout = SimCard::Layout;

// JQ5140/JQ5120: 10-byte frames, one code per parameter for set and query.
const SimCard::Param JQParams[] = {
    {"freq", 2, 2, 2, Layout::Be24, false, 1000000},
    {"workmode", 7, 7, 7, Layout::Byte3, false, 0},
    {"rfatt", 8, 8, 8, Layout::Byte3, false, 60},
    {"ifatt", 9, 9, 9, Layout::Byte3, false, 60},
    {"ifadjatt", 10, 10, 10, Layout::Byte3, false, 50},
    {"ref", 11, 11, 11, Layout::Byte3, true, 0},
    {"ifout", 12, 12, 12, Layout::Byte3, false, 0},
    {"power", 0, 13, 13, Layout::Be16, false, 0},
    {"ifband", 16, 16, 16, Layout::Byte3, false, 0},
    {"temp", 0, 128, 128, Layout::Be16, false, 250},
};

// VN2810: the same frame, its own codes; the gain is a code, 90 = gain 0.
const SimCard::Param VNParams[] = {
    {"freq", 2, 2, 2, Layout::Be24, false, 1000000},
    {"gaincode", 5, 5, 5, Layout::Byte3, false, 90},
    {"ifout", 12, 12, 12, Layout::Byte3, false, 0},
    {"temp", 0, 13, 13, Layout::Be16, false, 250},
    {"type", 0, 16, 16, Layout::Byte3, false, 1},
};

// KLR620: 8-byte frames; sets and queries have their own codes and the
// reply carries a third one.
const SimCard::Param KLRParams[] = {
    {"freq", 0xA2, 0xA7, 0xB2, Layout::Be32, false, 1000000},
    {"workmode", 0xA3, 0xA8, 0xB3, Layout::Byte6, false, 0},
    {"rfatt", 0xA4, 0xA9, 0xB4, Layout::Byte6, false, 30},
    {"ifatt", 0xA5, 0xAA, 0xB5, Layout::Byte6, false, 0},
    {"band", 0xA6, 0xAC, 0xB6, Layout::Byte6, false, 2},
    {"warning", 0, 0xAB, 0xBA, Layout::Byte6, false, 0},
};

constexpr quint8 FeHeader = 0xFE;
constexpr quint8 FeTail = 0xFA;
constexpr quint8 KlrStart = 0x7B;
constexpr quint8 KlrEnd = 0x7D;
constexpr quint8 StatusChannelFailed = 0x51;

quint32 readValue(const QByteArray &f, Layout layout)
{
    auto b = [&](int i) { return quint32(quint8(f.at(i))); };
    switch (layout) {
    case Layout::Byte3:
        return b(3);
    case Layout::Be16:
        return b(3) << 8 | b(4);
    case Layout::Be24:
        return b(3) << 16 | b(4) << 8 | b(5);
    case Layout::Byte6:
        return b(6);
    case Layout::Be32:
        return b(3) << 24 | b(4) << 16 | b(5) << 8 | b(6);
    }
    return 0;
}

void writeValue(QByteArray &f, quint32 v, Layout layout)
{
    switch (layout) {
    case Layout::Byte3:
        f[3] = char(v);
        break;
    case Layout::Be16:
        f[3] = char(v >> 8);
        f[4] = char(v);
        break;
    case Layout::Be24:
        f[3] = char(v >> 16);
        f[4] = char(v >> 8);
        f[5] = char(v);
        break;
    case Layout::Byte6:
        f[6] = char(v);
        break;
    case Layout::Be32:
        f[3] = char(v >> 24);
        f[4] = char(v >> 16);
        f[5] = char(v >> 8);
        f[6] = char(v);
        break;
    }
}

quint32 mask(Layout layout)
{
    switch (layout) {
    case Layout::Byte3:
    case Layout::Byte6:
        return 0xFF;
    case Layout::Be16:
        return 0xFFFF;
    case Layout::Be24:
        return 0xFFFFFF;
    case Layout::Be32:
        return 0xFFFFFFFF;
    }
    return 0;
}

QString hexByte(quint8 b)
{
    return QStringLiteral("0x%1").arg(b, 2, 16, QLatin1Char('0'));
}

} // namespace

SimCard::SimCard(Family family)
    : m_Family(family)
{
    switch (family) {
    case Family::JQ:
        m_Params = QVector<Param>(std::begin(JQParams), std::end(JQParams));
        break;
    case Family::VN:
        m_Params = QVector<Param>(std::begin(VNParams), std::end(VNParams));
        break;
    case Family::KLR:
        m_Params = QVector<Param>(std::begin(KLRParams), std::end(KLRParams));
        break;
    }
    for (const Param &p : qAsConst(m_Params))
        m_State.insert(QString::fromLatin1(p.name), QVector<quint32>(Channels, p.initial));
}

int SimCard::frameSize() const
{
    return m_Family == Family::KLR ? 8 : 10;
}

bool SimCard::parseFamily(const QString &text, Family &family)
{
    const QString t = text.toLower();
    if (t == QLatin1String("jq"))
        family = Family::JQ;
    else if (t == QLatin1String("vn"))
        family = Family::VN;
    else if (t == QLatin1String("klr"))
        family = Family::KLR;
    else
        return false;
    return true;
}

QString SimCard::familyName(Family family)
{
    switch (family) {
    case Family::JQ:
        return QStringLiteral("jq");
    case Family::VN:
        return QStringLiteral("vn");
    case Family::KLR:
        return QStringLiteral("klr");
    }
    return QString();
}

bool SimCard::takeFrame(QByteArray &buffer, QByteArray &frame, bool &garbage) const
{
    const char start = char(m_Family == Family::KLR ? KlrStart : FeHeader);
    const int at = buffer.indexOf(start);
    if (at != 0 && !buffer.isEmpty()) {
        // Bytes before a frame start can be no part of a request.
        frame = at < 0 ? buffer : buffer.left(at);
        buffer.remove(0, frame.size());
        garbage = true;
        return true;
    }
    if (buffer.size() < frameSize())
        return false;
    frame = buffer.left(frameSize());
    buffer.remove(0, frameSize());
    garbage = false;
    return true;
}

const SimCard::Param *SimCard::findBySet(quint8 code) const
{
    for (const Param &p : m_Params) {
        if (p.setCode != 0 && p.setCode == code)
            return &p;
    }
    return nullptr;
}

const SimCard::Param *SimCard::findByQuery(quint8 code) const
{
    for (const Param &p : m_Params) {
        if (p.queryCode == code)
            return &p;
    }
    return nullptr;
}

quint32 &SimCard::slot(const Param &p, int channel)
{
    return m_State[QString::fromLatin1(p.name)][p.cardWide ? 0 : channel];
}

SimCard::Response SimCard::handle(const QByteArray &frame, bool keepOld)
{
    return m_Family == Family::KLR ? handleKlr(frame, keepOld) : handleFe(frame, keepOld);
}

quint8 SimCard::codeOf(const QByteArray &frame) const
{
    const int at = m_Family == Family::KLR ? 1 : 2;
    return frame.size() > at ? quint8(frame.at(at)) : 0;
}

QList<quint8> SimCard::codes() const
{
    QList<quint8> codes;
    for (const Param &p : m_Params) {
        for (quint8 code : {p.setCode, p.queryCode}) {
            if (code != 0 && !codes.contains(code))
                codes << code;
        }
    }
    return codes;
}

SimCard::Response SimCard::handleFe(const QByteArray &f, bool keepOld)
{
    Response r;
    if (f.size() != 10 || quint8(f.at(0)) != FeHeader || quint8(f.at(9)) != FeTail) {
        r.note = QStringLiteral("malformed frame (header or tail), no answer");
        return r;
    }
    r.code = quint8(f.at(2));
    if (SimCard::feCheck(f) != quint8(f.at(8))) {
        r.note = QStringLiteral("bad check byte, no answer");
        return r;
    }
    const quint8 command = quint8(f.at(1));
    const quint8 channel = quint8(f.at(7));
    r.query = command == 1;
    const Param *p = command == 1 ? findByQuery(r.code)
        : command == 3            ? findBySet(r.code)
                                  : nullptr;
    if (!p) {
        r.note = QStringLiteral("unknown command %1 code %2, no answer")
                     .arg(command)
                     .arg(hexByte(r.code));
        return r;
    }
    r.valid = true;
    if (channel >= Channels) {
        // A channel this card does not have: failed status, nothing changes.
        r.reply = feReply(StatusChannelFailed, r.code, 0, channel, p->layout);
        r.note = QStringLiteral("%1 on channel %2: no such channel")
                     .arg(QLatin1String(p->name))
                     .arg(channel);
        return r;
    }
    quint32 &v = slot(*p, channel);
    if (r.query) {
        r.note = QStringLiteral("get %1 ch%2 = %3").arg(QLatin1String(p->name)).arg(channel).arg(v);
    } else {
        const quint32 nv = readValue(f, p->layout);
        r.note
            = QStringLiteral("set %1 ch%2 = %3").arg(QLatin1String(p->name)).arg(channel).arg(nv);
        if (keepOld) {
            r.note += QStringLiteral(", fault keep-old: still %1").arg(v);
        } else {
            r.changed = nv != v;
            v = nv;
        }
    }
    r.reply = feReply(0, r.code, r.query ? v : readValue(f, p->layout), channel, p->layout);
    return r;
}

SimCard::Response SimCard::handleKlr(const QByteArray &f, bool keepOld)
{
    Response r;
    if (f.size() != 8 || quint8(f.at(0)) != KlrStart || quint8(f.at(7)) != KlrEnd) {
        r.note = QStringLiteral("malformed frame (braces), no answer");
        return r;
    }
    r.code = quint8(f.at(1));
    const quint8 channel = quint8(f.at(2));
    const Param *set = findBySet(r.code);
    const Param *query = set ? nullptr : findByQuery(r.code);
    if (!set && !query) {
        r.note = QStringLiteral("unknown code %1, no answer").arg(hexByte(r.code));
        return r;
    }
    if (channel >= Channels) {
        r.note = QStringLiteral("channel %1: no such channel, no answer").arg(channel);
        return r;
    }
    r.valid = true;
    r.query = query != nullptr;
    if (set) {
        // Set commands are applied and never acknowledged.
        quint32 &v = slot(*set, channel);
        const quint32 nv = readValue(f, set->layout);
        r.note
            = QStringLiteral("set %1 ch%2 = %3").arg(QLatin1String(set->name)).arg(channel).arg(nv);
        if (keepOld) {
            r.note += QStringLiteral(", fault keep-old: frame dropped, still %1").arg(v);
        } else {
            r.changed = nv != v;
            v = nv;
        }
        return r;
    }
    const quint32 v = slot(*query, channel);
    r.reply = klrReply(query->replyCode, v, channel, query->layout);
    r.note = QStringLiteral("get %1 ch%2 = %3").arg(QLatin1String(query->name)).arg(channel).arg(v);
    return r;
}

QByteArray SimCard::feReply(
    quint8 status, quint8 code, quint32 value, quint8 channel, Layout layout) const
{
    QByteArray f(10, '\0');
    f[0] = char(FeHeader);
    f[1] = char(status);
    f[2] = char(code);
    writeValue(f, value, layout);
    f[7] = char(channel);
    f[8] = char(SimCard::feCheck(f));
    f[9] = char(FeTail);
    return f;
}

QByteArray SimCard::klrReply(quint8 code, quint32 value, quint8 channel, Layout layout) const
{
    QByteArray f(8, '\0');
    f[0] = char(KlrStart);
    f[1] = char(code);
    f[2] = char(channel);
    writeValue(f, value, layout);
    f[7] = char(KlrEnd);
    return f;
}

void SimCard::setEverywhere(const char *name, quint32 value)
{
    const QString key = QString::fromLatin1(name);
    if (!m_State.contains(key))
        return;
    for (const Param &p : qAsConst(m_Params)) {
        if (key == QLatin1String(p.name))
            value &= mask(p.layout);
    }
    m_State[key].fill(value);
}

quint32 SimCard::value(const char *name, int channel) const
{
    return m_State.value(QString::fromLatin1(name)).value(channel);
}

QJsonObject SimCard::toJson() const
{
    QJsonArray channels;
    for (int ch = 0; ch < Channels; ++ch) {
        QJsonObject c;
        for (auto it = m_State.constBegin(); it != m_State.constEnd(); ++it)
            c.insert(it.key(), double(it.value().at(ch)));
        channels.append(c);
    }
    QJsonObject state;
    state.insert(QStringLiteral("family"), familyName(m_Family));
    state.insert(QStringLiteral("channels"), channels);
    return state;
}

bool SimCard::fromJson(const QJsonObject &state, QString *error)
{
    if (state.value(QStringLiteral("family")).toString() != familyName(m_Family)) {
        *error = QStringLiteral("the state is of family \"%1\"")
                     .arg(state.value(QStringLiteral("family")).toString());
        return false;
    }
    const QJsonArray channels = state.value(QStringLiteral("channels")).toArray();
    for (int ch = 0; ch < Channels && ch < channels.size(); ++ch) {
        const QJsonObject c = channels.at(ch).toObject();
        for (const Param &p : qAsConst(m_Params)) {
            const QJsonValue v = c.value(QLatin1String(p.name));
            if (v.isDouble())
                m_State[QString::fromLatin1(p.name)][ch]
                    = quint32(qint64(v.toDouble())) & mask(p.layout);
        }
    }
    return true;
}

quint8 SimCard::feCheck(const QByteArray &frame)
{
    quint8 x = 0;
    for (int i = 1; i <= 7; ++i)
        x ^= quint8(frame.at(i));
    return x;
}
