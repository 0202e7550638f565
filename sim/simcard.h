#ifndef SIMCARD_H
#define SIMCARD_H

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QVector>

// A simulated card of one family: it keeps every parameter of every channel
// and answers each request frame the way the hardware does. The three
// families differ only in their frame shape and their table of parameters.
class SimCard {
public:
    enum class Family { JQ, VN, KLR };
    static constexpr int Channels = 4;

    // Where a value sits in a reply (and in a set command).
    enum class Layout { Byte3, Be16, Be24, Byte6, Be32 };

    struct Param {
        const char *name;
        quint8 setCode; // 0: read-only
        quint8 queryCode;
        quint8 replyCode;
        Layout layout;
        bool cardWide; // one value for the whole card (the reference clock)
        quint32 initial;
    };

    // The outcome of one request frame.
    struct Response {
        bool valid = false; // a frame this card understands
        bool query = false;
        quint8 code = 0; // the parameter code of the request
        QByteArray reply; // empty: the card does not answer
        QString note; // for the trace: what the card made of it
        bool changed = false; // a set command changed the state
    };

    explicit SimCard(Family family);

    Family family() const { return m_Family; }
    int frameSize() const;
    static bool parseFamily(const QString &text, Family &family);
    // The check byte of a 10-byte frame: XOR of bytes 1 to 7. Computed here
    // again, not taken from rfcard's frame builders, so that a fault in those
    // shows up as a frame the simulated card rejects.
    static quint8 feCheck(const QByteArray &frame);
    static QString familyName(Family family);

    // Takes the next frame (or a run of bytes that cannot start one) off the
    // front of the buffer; returns false when more bytes are needed.
    bool takeFrame(QByteArray &buffer, QByteArray &frame, bool &garbage) const;
    // With `keepOld`, a set command is answered as usual but the value is
    // not taken (a card that did not apply it).
    Response handle(const QByteArray &frame, bool keepOld = false);
    // The parameter code a frame carries, whatever it is.
    quint8 codeOf(const QByteArray &frame) const;
    // Every set and query code of this family.
    QList<quint8> codes() const;

    // Read-only values an operator sets before the run.
    void setEverywhere(const char *name, quint32 value);
    quint32 value(const char *name, int channel) const;

    QJsonObject toJson() const;
    bool fromJson(const QJsonObject &state, QString *error);

private:
    const Param *findBySet(quint8 code) const;
    const Param *findByQuery(quint8 code) const;
    Response handleFe(const QByteArray &frame, bool keepOld);
    Response handleKlr(const QByteArray &frame, bool keepOld);
    QByteArray feReply(
        quint8 status, quint8 code, quint32 value, quint8 channel, Layout layout) const;
    QByteArray klrReply(quint8 code, quint32 value, quint8 channel, Layout layout) const;
    quint32 &slot(const Param &p, int channel);

    Family m_Family;
    QVector<Param> m_Params;
    QMap<QString, QVector<quint32>> m_State; // parameter -> value per channel
};

#endif // SIMCARD_H
