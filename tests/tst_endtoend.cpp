// Whole runs of the real rfcard against rfcard-sim playing each card: what a
// set run puts on the line, what a read-back run prints, what is stored, and
// how injected trouble is reported.

#include "simprocess.h"
#include "toolrun.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray report(const QStringList &members)
{
    QByteArray json = "{\n";
    for (int i = 0; i < members.size(); ++i)
        json += "    " + members.at(i).toUtf8() + (i + 1 < members.size() ? ",\n" : "\n");
    return json + "}\n\n";
}

struct Run {
    ToolRun::Result result;
    QByteArray trace;
};

// Starts a simulator, runs the tool once per argument list against it, and
// stops the simulator; returns the last run and the whole trace.
Run runAgainst(const ToolRun &tool, const QString &simArgs, const QList<QStringList> &runs)
{
    SimProcess sim(words(simArgs));
    Run r;
    for (const QStringList &args : runs)
        r.result = tool.run(QStringList{QStringLiteral("--com"), sim.device()} + args);
    r.trace = sim.stop();
    return r;
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    // A set run per model: the requests in order and where a sequence stops.
    // clang-format off
    void setRuns_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("args");
        QTest::addColumn<QStringList>("notes");
        QTest::newRow("vn2810") << "--family vn" << "--card vn2810 --ch 1 --freq 1500 --gain 12.5 --outfreq 21.4"
            << QStringList{ "set freq ch1 = 1500000", "set gaincode ch1 = 65", "set ifout ch1 = 1" };
        QTest::newRow("vn2810 output 70") << "--family vn" << "--card vn2810 --freq 20 --gain 40 --outfreq 70"
            << QStringList{ "set freq ch0 = 20000", "set gaincode ch0 = 10", "set ifout ch0 = 0" };
        QTest::newRow("vn2810 no such output") << "--family vn" << "--card vn2810 --outfreq 735"
            << QStringList{ "set freq ch0 = 1000000", "set gaincode ch0 = 90" };
        QTest::newRow("vn2810 stops at freq") << "--family vn" << "--card vn2810 --freq 3000.001"
            << QStringList{};
        QTest::newRow("vn2810 stops at gain") << "--family vn" << "--card vn2810 --gain 40.5"
            << QStringList{ "set freq ch0 = 1000000" };
        QTest::newRow("jq5140 rf gain") << "--family jq" << "--card jq5140 --ch 2 --freq 1500 --gain 20 --workmode 0 --ref 1 --outfreq 140"
            << QStringList{ "set workmode ch2 = 0", "set freq ch2 = 1500000", "set rfatt ch2 = 20", "set ref ch0 = 1", "set ifout ch2 = 1" };
        QTest::newRow("jq5140 if gain") << "--family jq" << "--card jq5140 --ch 3 --gain 20 --workmode 1"
            << QStringList{ "set workmode ch3 = 1", "set freq ch3 = 1000000", "set ifadjatt ch3 = 30", "set ref ch0 = 0", "set ifout ch3 = 0" };
        QTest::newRow("jq5140 stops at freq") << "--family jq" << "--card jq5140 --freq 3000"
            << QStringList{ "set workmode ch0 = 0" };
        QTest::newRow("jq5140 gain over range goes on") << "--family jq" << "--card jq5140 --gain 40"
            << QStringList{ "set workmode ch0 = 0", "set freq ch0 = 1000000", "set ref ch0 = 0", "set ifout ch0 = 0" };
        QTest::newRow("jq5140 given gain2 rounds") << "--family jq" << "--card jq5140 --gain 12.75"
            << QStringList{ "set workmode ch0 = 0", "set freq ch0 = 1000000", "set rfatt ch0 = 34", "set ref ch0 = 0", "set ifout ch0 = 0" };
        QTest::newRow("jq5140 no such output") << "--family jq" << "--card jq5140 --outfreq 21.4"
            << QStringList{ "set workmode ch0 = 0", "set freq ch0 = 1000000", "set rfatt ch0 = 60", "set ref ch0 = 0" };
        QTest::newRow("jq5120") << "--family jq" << "--card jq5120 --ch 1 --freq 1000 --gain 20.5 --ref 0 --band 1 --outfreq 140"
            << QStringList{ "set freq ch1 = 1000000", "set ifatt ch1 = 39", "set rfatt ch1 = 40", "set ref ch0 = 0", "set ifband ch1 = 1" };
        QTest::newRow("jq5120 stops at gain") << "--family jq" << "--card jq5120 --gain 40.5"
            << QStringList{ "set freq ch0 = 1000000" };
        QTest::newRow("klr620 mode 0") << "--family klr" << "--card klr620 --ch 1 --freq 1500 --gain 12.9 --workmode 0 --band 3"
            << QStringList{ "set freq ch1 = 1500000", "set workmode ch1 = 0", "set rfatt ch1 = 18", "set ifatt ch1 = 0", "set band ch1 = 3" };
        QTest::newRow("klr620 mode 1") << "--family klr" << "--card klr620 --ch 3 --freq 6000 --gain 10 --workmode 1 --band 2"
            << QStringList{ "set freq ch3 = 6000000", "set workmode ch3 = 1", "set rfatt ch3 = 30", "set ifatt ch3 = 5", "set band ch3 = 2" };
        QTest::newRow("klr620 refused band still set run") << "--family klr" << "--card klr620 --band 1"
            << QStringList{ "set freq ch0 = 1000000", "set workmode ch0 = 0", "set rfatt ch0 = 30", "set ifatt ch0 = 0" };
        QTest::newRow("klr620 stops at freq") << "--family klr" << "--card klr620 --freq 6000.001"
            << QStringList{};
        QTest::newRow("lower-case stored name sends nothing") << "--family vn" << "--card vn2810a"
            << QStringList{};
    }
    // clang-format on
    void setRuns()
    {
        QFETCH(QString, sim);
        QFETCH(QString, args);
        QFETCH(QStringList, notes);
        ToolRun tool;
        const Run r = runAgainst(tool, sim, {words(args)});
        QCOMPARE(r.result.status, 0);
        QCOMPARE(SimProcess::notes(r.trace), notes);
        QVERIFY(tool.hasSettings());
    }

    void storedGainTextIsNotRounded()
    {
        // "gain2" typed into the file as 25.5 is a text that is not a whole
        // number: it counts as 0. Given on the command line it is a number.
        ToolRun tool;
        tool.writeSettings(R"({"RFCardParser ch1": {"gain2": "25.5"}})");
        const Run r = runAgainst(
            tool, QStringLiteral("--family jq"), {words("--card jq5140 --workmode 0")});
        QCOMPARE(SimProcess::notes(r.trace).value(2), QStringLiteral("set rfatt ch0 = 60"));
    }

    void stableLinkToTheSimulatedCard()
    {
        ToolRun tool;
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("card0"));
        {
            SimProcess sim(words(QStringLiteral("--family klr --link ") + link));
            QVERIFY(QFileInfo(link).isSymLink());
            const ToolRun::Result r
                = tool.run(words(QStringLiteral("--card klr620 --part 1 --com ") + link));
            QVERIFY2(r.out.contains(R"("band": "2")"), r.out.constData());
            // The link is stored as typed, not the device behind it.
            QCOMPARE(tool.stored(QStringLiteral("system"), QStringLiteral("端口号")), link);
            sim.stop();
        }
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
    }

    // A link that leads to another simulator's live device is not taken
    // over, and a simulator removes its link at exit only while the link
    // still leads to its own device.
    void liveLinkIsNotTakenOver()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("card0"));
        SimProcess first(words(QStringLiteral("--family vn --link ") + link));
        QProcess second;
        second.start(
            QStringLiteral(RFCARD_SIM_BIN), words(QStringLiteral("--family jq --link ") + link));
        QVERIFY(second.waitForFinished(5000));
        QCOMPARE(second.exitCode(), 2);
        QCOMPARE(second.readAllStandardOutput(), QByteArray());
        QVERIFY2(second.readAllStandardError().contains(
                     " leads to " + first.device().toUtf8() + ", a device that is in use"),
            "the refusal names the device");
        QCOMPARE(QFileInfo(link).symLinkTarget(), first.device());

        const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QFile::remove(link) && QFile::link(elsewhere, link));
        first.stop();
        QCOMPARE(QFileInfo(link).symLinkTarget(), elsewhere);
    }

    void leftOverLinkIsReplaced()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("card0"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("pts-of-a-killed-simulator")), link));
        SimProcess sim(words(QStringLiteral("--family jq --link ") + link));
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.device());
        sim.stop();
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void cardKeepsItsStateAcrossSimulatorRuns()
    {
        ToolRun tool;
        QTemporaryDir dir;
        const QString state
            = QStringLiteral("--family vn --state ") + dir.filePath(QStringLiteral("vn.json"));
        runAgainst(tool, state, {words("--card vn2810 --ch 3 --freq 2400 --gain 30")});
        const Run r = runAgainst(tool, state, {words("--part 1 --gch 3")});
        QVERIFY2(r.result.out.contains(R"("freq": "2400.000")"), r.result.out.constData());
        QVERIFY(r.result.out.contains(R"("gain": "30.0")"));
    }

    // The time-outs, kept together: each silent query costs a second.
    void silentCard()
    {
        ToolRun tool;
        Run r = runAgainst(tool, QStringLiteral("--family vn --fault no-reply:13"),
            {words("--card vn2810 --part 1")});
        QCOMPARE(r.result.out,
            report({R"("ch": "0")", R"("freq": "1000.000")", R"("gain": "0.0")", R"("hardch": "1")",
                R"("outfreq": "0")", R"("temp": "")"}));
        QVERIFY(r.result.err.contains("VNLModule::lSetInterface Ret error: -5"));

        // A set run against a card that never answers still ends and saves.
        r = runAgainst(tool, QStringLiteral("--family jq --fault no-reply:2"),
            {words("--card jq5120 --freq 1200")});
        QCOMPARE(r.result.status, 0);
        QCOMPARE(tool.stored(QStringLiteral("RFCardParser ch1"), QStringLiteral("freq")),
            QStringLiteral("1200000.000"));
        QCOMPARE(SimProcess::notes(r.trace).size(), 5);
    }

    void deadPort()
    {
        ToolRun tool;
        const QStringList port{QStringLiteral("--com"), QStringLiteral("/nonexistent/rfcard-e2e")};
        ToolRun::Result r = tool.run(port + words("--card jq5140 --freq 1500"));
        QCOMPARE(r.status, 0);
        QCOMPARE(tool.stored(QStringLiteral("RFCardParser ch1"), QStringLiteral("freq")),
            QStringLiteral("1500000.000"));
        QCOMPARE(r.err.count("JQFLModule::lSetInterface Ret error: -4"), 5);
        r = tool.run(port + words("--card vn2810 --part 1"));
        QCOMPARE(r.out,
            report({R"("ch": "0")", R"("freq": "")", R"("gain": "45.5")", R"("hardch": "")",
                R"("outfreq": "")", R"("temp": "")"}));
        r = tool.run(port + words("--card jq5140 --part 1"));
        QCOMPARE(r.out,
            report({R"("ch": "0")", R"("freq": "")", R"("gain": "")", R"("outfreq": "")",
                R"("power": "0")", R"("ref": "")", R"("temp": "")", R"("workmode": "")"}));
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
