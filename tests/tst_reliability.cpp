// What rfcard promises operators whatever happens around it: a run that finds
// the settings locked waits and merges, and a card that vanishes, is held by
// another process, answers late or answers nonsense still lets every run end,
// save and exit as usual. Crowds, kills and damaged or special settings files
// are tried by tests/torture.sh and the store's own tests.

#include "simprocess.h"
#include "toolrun.h"

#include <QFile>
#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QString NoPort = QStringLiteral("/nonexistent/rfcard-reliability");

QString channel(int ch)
{
    return QStringLiteral("RFCardParser ch%1").arg(ch + 1);
}

} // namespace

class TestReliability : public QObject {
    Q_OBJECT

private slots:
    // A run that finds the lock held waits for it, then merges its own texts
    // over what the holder saved meanwhile.
    void waitsForTheLockThenMerges()
    {
        ToolRun tool;
        tool.writeSettings(R"({"RFCardParser ch2": {"gain": "7"}})");
        const QByteArray lockPath = QFile::encodeName(tool.dir() + "/rfcard.json.lock");
        const int fd = ::open(lockPath.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX), 0);
        QProcess run;
        run.start(tool.exe(), words(QStringLiteral("--card none --com %1 --gain 3").arg(NoPort)));
        QVERIFY(!run.waitForFinished(700)); // still waiting for the lock
        tool.writeSettings(R"({"RFCardParser ch2": {"gain": "8"}})");
        ::close(fd);
        QVERIFY(run.waitForFinished(10000));
        QCOMPARE(run.exitCode(), 0);
        const QByteArray err = run.readAllStandardError();
        QVERIFY2(!err.contains("warning"), err.constData());
        QCOMPARE(tool.stored(channel(0), QStringLiteral("gain")), QStringLiteral("3"));
        QCOMPARE(tool.stored(channel(1), QStringLiteral("gain")), QStringLiteral("8"));
    }

    void cardUnpluggedInTheMiddleOfARun()
    {
        ToolRun tool;
        SimProcess sim(words(QStringLiteral("--family vn --unplug-after 1")));
        const ToolRun::Result r = tool.run(QStringList{QStringLiteral("--com"), sim.device()}
            + words(QStringLiteral("--card vn2810 --freq 1500 --gain 10")));
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.contains("VNLModule::lSetInterface Ret error:"), r.err.constData());
        QCOMPARE(tool.stored(channel(0), QStringLiteral("gain")), QStringLiteral("10"));
    }

    void portHeldByAnotherProcess()
    {
        ToolRun first;
        ToolRun second;
        // A card that never answers keeps the first run on the port for
        // three time-outs.
        SimProcess sim(words(QStringLiteral("--family vn --fault no-reply")));
        QProcess holder;
        holder.start(first.exe(),
            QStringList{QStringLiteral("--com"), sim.device()}
                + words(QStringLiteral("--card vn2810")));
        QVERIFY(holder.waitForStarted());
        QTest::qWait(500);
        const ToolRun::Result r = second.run(QStringList{QStringLiteral("--com"), sim.device()}
            + words(QStringLiteral("--card vn2810 --gain 3")));
        QCOMPARE(r.status, 0);
        QVERIFY2(
            r.err.contains(QStringLiteral("open uart \"%1\" failed").arg(sim.device()).toUtf8()),
            r.err.constData());
        QCOMPARE(second.stored(channel(0), QStringLiteral("gain")), QStringLiteral("3"));
        QVERIFY(holder.waitForFinished(10000));
        QCOMPARE(holder.exitCode(), 0);
    }

    // clang-format off
    void slowCard_data()
    {
        QTest::addColumn<int>("lateMs");
        QTest::addColumn<QString>("temp");
        QTest::newRow("just under the time-out") << 900 << "25";
        QTest::newRow("just over the time-out") << 1100 << "";
    }
    // clang-format on
    void slowCard()
    {
        QFETCH(int, lateMs);
        QFETCH(QString, temp);
        ToolRun tool;
        SimProcess sim(
            words(QStringLiteral("--family vn --fault late:13 --late-ms %1").arg(lateMs)));
        const ToolRun::Result r = tool.run(QStringList{QStringLiteral("--com"), sim.device()}
            + words(QStringLiteral("--card vn2810 --part 1")));
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains(QStringLiteral("\"temp\": \"%1\"").arg(temp).toUtf8()),
            r.out.constData());
        QVERIFY(r.out.contains(R"("freq": "1000.000")"));
        QVERIFY(tool.hasSettings());
    }

    // A reply that comes after its command timed out, and after its run
    // ended, is still on the line when the next run starts; it must not be
    // taken for the answer to that run's first command.
    void lateReplyIsNotTheNextAnswer()
    {
        ToolRun tool;
        SimProcess sim(words(QStringLiteral("--family vn --fault late:16 --late-ms 1100")));
        const QStringList port{QStringLiteral("--com"), sim.device()};
        ToolRun::Result r = tool.run(port + words(QStringLiteral("--card vn2810 --part 1")));
        QVERIFY(r.out.contains(R"("hardch": "")"));
        QTest::qWait(400); // the late answer arrives meanwhile
        r = tool.run(port + words(QStringLiteral("--card vn2810 --freq 1200")));
        QCOMPARE(r.status, 0);
        QVERIFY2(!r.out.contains("Parameter error"), r.out.constData());
        QVERIFY2(!r.err.contains("Ret error"), r.err.constData());
        const QStringList notes = SimProcess::notes(sim.stop());
        QCOMPARE(notes.mid(5),
            QStringList({"set freq ch0 = 1200000", "set gaincode ch0 = 90", "set ifout ch0 = 0"}));
    }

    void cardAnsweringGarbage()
    {
        ToolRun tool;
        SimProcess sim(words(QStringLiteral("--family klr --fault garbage")));
        const QStringList port{QStringLiteral("--com"), sim.device()};
        ToolRun::Result r = tool.run(
            port + words(QStringLiteral("--card klr620 --freq 1500 --gain 10 --band 3")));
        QCOMPARE(r.status, 0);
        QCOMPARE(tool.stored(channel(0), QStringLiteral("band")), QStringLiteral("3"));
        r = tool.run(port + words(QStringLiteral("--part 1")));
        QCOMPARE(r.status, 0);
        // Garbage has the right length but no reply code: every value reads 0.
        QVERIFY2(r.out.contains(R"("freq": "0.000")"), r.out.constData());
    }
};

QTEST_GUILESS_MAIN(TestReliability)
#include "tst_reliability.moc"
