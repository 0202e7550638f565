#ifndef PROTOCOLCASE_H
#define PROTOCOLCASE_H

#include "ptypeer.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QtTest>

#include <functional>
#include <mutex>

// A card peer whose next answer the test sets.
class ScriptedCard {
public:
    explicit ScriptedCard(int frameSize);
    void answer(const PtyPeer::Reply &reply);
    PtyPeer &peer() { return m_Peer; }

private:
    std::mutex m_Mutex;
    PtyPeer::Reply m_Next;
    PtyPeer m_Peer;
};

// A card that answers like the real one: JQ/VN frames are echoed with status
// 0 and the value set for their code; KLR queries get their reply code and
// value, KLR set commands no answer.
class EchoCard {
public:
    explicit EchoCard(int frameSize, const QMap<quint8, QByteArray> &values = {});
    void setValue(quint8 code, const QByteArray &value);
    PtyPeer &peer() { return m_Peer; }

private:
    PtyPeer::Reply reply(const QByteArray &frame);

    int m_FrameSize;
    std::mutex m_Mutex;
    QMap<quint8, QByteArray> m_Values;
    PtyPeer m_Peer;
};

// The protocol and card tables are QtTest data rows: each row names itself
// (-datatags lists them), runs on its own with a fresh module or card on a
// fresh pseudo-terminal, and a failing row says which it is. Modules and
// cards are QObjects; a row's call gets its own type back through the
// templates below.
using ProtocolCall = std::function<int(QObject &)>;
using CardCall = std::function<bool(QObject &)>;
Q_DECLARE_METATYPE(ProtocolCall)
Q_DECLARE_METATYPE(CardCall)
Q_DECLARE_METATYPE(PtyPeer::Reply)

// Protocol rows: an operation of a module, the frame it must put on the line
// (empty: nothing may be written), the card's answer, the result, and texts
// expected on standard output (none: nothing may be printed) and in the log.
void protocolColumns();
template <typename Module, typename Call>
void protocolRow(const char *name, Call call, const QByteArray &frame, const PtyPeer::Reply &reply,
    int result, const char *printed = nullptr, const char *logged = nullptr)
{
    QTest::newRow(name) << ProtocolCall([call](QObject &m) {
        return call(static_cast<Module &>(m));
    }) << frame << reply << result
                        << QByteArray(printed) << QString::fromUtf8(logged);
}
void runProtocolRow(QObject &module, ScriptedCard &card);
template <typename Module> void runProtocolRow(int frameSize)
{
    ScriptedCard card(frameSize);
    Module module;
    module.lOpenUart(card.peer().path());
    runProtocolRow(module, card);
}

// Card rows: a card operation, the frames it must send (in order), its
// result, a line expected in the log, and the least time it must take (the
// KLR620 is given 100 ms after every set command).
void cardColumns();
template <typename Card, typename Call>
void cardRow(const char *name, Call call, const QList<QByteArray> &frames, bool result,
    const char *logged = nullptr, int atLeastMs = 0)
{
    QTest::newRow(name) << CardCall([call](QObject &c) { return call(static_cast<Card &>(c)); })
                        << frames << result << QString::fromUtf8(logged) << atLeastMs;
}
void runCardRow(QObject &card, PtyPeer &peer);
template <typename Card> void runCardRow(int frameSize, const QMap<quint8, QByteArray> &values)
{
    EchoCard echo(frameSize, values);
    Card card;
    card.Open(echo.peer().path());
    runCardRow(card, echo.peer());
}

#endif // PROTOCOLCASE_H
