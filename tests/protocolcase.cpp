#include "protocolcase.h"

#include "capture.h"

#include <QtTest>

ScriptedCard::ScriptedCard(int frameSize)
    : m_Peer(frameSize, [this](const QByteArray &) {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Next;
    })
{
}

void ScriptedCard::answer(const PtyPeer::Reply &reply)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Next = reply;
}

void runProtocolTable(ScriptedCard &card, const std::vector<ProtocolCase> &rows)
{
    QList<QByteArray> expectedFrames;
    for (const ProtocolCase &row : rows) {
        card.answer(row.reply);
        const int before = card.peer().frames().size();
        int result = 0;
        QByteArray printed;
        QStringList log;
        {
            LogCapture capture;
            StdoutCapture out;
            result = row.call();
            // Let the tail of a split reply arrive before the next row.
            if (row.reply.pieceSize > 0)
                QThread::msleep(ulong(row.reply.spanMs() + 100));
            printed = out.text();
            log = capture.lines();
        }
        const QByteArray what = QByteArray(row.name) + " (printed: " + printed
            + ", log: " + log.join(QLatin1String(" | ")).toUtf8() + ")";
        QVERIFY2(
            result == row.result, (what + " result " + QByteArray::number(result)).constData());
        if (row.stdoutText)
            QVERIFY2(printed.contains(row.stdoutText), what.constData());
        else
            QVERIFY2(printed.isEmpty(), what.constData());
        if (row.logText) {
            bool found = false;
            for (const QString &line : log)
                found = found || line.contains(QString::fromUtf8(row.logText));
            QVERIFY2(found, what.constData());
        }
        if (!row.frame.isEmpty()) {
            expectedFrames.append(row.frame);
            QVERIFY2(card.peer().waitForFrames(before + 1), what.constData());
            QVERIFY2(card.peer().frames().constLast().toHex(' ') == row.frame.toHex(' '),
                (what + " sent " + card.peer().frames().constLast().toHex(' ')).constData());
        }
    }
    QCOMPARE(card.peer().frames(), expectedFrames);
    QCOMPARE(card.peer().leftover(), QByteArray());
}

EchoCard::EchoCard(int frameSize)
    : m_FrameSize(frameSize)
    , m_Peer(frameSize, [this](const QByteArray &f) { return reply(f); })
{
}

void EchoCard::setValue(quint8 code, const QByteArray &value)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Values.insert(code, value);
}

PtyPeer::Reply EchoCard::reply(const QByteArray &frame)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    const auto code = quint8(frame.at(m_FrameSize == 10 ? 2 : 1));
    if (m_FrameSize == 10)
        return PtyPeer::answer(CardReply::fe(code, m_Values.value(code)));
    static const QMap<quint8, quint8> replyCodes = {
        {0xA7, 0xB2},
        {0xA8, 0xB3},
        {0xA9, 0xB4},
        {0xAA, 0xB5},
        {0xAC, 0xB6},
        {0xAB, 0xBA},
    };
    if (!replyCodes.contains(code))
        return PtyPeer::silent();
    return PtyPeer::answer(CardReply::klr(replyCodes.value(code), m_Values.value(code)));
}

void runCardTable(PtyPeer &peer, const std::vector<CardCase> &rows)
{
    for (const CardCase &row : rows) {
        const int before = peer.frames().size();
        bool result = false;
        QStringList log;
        {
            LogCapture capture;
            result = row.call();
            log = capture.lines();
        }
        const QByteArray what
            = QByteArray(row.name) + " (log: " + log.join(QLatin1String(" | ")).toUtf8() + ")";
        QVERIFY2(result == row.result, what.constData());
        if (row.logText) {
            bool found = false;
            for (const QString &line : log)
                found = found || line.contains(QString::fromUtf8(row.logText));
            QVERIFY2(found, what.constData());
        }
        peer.waitForFrames(before + row.frames.size());
        const QList<QByteArray> sent = peer.frames().mid(before);
        QByteArray sentHex;
        for (const QByteArray &f : sent)
            sentHex += f.toHex(' ') + " / ";
        QVERIFY2(sent == row.frames, (what + " sent " + sentHex).constData());
    }
}
