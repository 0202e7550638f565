// The serial agent over a real pseudo-terminal with a peer on the other end.

#include "capture.h"
#include "ptypeer.h"
#include "serial/uartagent.h"

#include <QtTest>

#include <memory>
#include <mutex>

namespace {

const quint8 Request[10] = {0xFE, 1, 2, 0, 0, 0, 0, 1, 2, 0xFA};

// A peer whose answer the test changes as it goes.
struct ScriptedPeer {
    std::mutex mutex;
    PtyPeer::Reply next;
    PtyPeer peer;
    explicit ScriptedPeer(int frameSize = 10)
        : peer(frameSize, [this](const QByteArray &) {
            std::lock_guard<std::mutex> lock(mutex);
            return next;
        })
    {
    }
    void answer(const PtyPeer::Reply &reply)
    {
        std::lock_guard<std::mutex> lock(mutex);
        next = reply;
    }
};

void open(UartAgent &agent, const QString &path)
{
    agent.openPort(path, 115200, 8, 0, 1, 0);
}

} // namespace

class TestUartAgent : public QObject {
    Q_OBJECT

private slots:
    void exchangesOneRequestAndOneReply()
    {
        ScriptedPeer s;
        s.answer(PtyPeer::answer(CardReply::fe(2, CardReply::hex("0f4240"))));
        UartAgent agent;
        LogCapture log;
        open(agent, s.peer.path());
        QVERIFY(agent.isOpen());
        QVERIFY(log.contains(QStringLiteral("open uart \"%1\" sucess").arg(s.peer.path())));

        quint8 buf[UartAgent::RecvBufSize] = {};
        quint32 len = 99;
        QCOMPARE(agent.sendRecv(Request, 10, buf, &len, 1000), 1);
        QCOMPARE(len, 10u);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buf), 10),
            CardReply::fe(2, CardReply::hex("0f4240")));
        QCOMPARE(s.peer.frames(),
            QList<QByteArray>{QByteArray(reinterpret_cast<const char *>(Request), 10)});
    }

    void longReplyIsCutButCounted()
    {
        ScriptedPeer s;
        s.answer(PtyPeer::answer(QByteArray(25, 'x')));
        UartAgent agent;
        open(agent, s.peer.path());
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

    void splitReplyIsSeenAsShort()
    {
        ScriptedPeer s;
        const QByteArray reply = CardReply::fe(2);
        s.answer(PtyPeer::Reply{reply.left(4), reply.mid(4), 300});
        UartAgent agent;
        open(agent, s.peer.path());
        quint8 buf[UartAgent::RecvBufSize] = {};
        quint32 len = 0;
        QCOMPARE(agent.sendRecv(Request, 10, buf, &len, 1000), 1);
        QCOMPARE(len, 4u);
    }

    void timeoutZeroWritesWithoutReading()
    {
        ScriptedPeer s(8);
        s.answer(PtyPeer::answer(CardReply::klr(0xB2)));
        UartAgent agent;
        open(agent, s.peer.path());
        LogCapture log;
        quint8 buf[16] = {};
        quint32 len = 77;
        QCOMPARE(agent.sendRecvCapped(Request, 8, buf, 16, &len, 0), 1);
        QVERIFY(log.contains(QStringLiteral("ready1 =  true")));
        QCOMPARE(len, 77u);
        QVERIFY(s.peer.waitForFrames(1));
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

    void openIgnoresEmptyNamesAndBadBaudRates()
    {
        ScriptedPeer s;
        UartAgent agent;
        LogCapture log;
        agent.openPort(QString(), 115200, 8, 0, 1, 0);
        QCOMPARE(agent.portName(), QString());
        agent.openPort(s.peer.path(), 0, 8, 0, 1, 0);
        agent.openPort(s.peer.path(), 460801, 8, 0, 1, 0);
        QCOMPARE(agent.portName(), s.peer.path());
        QVERIFY(!agent.isOpen());
        QVERIFY(log.lines().isEmpty());
    }

    void reopeningMovesToTheNewPort()
    {
        ScriptedPeer first;
        ScriptedPeer second;
        second.answer(PtyPeer::answer(CardReply::fe(2)));
        UartAgent agent;
        open(agent, first.peer.path());
        open(agent, second.peer.path());
        quint8 buf[UartAgent::RecvBufSize] = {};
        quint32 len = 0;
        QCOMPARE(agent.sendRecv(Request, 10, buf, &len, 1000), 1);
        QCOMPARE(second.peer.frames().size(), 1);
        QCOMPARE(first.peer.frames().size(), 0);
    }

    void destructorClosesOnlyAnOpenPort()
    {
        ScriptedPeer s;
        LogCapture log;
        {
            UartAgent opened;
            UartAgent never;
            open(opened, s.peer.path());
        }
        QCOMPARE(log.lines().count(QStringLiteral("~UartAgent close")), 2);
        QCOMPARE(
            log.lines().count(QStringLiteral("close uart \"%1\"  sucess").arg(s.peer.path())), 1);
    }

    // The only cases here that wait out the 1000 ms reply time-out.
    void silentPeer()
    {
        ScriptedPeer s;
        UartAgent agent;
        open(agent, s.peer.path());
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
        ScriptedPeer s;
        s.answer(PtyPeer::Reply{QByteArray(), CardReply::fe(7), 1100});
        UartAgent agent;
        open(agent, s.peer.path());
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
