// The real rfcard against rfcard-sim playing each card: what a run puts on
// the line, what a read-back prints, what is stored, and what rfcard promises
// operators whatever happens around it: a card that vanishes, is held by
// another process, answers late, never or nonsense, and settings that are
// locked, still let every run end, save and exit as usual. Crowds, kills and
// damaged or special settings files are tried by tests/torture.sh and the
// store's own tests. Then the simulator's links.

#include "simprocess.h"
#include "toolrun.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QString NoPort = QStringLiteral("/nonexistent/rfcard-e2e");
const QString Ch1 = QStringLiteral("RFCardParser ch1");

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    // Runs of one rfcard, " ; " between two (and 400 ms), against a
    // simulator started with `sim` (a port that cannot exist when it is
    // empty): what the card understood, request by request; the report the last
    // run printed (compact here, as rfcard indents it there); what it said
    // on standard error ("!": did not say); and what channel 0 keeps
    // afterwards. A member of the report given as null can have any value
    // (a late reply may be taken for that query's answer). The rows that
    // wait for the one-second time-out come last.
    // clang-format off
    void runs_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("runs");
        QTest::addColumn<QStringList>("notes");
        QTest::addColumn<QString>("report");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QString>("stored"); // KEY=TEXT
        const QStringList vnRead{"get freq ch0 = 1000000", "get gaincode ch0 = 90", "get temp ch0 = 250", "get ifout ch0 = 0", "get type ch0 = 1"};
        QTest::newRow("vn2810") << "--family vn" << "--card vn2810 --ch 1 --freq 1500 --gain 12.5 --outfreq 21.4" << QStringList{"set freq ch1 = 1500000", "set gaincode ch1 = 65", "set ifout ch1 = 1"} << "" << "" << "";
        QTest::newRow("vn2810 output 70") << "--family vn" << "--card vn2810 --freq 20 --gain 40 --outfreq 70" << QStringList{"set freq ch0 = 20000", "set gaincode ch0 = 10", "set ifout ch0 = 0"} << "" << "" << "freq=20000.000";
        QTest::newRow("vn2810 no such output") << "--family vn" << "--card vn2810 --outfreq 735" << QStringList{"set freq ch0 = 1000000", "set gaincode ch0 = 90"} << "" << "" << "";
        QTest::newRow("vn2810 stops at freq") << "--family vn" << "--card vn2810 --freq 3000.001" << QStringList{} << "" << "" << "";
        QTest::newRow("vn2810 stops at gain") << "--family vn" << "--card vn2810 --gain 40.5" << QStringList{"set freq ch0 = 1000000"} << "" << "" << "";
        QTest::newRow("jq5140 rf gain") << "--family jq" << "--card jq5140 --ch 2 --freq 1500 --gain 20 --workmode 0 --ref 1 --outfreq 140" << QStringList{"set workmode ch2 = 0", "set freq ch2 = 1500000", "set rfatt ch2 = 20", "set ref ch0 = 1", "set ifout ch2 = 1"} << "" << "" << "";
        QTest::newRow("jq5140 if gain") << "--family jq" << "--card jq5140 --ch 3 --gain 20 --workmode 1" << QStringList{"set workmode ch3 = 1", "set freq ch3 = 1000000", "set ifadjatt ch3 = 30", "set ref ch0 = 0", "set ifout ch3 = 0"} << "" << "" << "";
        QTest::newRow("jq5140 stops at freq") << "--family jq" << "--card jq5140 --freq 3000" << QStringList{"set workmode ch0 = 0"} << "" << "" << "";
        QTest::newRow("jq5140 gain over range goes on") << "--family jq" << "--card jq5140 --gain 40" << QStringList{"set workmode ch0 = 0", "set freq ch0 = 1000000", "set ref ch0 = 0", "set ifout ch0 = 0"} << "" << "" << "";
        QTest::newRow("jq5140 given gain2 rounds") << "--family jq" << "--card jq5140 --gain 12.75" << QStringList{"set workmode ch0 = 0", "set freq ch0 = 1000000", "set rfatt ch0 = 34", "set ref ch0 = 0", "set ifout ch0 = 0"} << "" << "" << "";
        // A stored "25.5" is a text that is not a whole number: it counts as 0.
        QTest::newRow("jq5140 stored gain2 does not") << "--family jq" << "--card none --gain 12.75 ; --card jq5140" << QStringList{"set workmode ch0 = 0", "set freq ch0 = 1000000", "set rfatt ch0 = 60", "set ref ch0 = 0", "set ifout ch0 = 0"} << "" << "" << "gain2=25.5";
        QTest::newRow("jq5140 no such output") << "--family jq" << "--card jq5140 --outfreq 21.4" << QStringList{"set workmode ch0 = 0", "set freq ch0 = 1000000", "set rfatt ch0 = 60", "set ref ch0 = 0"} << "" << "" << "";
        QTest::newRow("jq5120") << "--family jq" << "--card jq5120 --ch 1 --freq 1000 --gain 20.5 --ref 0 --band 1 --outfreq 140" << QStringList{"set freq ch1 = 1000000", "set ifatt ch1 = 39", "set rfatt ch1 = 40", "set ref ch0 = 0", "set ifband ch1 = 1"} << "" << "" << "";
        QTest::newRow("jq5120 stops at gain") << "--family jq" << "--card jq5120 --gain 40.5" << QStringList{"set freq ch0 = 1000000"} << "" << "" << "";
        QTest::newRow("klr620 mode 0") << "--family klr" << "--card klr620 --ch 1 --freq 1500 --gain 12.9 --workmode 0 --band 3" << QStringList{"set freq ch1 = 1500000", "set workmode ch1 = 0", "set rfatt ch1 = 18", "set ifatt ch1 = 0", "set band ch1 = 3"} << "" << "" << "";
        QTest::newRow("klr620 mode 1") << "--family klr" << "--card klr620 --ch 3 --freq 6000 --gain 10 --workmode 1 --band 2" << QStringList{"set freq ch3 = 6000000", "set workmode ch3 = 1", "set rfatt ch3 = 30", "set ifatt ch3 = 5", "set band ch3 = 2"} << "" << "" << "";
        QTest::newRow("klr620 refused band still set run") << "--family klr" << "--card klr620 --band 1" << QStringList{"set freq ch0 = 1000000", "set workmode ch0 = 0", "set rfatt ch0 = 30", "set ifatt ch0 = 0"} << "" << "" << "band=1";
        QTest::newRow("lower-case stored name sends nothing") << "--family vn" << "--card vn2810a" << QStringList{} << "" << "" << "";
        // Garbage has the right length but no reply code: every value reads 0.
        QTest::newRow("klr620 answering garbage") << "--family klr --fault garbage" << "--card klr620 --freq 1500 --gain 10 --band 3 ; --part 1" << QStringList{"set freq ch0 = 1500000", "set workmode ch0 = 0", "set rfatt ch0 = 20", "set ifatt ch0 = 0", "set band ch0 = 3", "get freq ch0 = 1500000", "get workmode ch0 = 0", "get ifatt ch0 = 0", "get rfatt ch0 = 20", "get band ch0 = 3", "get warning ch0 = 0"} << R"({"band": "0", "ch": "0", "freq": "0.000", "gain": "30", "warning": "0", "workmode": "0"})" << "" << "band=3";
        QTest::newRow("vn2810 unplugged while set") << "--family vn --unplug-after 1" << "--card vn2810 --freq 1500 --gain 10" << QStringList{"set freq ch0 = 1500000"} << "" << "VNLModule::lSetInterface Ret error:" << "gain=10";
        // With no port the set commands still go on to the last (the output
        // select), which fails like every one before it.
        QTest::newRow("jq5140 set, no port") << "" << "--card jq5140 --freq 1500" << QStringList{} << "" << "\"fe 03 0c 00 00 00 00 00 0f fa\"\nerror: uart send not finished\n.\nJQFLModule::lSetInterface Ret error: -4" << "freq=1500000.000";
        QTest::newRow("vn2810 read-back, no port") << "" << "--card vn2810 --part 1" << QStringList{} << R"({"ch": "0", "freq": "", "gain": "45.5", "hardch": "", "outfreq": "", "temp": ""})" << "" << "";
        QTest::newRow("jq5140 read-back, no port") << "" << "--card jq5140 --part 1" << QStringList{} << R"({"ch": "0", "freq": "", "gain": "", "outfreq": "", "power": "0", "ref": "", "temp": "", "workmode": ""})" << "" << "";
        QTest::newRow("vn2810 silent on one query") << "--family vn --fault no-reply:13" << "--card vn2810 --part 1" << vnRead << R"({"ch": "0", "freq": "1000.000", "gain": "0.0", "hardch": "1", "outfreq": "0", "temp": ""})" << "VNLModule::lSetInterface Ret error: -5" << "";
        QTest::newRow("jq5120 set, silent card") << "--family jq --fault no-reply:2" << "--card jq5120 --freq 1200" << QStringList{"set freq ch0 = 1200000", "set ifatt ch0 = 60", "set rfatt ch0 = 60", "set ref ch0 = 0", "set ifband ch0 = 0"} << "" << "" << "freq=1200000.000";
        QTest::newRow("vn2810 just under the time-out") << "--family vn --fault late:13 --late-ms 500" << "--card vn2810 --part 1" << vnRead << R"({"ch": "0", "freq": "1000.000", "gain": "0.0", "hardch": "1", "outfreq": "0", "temp": "25"})" << "" << "";
        QTest::newRow("vn2810 just over the time-out") << "--family vn --fault late:13 --late-ms 2000" << "--card vn2810 --part 1" << vnRead << R"({"ch": "0", "freq": "1000.000", "gain": "0.0", "hardch": null, "outfreq": null, "temp": ""})" << "" << "";
        // A reply that comes after its command timed out, and after its run
        // ended, is still on the line when the next run starts; it must not
        // be taken for the answer to that run's first command.
        QTest::newRow("late reply, next run") << "--family vn --fault late:16 --late-ms 1100" << "--card vn2810 --part 1 ; --card vn2810 --freq 1200" << vnRead + QStringList{"set freq ch0 = 1200000", "set gaincode ch0 = 90", "set ifout ch0 = 0"} << "" << "!Ret error" << "";
    }
    // clang-format on
    void runs()
    {
        QFETCH(QString, sim);
        QFETCH(QString, runs);
        QFETCH(QStringList, notes);
        QFETCH(QString, report);
        QFETCH(QString, err);
        QFETCH(QString, stored);
        ToolRun tool;
        QScopedPointer<SimProcess> card(sim.isEmpty() ? nullptr : new SimProcess(words(sim)));
        ToolRun::Result r;
        for (const QString &args : runs.split(QStringLiteral(" ; "))) {
            // The next run starts once a reply that came late has arrived.
            if (r.status == 0 && sim.contains(QLatin1String("late")))
                QVERIFY(card->waitForFault());
            r = tool.on(card ? card->device() : NoPort, args);
            QCOMPARE(r.status, 0);
        }
        // Where a late reply may be taken for the next query's, rfcard may say
        // so on standard output before the report.
        const QByteArray out = r.out.mid(report.contains("null") ? r.out.indexOf("{\n") : 0);
        const QJsonObject printed = QJsonDocument::fromJson(out).object();
        QCOMPARE(out, report.isEmpty() ? QByteArray() : QJsonDocument(printed).toJson() + '\n');
        const QJsonObject want = QJsonDocument::fromJson(report.toUtf8()).object();
        QCOMPARE(printed.keys(), want.keys());
        for (auto it = want.begin(); it != want.end(); ++it) {
            if (!it.value().isNull())
                QCOMPARE(printed.value(it.key()), it.value());
        }
        const bool said = !err.startsWith('!');
        QVERIFY2(r.err.contains(err.mid(said ? 0 : 1).toUtf8()) == said, r.err.constData());
        QVERIFY(tool.hasSettings());
        if (!stored.isEmpty())
            QCOMPARE(tool.stored(Ch1, stored.section('=', 0, 0)), stored.section('=', 1));
        const QByteArray trace = card ? card->stop() : QByteArray();
        QVERIFY2(SimProcess::notes(trace) == notes, (trace + r.err).right(3000).constData());
    }

    // A run that finds the lock held waits for it, then merges its own texts
    // over what the holder saved meanwhile.
    void waitsForTheLockThenMerges()
    {
        ToolRun tool;
        tool.writeSettings(R"({"RFCardParser ch2": {"gain": "7"}})");
        const QByteArray lock = QFile::encodeName(tool.dir() + "/rfcard.json.lock");
        const int fd = ::open(lock.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX), 0);
        QProcess run;
        run.start(tool.exe(), {"--card", "none", "--com", NoPort, "--gain", "3"});
        QTRY_VERIFY_WITH_TIMEOUT(someoneWaitsFor(fd), 60000); // the run waits for the lock
        tool.writeSettings(R"({"RFCardParser ch2": {"gain": "8"}})");
        ::close(fd);
        QVERIFY(run.waitForFinished(10000));
        QCOMPARE(run.exitCode(), 0);
        const QByteArray err = run.readAllStandardError();
        QVERIFY2(!err.contains("warning"), err.constData());
        QCOMPARE(tool.stored(Ch1, QStringLiteral("gain")), QStringLiteral("3"));
        QCOMPARE(tool.stored(QStringLiteral("RFCardParser ch2"), QStringLiteral("gain")),
            QStringLiteral("8"));
    }

    // rfcard-sim --link: a left-over link is replaced; the link leads to
    // the simulator's device and rfcard stores it as typed; a link to
    // another simulator's live device is not taken over; at exit a
    // simulator removes its link only while it still leads to its own
    // device.
    void simulatorLinks()
    {
        ToolRun tool;
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("card0"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("pts-of-a-killed-simulator")), link));
        SimProcess first(words("--family klr --link " + link));
        QCOMPARE(QFileInfo(link).symLinkTarget(), first.device());
        const ToolRun::Result r = tool.on(link, QStringLiteral("--card klr620 --part 1"));
        QVERIFY2(r.out.contains(R"("band": "2")"), r.out.constData());
        QCOMPARE(tool.stored(QStringLiteral("system"), QStringLiteral("端口号")), link);
        QProcess second;
        second.start(QStringLiteral(RFCARD_SIM_BIN), words("--family jq --link " + link));
        QVERIFY(second.waitForFinished(5000));
        QCOMPARE(second.exitCode(), 2);
        QCOMPARE(second.readAllStandardOutput(), QByteArray());
        QVERIFY(second.readAllStandardError().contains(
            " leads to " + first.device().toUtf8() + ", a device that is in use"));
        QCOMPARE(QFileInfo(link).symLinkTarget(), first.device());
        first.stop();
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());

        SimProcess third(words("--family vn --link " + link));
        const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QFile::remove(link) && QFile::link(elsewhere, link));
        third.stop();
        QCOMPARE(QFileInfo(link).symLinkTarget(), elsewhere);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
