#ifndef PROTOCOLCASE_H
#define PROTOCOLCASE_H

#include "ptypeer.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <functional>
#include <mutex>
#include <vector>

// One row of a protocol table: an operation of a module, the frame it must
// put on the line (empty: nothing may be written), the card's answer, the
// result, and a text expected on standard output and in the log.
struct ProtocolCase {
    const char *name;
    std::function<int()> call;
    QByteArray frame;
    PtyPeer::Reply reply;
    int result;
    const char *stdoutText = nullptr; // nullptr: nothing may be printed
    const char *logText = nullptr;
};

// A card peer whose next answer each row sets.
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

// Runs every row against the card and checks it; then checks that the line
// carried exactly the frames of the rows, in order.
void runProtocolTable(ScriptedCard &card, const std::vector<ProtocolCase> &rows);

#endif // PROTOCOLCASE_H

// A card that answers like the real one: JQ/VN frames are echoed with status
// 0 and the value set for their code; KLR queries get their reply code and
// value, KLR set commands no answer.
class EchoCard {
public:
    explicit EchoCard(int frameSize);
    void setValue(quint8 code, const QByteArray &value);
    PtyPeer &peer() { return m_Peer; }

private:
    PtyPeer::Reply reply(const QByteArray &frame);

    int m_FrameSize;
    std::mutex m_Mutex;
    QMap<quint8, QByteArray> m_Values;
    PtyPeer m_Peer;
};

// One row of a card table: a card operation, the frames it must send (in
// order), its result, and a line expected in the log.
struct CardCase {
    const char *name;
    std::function<bool()> call;
    QList<QByteArray> frames;
    bool result;
    const char *logText = nullptr;
};

void runCardTable(PtyPeer &peer, const std::vector<CardCase> &rows);
