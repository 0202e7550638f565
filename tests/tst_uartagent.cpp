// The serial agent over a real pseudo-terminal with a peer on the other end.

#include "capture.h"
#include "protocolcase.h"
#include "ptypeer.h"
#include "serial/uartagent.h"

#include <QtTest>

namespace {

const quint8 Request[10] = {0xFE, 1, 2, 0, 0, 0, 0, 1, 2, 0xFA};

void open(UartAgent &agent, const QString &path)
{
    agent.openPort(path, 115200, 8, 0, 1, 0);
}

} // namespace

class TestUartAgent : public QObject {
    Q_OBJECT

private slots:
    void longReplyIsCutButCounted()
    {
        ScriptedCard s(10);
        s.answer(PtyPeer::answer(QByteArray(25, 'x')));
        UartAgent agent;
        open(agent, s.peer().path());
        quint8 buf[UartAgent::RecvBufSize + 4] = {};
        quint32 len = 0;
        auto &window = reinterpret_cast<quint8(&)[UartAgent::RecvBufSize]>(buf);
        QCOMPARE(agent.sendRecv(Request, 10, window, &len, 1000), 1);
        QCOMPARE(len, 25u);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buf), 24),
            QByteArray(20, 'x') + QByteArray(4, '\0'));

        quint8 capped[16] = {};
        len = 0;
        QCOMPARE(agent.sendRecvCapped(Request, 10, capped, 8, &len, 1000), 1);
        QCOMPARE(len, 25u);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(capped), 16),
            QByteArray(8, 'x') + QByteArray(8, '\0'));
    }

    // A real driver hands a reply over in pieces: a 16550 at its FIFO trigger
    // of 8 bytes and the rest after its character time-out, a USB adapter at
    // each tick of its latency timer. Pieces close together make one reply;
    // a pause of more than ReplyGapMs ends it.
    void readsAReplyWhole_data()
    {
        QTest::addColumn<int>("frameSize");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("pieceSize");
        QTest::addColumn<int>("gapUs");
        QTest::addColumn<int>("receivedLen");

        const QByteArray fe = CardReply::fe(2, CardReply::hex("0f4240"));
        const QByteArray klr = CardReply::klr(0xB2, CardReply::hex("0016e360"));
        QTest::newRow("fe 8+2, 0.5 ms") << 10 << fe << 8 << 500 << 10;
        QTest::newRow("fe 9+1, 20 ms") << 10 << fe << 9 << 20000 << 10;
        QTest::newRow("fe byte by byte, 1 ms") << 10 << fe << 1 << 1000 << 10;
        QTest::newRow("klr 4+4, 0.5 ms") << 8 << klr << 4 << 500 << 8;
        QTest::newRow("klr 7+1, 20 ms") << 8 << klr << 7 << 20000 << 8;
        QTest::newRow("klr byte by byte, 1 ms") << 8 << klr << 1 << 1000 << 8;
        QTest::newRow("fe 6+4, 80 ms: short") << 10 << fe << 6 << 80000 << 6;
        QTest::newRow("klr 4+4, 80 ms: short") << 8 << klr << 4 << 80000 << 4;
        QTest::newRow("fe really short") << 10 << fe.left(9) << 0 << 0 << 9;
        QTest::newRow("klr really short") << 8 << klr.left(7) << 0 << 0 << 7;
        QTest::newRow("fe long") << 10 << fe + fe.left(2) << 0 << 0 << 12;
        QTest::newRow("fe long, 8+4") << 10 << fe + fe.left(2) << 8 << 500 << 12;
        QTest::newRow("klr long") << 8 << klr + "}" << 0 << 0 << 9;
    }

    void readsAReplyWhole()
    {
        QFETCH(int, frameSize);
        QFETCH(QByteArray, reply);
        QFETCH(int, pieceSize);
        QFETCH(int, gapUs);
        QFETCH(int, receivedLen);

        ScriptedCard s(frameSize);
        s.answer(PtyPeer::pieces(reply, pieceSize, gapUs));
        UartAgent agent;
        open(agent, s.peer().path());
        const QByteArray request = QByteArray(reinterpret_cast<const char *>(Request), frameSize);
        // JQ and VN exchange through sendRecv, KLR queries through sendRecvCapped.
        const auto exchange = [&](quint32 *len) {
            quint8 buf[UartAgent::RecvBufSize] = {};
            const auto *bytes = reinterpret_cast<const quint8 *>(request.constData());
            const int r = frameSize == 10
                ? agent.sendRecv(bytes, frameSize, buf, len, 1000)
                : agent.sendRecvCapped(bytes, frameSize, buf, UartAgent::RecvBufSize, len, 1000);
            return r == 1 ? QByteArray(reinterpret_cast<char *>(buf), int(std::min(*len, 20u)))
                          : QByteArray("failed");
        };

        QElapsedTimer timer;
        timer.start();
        quint32 len = 0;
        const QByteArray got = exchange(&len);
        QCOMPARE(int(len), receivedLen);
        QCOMPARE(got, reply.left(receivedLen));
        // A reply shorter than its frame is only given up after the line has
        // been quiet for the whole gap (a lower bound: it cannot flake).
        if (receivedLen < frameSize)
            QVERIFY(timer.elapsed() >= UartAgent::ReplyGapMs);

        // The next exchange gets its own reply: nothing of this one is left
        // to spoil it. A tail the card sent after the gap has to be let in
        // first, as it would spoil any exchange in its way.
        if (receivedLen < reply.size())
            QTest::qWait(PtyPeer::pieces(reply, pieceSize, gapUs).spanMs() + 100);
        const QByteArray next = frameSize == 10 ? CardReply::fe(7) : CardReply::klr(0xB7);
        s.answer(PtyPeer::answer(next));
        QCOMPARE(exchange(&len), next);
        QCOMPARE(int(len), frameSize);
    }

    void timeoutZeroWritesWithoutReading()
    {
        ScriptedCard s(8);
        s.answer(PtyPeer::answer(CardReply::klr(0xB2)));
        UartAgent agent;
        open(agent, s.peer().path());
        LogCapture log;
        quint8 buf[16] = {};
        quint32 len = 77;
        QCOMPARE(agent.sendRecvCapped(Request, 8, buf, 16, &len, 0), 1);
        QVERIFY(log.contains(QStringLiteral("ready1 =  true")));
        QCOMPARE(len, 77u);
        QVERIFY(s.peer().waitForFrames(1));
    }

    void portThatIsNotOpenFailsTheWrite()
    {
        UartAgent agent;
        LogCapture log;
        open(agent, QStringLiteral("/nonexistent/rfcard-port"));
        QVERIFY(!agent.isOpen());
        QVERIFY(log.contains(QStringLiteral("open uart \"/nonexistent/rfcard-port\" failed")));
        quint8 buf[UartAgent::RecvBufSize] = {};
        quint32 len = 5;
        QCOMPARE(agent.sendRecv(Request, 10, buf, &len, 1000), -4);
        QCOMPARE(agent.sendRecvCapped(Request, 8, buf, 16, &len, 1000), -4);
        QCOMPARE(agent.sendRecvCapped(Request, 8, buf, 16, &len, 0), -4);
        QCOMPARE(log.lines().count(QStringLiteral("error: uart send not finished\n.")), 3);
        QCOMPARE(len, 5u);
    }

    void openTakesBaudRatesFrom1To460800()
    {
        ScriptedCard s(10);
        UartAgent agent;
        LogCapture log;
        agent.openPort(QString(), 115200, 8, 0, 1, 0);
        QCOMPARE(agent.portName(), QString());
        agent.openPort(s.peer().path(), 0, 8, 0, 1, 0);
        agent.openPort(s.peer().path(), 460801, 8, 0, 1, 0);
        QCOMPARE(agent.portName(), s.peer().path());
        QVERIFY(!agent.isOpen());
        QVERIFY(log.lines().isEmpty());
        agent.openPort(s.peer().path(), 460800, 8, 0, 1, 0);
        QVERIFY(agent.isOpen());
        QVERIFY(log.contains(QStringLiteral("open uart \"%1\" sucess").arg(s.peer().path())));
        agent.openPort(s.peer().path(), 1, 8, 0, 1, 0);
        QVERIFY(agent.isOpen());
    }

    void reopeningMovesToTheNewPort()
    {
        ScriptedCard first(10);
        ScriptedCard second(10);
        second.answer(PtyPeer::answer(CardReply::fe(2)));
        UartAgent agent;
        open(agent, first.peer().path());
        open(agent, second.peer().path());
        quint8 buf[UartAgent::RecvBufSize] = {};
        quint32 len = 0;
        QCOMPARE(agent.sendRecv(Request, 10, buf, &len, 1000), 1);
        QCOMPARE(second.peer().frames().size(), 1);
        QCOMPARE(first.peer().frames().size(), 0);
    }

    void destructorClosesOnlyAnOpenPort()
    {
        ScriptedCard s(10);
        LogCapture log;
        {
            UartAgent opened;
            UartAgent never;
            open(opened, s.peer().path());
        }
        QCOMPARE(log.lines().count(QStringLiteral("~UartAgent close")), 2);
        QCOMPARE(
            log.lines().count(QStringLiteral("close uart \"%1\"  sucess").arg(s.peer().path())), 1);
    }

    // The only cases here that wait out the 1000 ms reply time-out.
    void silentPeer()
    {
        ScriptedCard s(10);
        UartAgent agent;
        open(agent, s.peer().path());
        LogCapture log;
        quint8 buf[UartAgent::RecvBufSize] = {};
        quint32 len = 42;
        QCOMPARE(agent.sendRecv(Request, 10, buf, &len, 1000), -5);
        QVERIFY(log.contains(QStringLiteral("error: uart RF recv error, recv len == 0")));
        QCOMPARE(len, 42u);
        QCOMPARE(agent.sendRecvCapped(Request, 8, buf, 16, &len, 1000), 1);
        QCOMPARE(len, 42u);
    }

    void lateReplyIsNotTakenForTheNextOne()
    {
        // The first reply comes after the time-out; the second request must
        // get its own answer, not the stale bytes still waiting on the line.
        ScriptedCard s(10);
        s.answer(PtyPeer::late(CardReply::fe(7), 1100));
        UartAgent agent;
        open(agent, s.peer().path());
        quint8 buf[UartAgent::RecvBufSize] = {};
        quint32 len = 0;
        QCOMPARE(agent.sendRecv(Request, 10, buf, &len, 1000), -5);
        QTest::qWait(300);
        s.answer(PtyPeer::answer(CardReply::fe(2)));
        QCOMPARE(agent.sendRecv(Request, 10, buf, &len, 1000), 1);
        QCOMPARE(int(buf[2]), 2);
    }
};

QTEST_GUILESS_MAIN(TestUartAgent)
#include "tst_uartagent.moc"
