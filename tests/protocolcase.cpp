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

void protocolColumns()
{
    QTest::addColumn<ProtocolCall>("call");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<PtyPeer::Reply>("reply");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("printed");
    QTest::addColumn<QString>("logged");
}

namespace {

bool anyContains(const QStringList &lines, const QString &text)
{
    for (const QString &line : lines) {
        if (line.contains(text))
            return true;
    }
    return false;
}

} // namespace

void runProtocolRow(QObject &module, ScriptedCard &card)
{
    QFETCH(ProtocolCall, call);
    QFETCH(QByteArray, frame);
    QFETCH(PtyPeer::Reply, reply);
    QFETCH(int, result);
    QFETCH(QByteArray, printed);
    QFETCH(QString, logged);
    card.answer(reply);
    int got = 0;
    QByteArray out;
    QStringList log;
    {
        LogCapture capture;
        StdoutCapture stdoutCapture;
        got = call(module);
        out = stdoutCapture.text();
        log = capture.lines();
    }
    const QByteArray what = "printed: " + out + ", log: " + log.join(QLatin1String(" | ")).toUtf8();
    QVERIFY2(got == result, (what + ", result " + QByteArray::number(got)).constData());
    if (printed.isEmpty())
        QVERIFY2(out.isEmpty(), what.constData());
    else
        QVERIFY2(out.contains(printed), what.constData());
    QVERIFY2(logged.isEmpty() || anyContains(log, logged), what.constData());
    if (!frame.isEmpty())
        card.peer().waitForFrames(1);
    const QList<QByteArray> sent = card.peer().frames();
    QCOMPARE(sent.value(0).toHex(' '), frame.toHex(' '));
    QCOMPARE(sent.size(), frame.isEmpty() ? 0 : 1);
    QCOMPARE(card.peer().leftover(), QByteArray());
}

void cardColumns()
{
    QTest::addColumn<CardCall>("call");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<int>("atLeastMs");
}

EchoCard::EchoCard(int frameSize, const QMap<quint8, QByteArray> &values)
    : m_FrameSize(frameSize)
    , m_Values(values)
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

void runCardRow(QObject &card, PtyPeer &peer)
{
    QFETCH(CardCall, call);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(bool, result);
    QFETCH(QString, logged);
    QFETCH(int, atLeastMs);
    QElapsedTimer timer;
    timer.start();
    bool got = false;
    QStringList log;
    {
        LogCapture capture;
        got = call(card);
        log = capture.lines();
    }
    // A lower bound on the time cannot flake the way an upper bound can.
    QVERIFY2(timer.elapsed() >= atLeastMs, qPrintable(QString::number(timer.elapsed())));
    const QByteArray what = "log: " + log.join(QLatin1String(" | ")).toUtf8();
    QVERIFY2(got == result, what.constData());
    QVERIFY2(logged.isEmpty() || anyContains(log, logged), what.constData());
    peer.waitForFrames(frames.size());
    QByteArray sent;
    for (const QByteArray &f : peer.frames())
        sent += f.toHex(' ') + " / ";
    QByteArray expected;
    for (const QByteArray &f : frames)
        expected += f.toHex(' ') + " / ";
    QCOMPARE(sent, expected);
}
