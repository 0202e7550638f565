// The serial agent over a real pseudo-terminal with a peer on the other end.

#include "capture.h"
#include "ptypeer.h"
#include "serial/runevents.h"
#include "serial/uartagent.h"

#include <QtTest>

#include <dlfcn.h>
#include <poll.h>

#include <functional>

namespace {

// How long the agent is prepared to wait for the rest of a reply is seen
// where it waits: while a watch is set, every wait of the test's thread goes
// through the ppoll() below, in which Qt Serial Port waits. A wait after one
// that found bytes to read is a wait for the rest of a reply, and the watch
// hears how long it may last before it begins: a peer can then let a held
// tail in while the agent would still be waiting for it, or keep it back
// until the wait is over, without a clock.
struct WaitWatch {
    std::function<void(int ms)> beforeWaitForRest;
    bool bytesSeen = false;
    int waitsForRest = 0;
};
thread_local WaitWatch *t_Watch = nullptr;

} // namespace

extern "C" int ppoll(pollfd *fds, nfds_t nfds, const timespec *timeout, const sigset_t *sigmask)
{
    using Ppoll = int (*)(pollfd *, nfds_t, const timespec *, const sigset_t *);
    static const auto next = reinterpret_cast<Ppoll>(::dlsym(RTLD_NEXT, "ppoll"));
    WaitWatch *watch = t_Watch;
    if (watch && watch->bytesSeen && timeout) {
        ++watch->waitsForRest;
        watch->beforeWaitForRest(int(timeout->tv_sec * 1000 + timeout->tv_nsec / 1000000));
    }
    const int ready = next(fds, nfds, timeout, sigmask);
    for (nfds_t i = 0; watch && ready > 0 && i < nfds; ++i)
        watch->bytesSeen = watch->bytesSeen || (fds[i].revents & POLLIN);
    return ready;
}

namespace {

const quint8 Request[10] = {0xFE, 1, 2, 0, 0, 0, 0, 1, 2, 0xFA};

// A card on a pseudo-terminal and an agent with the card line open on it.
struct Line {
    explicit Line(int frameSize)
        : peer(frameSize)
    {
        agent.openPort(peer.path(), 115200, 8, 0, 1, 0);
    }
    // One exchange into a cleared buffer: JQ and VN exchange through
    // sendRecv, KLR queries (8 bytes) through sendRecvCapped.
    int exchange(int frameSize, quint32 timeoutMs = 1000)
    {
        std::fill(std::begin(buf), std::end(buf), quint8(0));
        return frameSize == 10
            ? agent.sendRecv(Request, 10, buf, &len, timeoutMs)
            : agent.sendRecvCapped(Request, frameSize, buf, sizeof buf, &len, timeoutMs);
    }
    QByteArray received() const
    {
        return QByteArray(reinterpret_cast<const char *>(buf), int(std::min(len, 20u)));
    }

    PtyPeer peer;
    UartAgent agent;
    quint8 buf[UartAgent::RecvBufSize] = {};
    quint32 len = 0;
};

} // namespace

class TestUartAgent : public QObject {
    Q_OBJECT

private slots:
    void longReplyIsCutButCounted()
    {
        Line line(10);
        line.peer.answer({QByteArray(25, 'x')});
        quint8 buf[UartAgent::RecvBufSize + 4] = {};
        auto &window = reinterpret_cast<quint8(&)[UartAgent::RecvBufSize]>(buf);
        QCOMPARE(line.agent.sendRecv(Request, 10, window, &line.len, 1000), 1);
        QCOMPARE(line.len, 25u);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buf), 24),
            QByteArray(20, 'x') + QByteArray(4, '\0'));

        quint8 capped[16] = {};
        line.len = 0;
        QCOMPARE(line.agent.sendRecvCapped(Request, 10, capped, 8, &line.len, 1000), 1);
        QCOMPARE(line.len, 25u);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(capped), 16),
            QByteArray(8, 'x') + QByteArray(8, '\0'));
    }

    // A real driver hands a reply over in pieces: a 16550 at its FIFO trigger
    // of 8 bytes and the rest after its character time-out, a USB adapter at
    // each tick of its latency timer. Pieces close together make one reply;
    // quiet of 50 ms or more ends it, and what came is what the protocol's
    // length check gets. A tail that comes after such quiet is held by the
    // peer until the agent begins to wait for it, and let in there when the
    // agent means to wait longer than the tail's pause, or after the
    // exchange otherwise: the outcome depends on how long the agent waits,
    // not on how fast the machine is.
    void readsAReplyWhole_data()
    {
        QTest::addColumn<int>("frameSize");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("pieceSize");
        QTest::addColumn<int>("gapUs"); // between pieces, slept by the peer
        QTest::addColumn<int>("tailMs"); // -1: no held tail
        QTest::addColumn<int>("receivedLen");

        const QByteArray fe = CardReply::fe(2, CardReply::hex("0f4240"));
        const QByteArray klr = CardReply::klr(0xB2, CardReply::hex("0016e360"));
        QTest::newRow("fe 8+2, 0.5 ms") << 10 << fe << 8 << 500 << -1 << 10;
        QTest::newRow("fe 9+1, 20 ms") << 10 << fe << 9 << 20000 << -1 << 10;
        QTest::newRow("fe byte by byte, 1 ms") << 10 << fe << 1 << 1000 << -1 << 10;
        QTest::newRow("klr 4+4, 0.5 ms") << 8 << klr << 4 << 500 << -1 << 8;
        QTest::newRow("klr 7+1, 20 ms") << 8 << klr << 7 << 20000 << -1 << 8;
        QTest::newRow("klr byte by byte, 1 ms") << 8 << klr << 1 << 1000 << -1 << 8;
        QTest::newRow("fe 6+4, 50 ms: short") << 10 << fe << 6 << 0 << 50 << 6;
        QTest::newRow("fe 6+4, 80 ms: short") << 10 << fe << 6 << 0 << 80 << 6;
        QTest::newRow("klr 4+4, 50 ms: short") << 8 << klr << 4 << 0 << 50 << 4;
        QTest::newRow("klr 7+1, 80 ms: short") << 8 << klr << 7 << 0 << 80 << 7;
        QTest::newRow("fe 6+4, after the time-out: short") << 10 << fe << 6 << 0 << 1000 << 6;
        QTest::newRow("fe really short") << 10 << fe.left(9) << 0 << 0 << -1 << 9;
        QTest::newRow("klr really short") << 8 << klr.left(7) << 0 << 0 << -1 << 7;
        QTest::newRow("fe long") << 10 << fe + fe.left(2) << 0 << 0 << -1 << 12;
        QTest::newRow("fe long, 8+4") << 10 << fe + fe.left(2) << 8 << 500 << -1 << 12;
        QTest::newRow("klr long") << 8 << klr + "}" << 0 << 0 << -1 << 9;
    }

    void readsAReplyWhole()
    {
        QFETCH(int, frameSize);
        QFETCH(QByteArray, reply);
        QFETCH(int, pieceSize);
        QFETCH(int, gapUs);
        QFETCH(int, tailMs);
        QFETCH(int, receivedLen);
        const bool heldTail = tailMs >= 0;
        Line line(frameSize);
        line.peer.answer({reply, 0, pieceSize, gapUs, heldTail ? pieceSize : -1});

        bool tailLetIn = false;
        WaitWatch watch;
        watch.beforeWaitForRest = [&](int ms) {
            if (heldTail && !tailLetIn && ms > tailMs) {
                tailLetIn = true; // it comes while the agent still waits
                line.peer.release();
            }
        };
        QElapsedTimer timer;
        timer.start();
        t_Watch = &watch;
        const int result = line.exchange(frameSize);
        t_Watch = nullptr;
        QCOMPARE(result, 1);
        if (!heldTail && line.peer.longestGapMs() >= 50)
            QSKIP("the peer was held up longer than the gap between pieces");
        QCOMPARE(int(line.len), receivedLen);
        QCOMPARE(line.received(), reply.left(receivedLen));
        // The agent did wait for the held tail (a reply shorter than its
        // frame is only given up after the line has been quiet for the whole
        // gap: a lower bound, which cannot flake).
        if (heldTail)
            QVERIFY(watch.waitsForRest > 0);
        if (receivedLen < frameSize)
            QVERIFY(timer.elapsed() >= 50);

        // The next exchange gets its own reply: nothing of this one is left
        // to spoil it. A tail the card sent after the gap has to be let in
        // first, as it would spoil any exchange in its way.
        if (heldTail && !tailLetIn)
            line.peer.release();
        line.peer.waitForReplies(1);
        const QByteArray next = frameSize == 10 ? CardReply::fe(7) : CardReply::klr(0xB7);
        line.peer.answer({next});
        QCOMPARE(line.exchange(frameSize), 1);
        QCOMPARE(line.received(), next);
        QCOMPARE(int(line.len), frameSize);
    }

    void timeoutZeroWritesWithoutReading()
    {
        Line line(8);
        line.peer.answer({CardReply::klr(0xB2)});
        LogCapture log;
        line.len = 77;
        QCOMPARE(line.exchange(8, 0), 1);
        QVERIFY(log.contains(QStringLiteral("ready1 =  true")));
        QCOMPARE(line.len, 77u);
        QVERIFY(line.peer.waitForFrames(1));
    }

    void portThatIsNotOpenFailsTheWrite()
    {
        UartAgent agent;
        LogCapture log;
        agent.openPort(QStringLiteral("/nonexistent/rfcard-port"), 115200, 8, 0, 1, 0);
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
        PtyPeer peer(10);
        UartAgent agent;
        LogCapture log;
        agent.openPort(QString(), 115200, 8, 0, 1, 0);
        QCOMPARE(agent.portName(), QString());
        agent.openPort(peer.path(), 0, 8, 0, 1, 0);
        agent.openPort(peer.path(), 460801, 8, 0, 1, 0);
        QCOMPARE(agent.portName(), peer.path());
        QVERIFY(!agent.isOpen());
        QVERIFY(log.lines().isEmpty());
        agent.openPort(peer.path(), 460800, 8, 0, 1, 0);
        QVERIFY(agent.isOpen());
        QVERIFY(log.contains(QStringLiteral("open uart \"%1\" sucess").arg(peer.path())));
        agent.openPort(peer.path(), 1, 8, 0, 1, 0);
        QVERIFY(agent.isOpen());
    }

    void reopeningMovesToTheNewPort()
    {
        PtyPeer second(10);
        second.answer({CardReply::fe(2)});
        Line line(10);
        line.agent.openPort(second.path(), 115200, 8, 0, 1, 0);
        QCOMPARE(line.exchange(10), 1);
        QCOMPARE(second.frames().size(), 1);
        QCOMPARE(line.peer.frames().size(), 0);
    }

    // A program that keeps a port open (rfcardd) asks before each use
    // whether the line is still there: the device it holds must be the one
    // the name leads to now. A name pointed at another device (an adapter
    // plugged in again, a link changed) leaves a descriptor that still works,
    // on the wrong line.
    void lineLost_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("lost");
        QTest::newRow("nothing changed") << "none" << false;
        QTest::newRow("the name leads to another device") << "relink" << true;
        QTest::newRow("the name is gone") << "remove" << true;
    }
    void lineLost()
    {
        QFETCH(QString, change);
        QFETCH(bool, lost);
        PtyPeer card(10);
        PtyPeer other(10);
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("port"));
        QVERIFY(QFile::link(card.path(), link));
        UartAgent agent;
        agent.openPort(link, 115200, 8, 0, 1, 0);
        QVERIFY(agent.isOpen() && !agent.lineLost());
        if (change != QLatin1String("none"))
            QVERIFY(QFile::remove(link));
        if (change == QLatin1String("relink"))
            QVERIFY(QFile::link(other.path(), link));
        QCOMPARE(agent.lineLost(), lost);
    }

    void destructorClosesOnlyAnOpenPort()
    {
        PtyPeer peer(10);
        LogCapture log;
        {
            UartAgent opened;
            UartAgent never;
            opened.openPort(peer.path(), 115200, 8, 0, 1, 0);
        }
        QCOMPARE(log.lines().count(QStringLiteral("~UartAgent close")), 2);
        QCOMPARE(
            log.lines().count(QStringLiteral("close uart \"%1\"  sucess").arg(peer.path())), 1);
        QVERIFY(!log.contains(QStringLiteral("close uart \"\"")));
    }

    // The only cases here that wait out the 1000 ms reply time-out.
    void silentPeer()
    {
        // A reply that comes after the time-out is not taken for the next
        // one: the second request gets its own answer, not the stale bytes
        // still waiting on the line.
        Line line(10);
        line.peer.answer({CardReply::fe(7), 0, 0, 0, 0});
        QCOMPARE(line.exchange(10), -5);
        line.peer.release();
        line.peer.answer({CardReply::fe(2)});
        QCOMPARE(line.exchange(10), 1);
        QCOMPARE(int(line.buf[2]), 2);

        // Every missing reply is reported, also the KLR query's, for which
        // the agent logs no line (its module says so itself).
        line.peer.answer({});
        LogCapture log;
        QStringList heard;
        RunEvents::setSink([&](const RunEvents::Event &e) {
            heard << QString::number(e.kind) + QLatin1Char(' ') + e.line;
        });
        line.len = 42;
        QCOMPARE(line.exchange(10), -5);
        QVERIFY(log.contains(QStringLiteral("error: uart RF recv error, recv len == 0")));
        QCOMPARE(line.len, 42u);
        QCOMPARE(line.exchange(8), 1);
        QCOMPARE(line.len, 42u);
        RunEvents::setSink(nullptr);
        const QString noReply = QString::number(RunEvents::NoReply) + QLatin1Char(' ');
        QCOMPARE(heard,
            QStringList(
                {noReply + QStringLiteral("error: uart RF recv error, recv len == 0"), noReply}));
    }
};

QTEST_GUILESS_MAIN(TestUartAgent)
#include "tst_uartagent.moc"
