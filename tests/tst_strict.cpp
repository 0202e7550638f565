// rfcard-strict end to end: the real rfcard and rfcard-strict side by side in
// a folder of their own, against rfcard-sim playing each model with its
// faults, and against a port that cannot exist.

#include "simprocess.h"
#include "toolrun.h"

#include <QJsonDocument>
#include <QtTest>

namespace {

const QString Strict = QStringLiteral("rfcard-strict");
const QString NoPort = QStringLiteral("/nonexistent/rfcard-strict");

struct Outcome {
    ToolRun::Result result;
    QByteArray trace;
};

// One run of `program` against a simulator started with `sim`, or against a
// port that cannot exist when `sim` is empty.
Outcome runAgainst(
    const ToolRun &tool, const QString &sim, const QString &args, const QString &program = Strict)
{
    if (sim.isEmpty())
        return {tool.runBeside(program, QStringList{QStringLiteral("--com"), NoPort} + words(args)),
            QByteArray()};
    SimProcess card(words(sim));
    Outcome o;
    o.result = tool.runBeside(
        program, QStringList{QStringLiteral("--com"), card.device()} + words(args));
    o.trace = card.stop();
    return o;
}

ToolRun *strictTool()
{
    auto *tool = new ToolRun;
    tool->addBeside(QStringLiteral(RFCARD_STRICT_BIN));
    return tool;
}

// What rfcard-strict adds to rfcard's lines: its one line on a failure.
QList<QByteArray> rfcardLines(const QByteArray &text)
{
    QList<QByteArray> lines;
    for (const QByteArray &line : text.split('\n')) {
        if (!line.startsWith("rfcard-strict: "))
            lines << line;
    }
    return lines;
}

} // namespace

class TestStrict : public QObject {
    Q_OBJECT

private:
    void verifyRun(const QString &sim, const QString &args, int status)
    {
        QScopedPointer<ToolRun> tool(strictTool());
        const ToolRun::Result r = runAgainst(*tool, sim, args).result;
        QVERIFY2(
            r.status == status, (QByteArray::number(r.status) + r.err.right(1500)).constData());
        if (args.contains(QLatin1String("--part 1"))) {
            // The report and nothing else, as rfcard prints it.
            const QJsonDocument report = QJsonDocument::fromJson(r.out);
            QVERIFY2(report.isObject(), r.out.constData());
            QCOMPARE(r.out, report.toJson() + '\n');
        } else {
            QCOMPARE(r.out, QByteArray());
        }
        QVERIFY(!r.err.contains("\n{\n"));
        QCOMPARE(r.err.contains("\nrfcard-strict: exit "), status > 1);
    }

private slots:
    // clang-format off
    void statuses_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("status");
        QTest::newRow("vn2810 set") << "--family vn" << "--card vn2810 --ch 1 --freq 1500 --gain 12.5 --outfreq 21.4" << 0;
        QTest::newRow("vn2810 read-back") << "--family vn" << "--card vn2810 --part 1 --gch 1" << 0;
        QTest::newRow("vn2810 gain refused") << "--family vn" << "--card vn2810 --gain 40.5" << 2;
        QTest::newRow("vn2810 output refused") << "--family vn" << "--card vn2810 --outfreq 24.1" << 2;
        QTest::newRow("vn2810 set, short reply") << "--family vn --fault short:5" << "--card vn2810 --gain 3" << 3;
        QTest::newRow("vn2810 short") << "--family vn --fault short:5" << "--card vn2810 --part 1" << 3;
        QTest::newRow("vn2810 long") << "--family vn --fault long:2" << "--card vn2810 --part 1" << 3;
        QTest::newRow("vn2810 wrong code") << "--family vn --fault wrong-code:2" << "--card vn2810 --part 1" << 3;
        QTest::newRow("vn2810 status51") << "--family vn --fault status51:12" << "--card vn2810 --part 1" << 3;
        QTest::newRow("vn2810 status53") << "--family vn --fault status53" << "--card vn2810 --part 1" << 3;
        QTest::newRow("vn2810 split") << "--family vn --fault split:16" << "--card vn2810 --part 1" << 3;
        QTest::newRow("vn2810 garbage") << "--family vn --fault garbage" << "--card vn2810 --part 1" << 3;
        QTest::newRow("vn2810 no port") << "" << "--card vn2810 --freq 1500" << 4;
        QTest::newRow("vn2810 no port, read-back") << "" << "--card vn2810 --part 1" << 4;

        QTest::newRow("jq5140 set") << "--family jq" << "--card jq5140 --ch 2 --freq 1500 --gain 20.5 --workmode 0 --ref 1 --outfreq 140" << 0;
        QTest::newRow("jq5140 set, mode 1") << "--family jq" << "--card jq5140 --gain 20 --workmode 1" << 0;
        QTest::newRow("jq5140 read-back") << "--family jq" << "--card jq5140 --part 1 --gch 2" << 0;
        QTest::newRow("jq5140 freq refused") << "--family jq" << "--card jq5140 --freq 3000" << 2;
        QTest::newRow("jq5140 gain beyond mode 0") << "--family jq" << "--card jq5140 --gain 40 --workmode 0" << 2;
        QTest::newRow("jq5140 gain dropped") << "--family jq" << "--card jq5140 --gain 60" << 2;
        QTest::newRow("jq5140 work mode dropped") << "--family jq" << "--card jq5140 --workmode 2" << 2;
        QTest::newRow("jq5140 ref refused") << "--family jq" << "--card jq5140 --ref 2" << 2;
        QTest::newRow("jq5140 set, wrong code") << "--family jq --fault wrong-code:2" << "--card jq5140 --freq 1500" << 3;
        QTest::newRow("jq5140 short") << "--family jq --fault short:7" << "--card jq5140 --part 1" << 3;
        QTest::newRow("jq5140 long") << "--family jq --fault long:7" << "--card jq5140 --part 1" << 3;
        QTest::newRow("jq5140 wrong code") << "--family jq --fault wrong-code:2" << "--card jq5140 --part 1" << 3;
        QTest::newRow("jq5140 status51") << "--family jq --fault status51:7" << "--card jq5140 --part 1" << 3;
        QTest::newRow("jq5140 status53") << "--family jq --fault status53:128" << "--card jq5140 --part 1" << 3;
        QTest::newRow("jq5140 split") << "--family jq --fault split:12" << "--card jq5140 --part 1" << 3;
        QTest::newRow("jq5140 garbage") << "--family jq --fault garbage" << "--card jq5140 --part 1" << 3;
        QTest::newRow("jq5140 no port") << "" << "--card jq5140 --freq 1500" << 4;
        QTest::newRow("jq5140 no port, read-back") << "" << "--card jq5140 --part 1" << 4;

        QTest::newRow("jq5120 set") << "--family jq" << "--card jq5120 --ch 1 --freq 1200 --gain 30 --ref 0 --band 1" << 0;
        QTest::newRow("jq5120 read-back") << "--family jq" << "--card jq5120 --part 1" << 0;
        QTest::newRow("jq5120 gain refused") << "--family jq" << "--card jq5120 --gain 45" << 2;
        QTest::newRow("jq5120 gain dropped") << "--family jq" << "--card jq5120 --gain 51" << 2;
        QTest::newRow("jq5120 band refused") << "--family jq" << "--card jq5120 --band 2" << 2;
        QTest::newRow("jq5120 short") << "--family jq --fault short:9" << "--card jq5120 --part 1" << 3;
        QTest::newRow("jq5120 status51") << "--family jq --fault status51:16" << "--card jq5120 --part 1" << 3;
        QTest::newRow("jq5120 garbage") << "--family jq --fault garbage" << "--card jq5120 --part 1" << 3;
        QTest::newRow("jq5120 no port") << "" << "--card jq5120 --part 1" << 4;

        QTest::newRow("klr620 set") << "--family klr" << "--card klr620 --ch 3 --freq 4200 --gain 20 --workmode 1 --band 3" << 0;
        QTest::newRow("klr620 read-back") << "--family klr" << "--card klr620 --part 1 --gch 3" << 0;
        QTest::newRow("klr620 band refused") << "--family klr" << "--card klr620 --band 1" << 2;
        QTest::newRow("klr620 work mode refused") << "--family klr" << "--card klr620 --workmode 2 --band 2" << 2;
        QTest::newRow("klr620 gain refused") << "--family klr" << "--card klr620 --gain 40 --workmode 0 --band 2" << 2;
        QTest::newRow("klr620 freq refused") << "--family klr" << "--card klr620 --freq 6000.001" << 2;
        QTest::newRow("klr620 short") << "--family klr --fault short" << "--card klr620 --part 1" << 3;
        QTest::newRow("klr620 long") << "--family klr --fault long:0xa7" << "--card klr620 --part 1" << 3;
        QTest::newRow("klr620 split") << "--family klr --fault split:0xab" << "--card klr620 --part 1" << 3;
        QTest::newRow("klr620 garbage") << "--family klr --fault garbage" << "--card klr620 --part 1" << 3;
        QTest::newRow("klr620 wrong code on freq") << "--family klr --fault wrong-code:0xa7" << "--card klr620 --part 1" << 3;
        QTest::newRow("klr620 wrong code on band") << "--family klr --fault wrong-code:0xac" << "--card klr620 --part 1" << 3;
        // The KLR620 has no status byte and does not answer set commands:
        // these faults change nothing rfcard reads.
        QTest::newRow("klr620 status51 does not apply") << "--family klr --fault status51" << "--card klr620 --part 1" << 0;
        QTest::newRow("klr620 set, garbage unread") << "--family klr --fault garbage" << "--card klr620 --band 2" << 0;
        QTest::newRow("klr620 no port") << "" << "--card klr620 --band 2" << 4;
        QTest::newRow("klr620 no port, read-back") << "" << "--card klr620 --part 1" << 4;

        QTest::newRow("vn2810a set") << "--family vn" << "--card vn2810a --freq 1500" << 5;
        QTest::newRow("vn2810b read-back") << "--family vn" << "--card vn2810b --part 1" << 5;
        QTest::newRow("unknown option") << "" << "--chan 1" << 1;
        QTest::newRow("channel out of range") << "" << "--ch 4" << 1;
        QTest::newRow("help") << "" << "--help" << 0;
        QTest::newRow("store only") << "" << "--part 2 --card jq5140" << 0;
    }
    // clang-format on
    void statuses()
    {
        QFETCH(QString, sim);
        QFETCH(QString, args);
        QFETCH(int, status);
        verifyRun(sim, args, status);
    }

    // Kept together: every row waits for rfcard's one-second reply time-out.
    // clang-format off
    void silentCards_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("status");
        QTest::newRow("vn2810 no reply") << "--family vn --fault no-reply:13" << "--card vn2810 --part 1" << 3;
        QTest::newRow("jq5140 set, no reply") << "--family jq --fault no-reply:2" << "--card jq5140 --freq 1500" << 3;
        QTest::newRow("jq5120 late") << "--family jq --fault late:16" << "--card jq5120 --part 1" << 3;
        QTest::newRow("klr620 no reply") << "--family klr --fault no-reply:0xab" << "--card klr620 --part 1" << 3;
    }
    // clang-format on
    void silentCards() { statuses(); }

    // What rfcard sends and stores, and every line it writes, are the same
    // with rfcard-strict around it; the lines on standard output keep their
    // place among the log lines.
    // clang-format off
    void sameRunAsRfcard_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("args");
        QTest::newRow("vn2810 read-back, wrong code") << "--family vn --fault wrong-code:2" << "--card vn2810 --part 1";
        QTest::newRow("jq5140 set, ref refused") << "--family jq" << "--card jq5140 --ch 1 --freq 1500 --ref 2";
        QTest::newRow("klr620 set") << "--family klr" << "--card klr620 --freq 2400 --band 3";
    }
    // clang-format on
    void sameRunAsRfcard()
    {
        QFETCH(QString, sim);
        QFETCH(QString, args);
        QScopedPointer<ToolRun> tool(strictTool());
        SimProcess card(words(sim));
        const QStringList command
            = QStringList{QStringLiteral("--com"), card.device()} + words(args);
        const ToolRun::Result plain = tool->run(command);
        const QJsonObject stored = tool->settings();
        const ToolRun::Result strict = tool->runBeside(Strict, command);
        const QStringList requests = SimProcess::requests(card.stop());
        QCOMPARE(requests.mid(requests.size() / 2), requests.mid(0, requests.size() / 2));
        QCOMPARE(tool->settings(), stored);

        QList<QByteArray> expected = rfcardLines(plain.out + plain.err);
        QList<QByteArray> got = rfcardLines(strict.out + strict.err);
        std::sort(expected.begin(), expected.end());
        std::sort(got.begin(), got.end());
        QCOMPARE(got, expected);
    }

    void protocolLinesKeepTheirPlace()
    {
        QScopedPointer<ToolRun> tool(strictTool());
        const ToolRun::Result r
            = runAgainst(*tool, QStringLiteral("--family vn --fault wrong-code:2"),
                QStringLiteral("--card vn2810 --part 1"))
                  .result;
        const int protocol = r.err.indexOf("LModule::RFInterface: Parameter error 03 02\n");
        QVERIFY(protocol > r.err.indexOf("This is VN2810"));
        QVERIFY(protocol < r.err.indexOf("error: VNCard GetFreq Query failed"));
    }

    // The verdict needs every log line: logging settings that would hide or
    // reword them do not reach rfcard.
    void loggingSettingsDoNotHideFailures()
    {
        qputenv("QT_LOGGING_RULES", "*.debug=false");
        qputenv("QT_MESSAGE_PATTERN", "rfcard says %{message}");
        QScopedPointer<ToolRun> tool(strictTool());
        const ToolRun::Result r
            = runAgainst(*tool, QString(), QStringLiteral("--card vn2810")).result;
        qunsetenv("QT_LOGGING_RULES");
        qunsetenv("QT_MESSAGE_PATTERN");
        QCOMPARE(r.status, 4);
        QVERIFY(r.err.contains("\nopen uart \"/nonexistent/rfcard-strict\" failed\n"));
    }

    void rfcardMissing()
    {
        QScopedPointer<ToolRun> tool(strictTool());
        QVERIFY(QFile::remove(tool->exe()));
        const ToolRun::Result r = tool->runBeside(Strict, words("--card vn2810 --part 1"));
        QCOMPARE(r.status, 6);
        QVERIFY2(r.err.startsWith("rfcard-strict: exit 6"), r.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestStrict)
#include "tst_strict.moc"
