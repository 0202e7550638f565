// What rfcard promises operators whatever happens around it: concurrent runs
// lose no setting, a damaged or unwritable settings file is reported and
// kept, and a card that vanishes, is held by another process, answers late
// or answers nonsense still lets every run end, save and exit as usual.

#include "simprocess.h"
#include "toolrun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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
    void concurrentRunsLoseNothing()
    {
        ToolRun tool;
        for (int round = 0; round < 3; ++round) {
            // Eight runs at once: every channel gets a gain from one run and
            // a reference from another.
            std::vector<std::unique_ptr<QProcess>> runs;
            for (int ch = 0; ch < 4; ++ch) {
                for (const QString &option :
                    {QStringLiteral("--gain %1.5"), QStringLiteral("--upgain %1")}) {
                    auto p = std::make_unique<QProcess>();
                    p->start(tool.exe(),
                        words(QStringLiteral("--card none --com %1 --ch %2 ").arg(NoPort).arg(ch)
                            + option.arg(round * 10 + ch)));
                    runs.push_back(std::move(p));
                }
            }
            for (auto &p : runs) {
                QVERIFY(p->waitForFinished(30000));
                QCOMPARE(p->exitCode(), 0);
            }
            for (int ch = 0; ch < 4; ++ch) {
                const int v = round * 10 + ch;
                QCOMPARE(tool.stored(channel(ch), QStringLiteral("gain")),
                    QStringLiteral("%1.5").arg(v));
                QCOMPARE(
                    tool.stored(channel(ch), QStringLiteral("gain2")), QString::number(v * 2 + 1));
                QCOMPARE(tool.stored(channel(ch), QStringLiteral("upgain")), QString::number(v));
            }
        }
    }

    void sameKeyAtOnceEndsWithOneOfTheValues()
    {
        ToolRun tool;
        std::vector<std::unique_ptr<QProcess>> runs;
        for (int gain = 1; gain <= 6; ++gain) {
            auto p = std::make_unique<QProcess>();
            p->start(tool.exe(),
                words(QStringLiteral("--card none --com %1 --gain %2").arg(NoPort).arg(gain)));
            runs.push_back(std::move(p));
        }
        for (auto &p : runs)
            QVERIFY(p->waitForFinished(30000));
        const int gain = tool.stored(channel(0), QStringLiteral("gain")).toInt();
        QVERIFY(gain >= 1 && gain <= 6);
        QCOMPARE(tool.stored(channel(0), QStringLiteral("gain2")), QString::number(gain * 2));
    }

    void damagedFileIsCopiedAndReported()
    {
        ToolRun tool;
        const QByteArray damaged = R"({"RFCardParser ch1": {"gain": "9"}, "RFCardParser ch2": )";
        tool.writeSettings(damaged);
        const ToolRun::Result r
            = tool.run(words(QStringLiteral("--card none --com %1 --ch 1 --gain 2").arg(NoPort)));
        QCOMPARE(r.status, 0);
        const QString file = QDir(tool.dir()).filePath(QStringLiteral("rfcard.json"));
        QVERIFY2(r.err.contains(
                     QStringLiteral("warning: settings file \"%1\" not JSON").arg(file).toUtf8()),
            r.err.constData());
        QVERIFY(r.err.contains(QStringLiteral("kept as \"%1.bad\"").arg(file).toUtf8()));
        QFile bad(file + QStringLiteral(".bad"));
        QVERIFY(bad.open(QIODevice::ReadOnly));
        QCOMPARE(bad.readAll(), damaged);
        QCOMPARE(tool.stored(channel(1), QStringLiteral("gain")), QStringLiteral("2"));
        QCOMPARE(tool.stored(channel(0), QStringLiteral("gain")), QStringLiteral("0"));
    }

    void failedSaveIsReportedAndTheStatusStays()
    {
        ToolRun tool;
        QVERIFY(QDir(tool.dir()).mkdir(QStringLiteral("rfcard.json")));
        const ToolRun::Result r
            = tool.run(words(QStringLiteral("--card none --com %1 --gain 2").arg(NoPort)));
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.contains(QStringLiteral("warning: cannot save settings to \"%1\" (not "
                                               "saved: system")
                                    .arg(QDir(tool.dir()).filePath(QStringLiteral("rfcard.json")))
                                    .toUtf8())
                && r.err.contains("RFCardParser ch1 gain=\"2\" gain2=\"4\"")
                && r.err.contains("is a folder, not a regular file"),
            r.err.constData());
    }

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

    // What a lock file holds does not matter, only whether a live process
    // holds the lock: the traces of killed runs and of older versions let
    // the next run save without a word.
    void leftoverLockFilesAreNoObstacle_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("garbage") << QByteArray("\x01\xff garbage");
        QTest::newRow("an old lock's process number") << QByteArray("999999\nrfcard\nhost\n");
    }

    void leftoverLockFilesAreNoObstacle()
    {
        QFETCH(QByteArray, content);
        ToolRun tool;
        QFile lock(tool.dir() + QStringLiteral("/rfcard.json.lock"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(content);
        lock.close();
        const ToolRun::Result r
            = tool.run(words(QStringLiteral("--card none --com %1 --gain 5").arg(NoPort)));
        QCOMPARE(r.status, 0);
        QVERIFY2(!r.err.contains("warning"), r.err.constData());
        QCOMPARE(tool.stored(channel(0), QStringLiteral("gain")), QStringLiteral("5"));
    }

    // Special files in place of the settings end every run promptly, --help
    // and --version included (a FIFO used to block them all).
    void specialSettingsFileEndsEveryRun_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::newRow("version") << words(QStringLiteral("--version")) << 0;
        QTest::newRow("help") << words(QStringLiteral("--help")) << 0;
        QTest::newRow("set run") << words(QStringLiteral("--card none --com %1").arg(NoPort)) << 0;
    }

    void specialSettingsFileEndsEveryRun()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        for (const char *kind : {"fifo", "zero"}) {
            ToolRun tool;
            const QString path = tool.dir() + QStringLiteral("/rfcard.json");
            if (qstrcmp(kind, "fifo") == 0)
                QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0666), 0);
            else
                QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
            const ToolRun::Result r = tool.run(args);
            QCOMPARE(r.status, status);
            QVERIFY2(r.err.contains("not a regular file"), r.err.constData());
        }
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
