// rfcard-strict end to end: the real rfcard and rfcard-strict side by side in
// a folder of their own, against rfcard-sim playing each model with its
// faults, and against a port that cannot exist.

#include "cards/feframe.h"
#include "ptypeer.h"
#include "simprocess.h"
#include "toolrun.h"

#include <QJsonDocument>
#include <QtTest>

#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

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
    void verifyRun(const QString &sim, QString args, int status, const QString &says)
    {
        QScopedPointer<ToolRun> tool(strictTool());
        const bool unverified = args.startsWith(QLatin1String("RFCARD_STRICT_VERIFY=0 "));
        if (unverified)
            qputenv("RFCARD_STRICT_VERIFY", "0");
        const ToolRun::Result r
            = runAgainst(*tool, sim, args.remove("RFCARD_STRICT_VERIFY=0 ")).result;
        qunsetenv("RFCARD_STRICT_VERIFY");
        QVERIFY2(
            r.status == status, (QByteArray::number(r.status) + r.err.right(1500)).constData());
        QVERIFY2(r.err.contains(says.toUtf8()), r.err.right(1500).constData());
        if (args.contains(QLatin1String("--part 1")) && !r.err.startsWith("rfcard-strict:")) {
            // The report and nothing else, as rfcard prints it.
            const QJsonDocument report = QJsonDocument::fromJson(r.out);
            QVERIFY2(report.isObject(), r.out.constData());
            QCOMPARE(r.out, report.toJson() + '\n');
        } else {
            QCOMPARE(r.out, QByteArray());
        }
        QVERIFY(!r.err.contains("\n{\n"));
        QCOMPARE(r.err.contains("rfcard-strict: exit "), status > 1 || says.contains("dashes"));
        // Refused before rfcard ran: nothing was stored.
        if (r.err.startsWith("rfcard-strict: exit"))
            QVERIFY(!tool->hasSettings());
    }

private slots:
    // clang-format off
    void statuses_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says"); // on standard error
        QTest::newRow("vn2810 set") << "--family vn" << "--card vn2810 --ch 1 --freq 1500 --gain 12.5 --outfreq 21.4" << 0 << "rfcard-strict: no stored settings (";
        QTest::newRow("vn2810 read-back") << "--family vn" << "--card vn2810 --part 1 --gch 1" << 0 << "";
        QTest::newRow("vn2810 gain refused") << "--family vn" << "--card vn2810 --gain 40.5" << 2 << "";
        QTest::newRow("vn2810 output refused") << "--family vn" << "--card vn2810 --outfreq 24.1" << 2 << "";
        QTest::newRow("vn2810 short") << "--family vn --fault short:5" << "--card vn2810 --part 1" << 3 << "";
        QTest::newRow("vn2810 status51") << "--family vn --fault status51:12" << "--card vn2810 --part 1" << 3 << "";
        QTest::newRow("vn2810 no port") << "" << "--card vn2810 --freq 1500" << 4 << "";

        QTest::newRow("jq5140 set") << "--family jq" << "--card jq5140 --ch 2 --freq 1500 --gain 20.5 --workmode 0 --ref 1 --outfreq 140" << 0 << "";
        QTest::newRow("jq5140 set, mode 1") << "--family jq" << "--card jq5140 --gain 20 --workmode 1" << 0 << "";
        QTest::newRow("jq5140 read-back") << "--family jq" << "--card jq5140 --part 1 --gch 2" << 0 << "";
        QTest::newRow("jq5140 freq refused") << "--family jq" << "--card jq5140 --freq 3000" << 2 << "";
        QTest::newRow("jq5140 gain beyond mode 0") << "--family jq" << "--card jq5140 --gain 40 --workmode 0" << 2 << "";
        QTest::newRow("jq5140 gain dropped") << "--family jq" << "--card jq5140 --gain 60" << 2 << "";
        QTest::newRow("jq5140 work mode dropped") << "--family jq" << "--card jq5140 --workmode 2" << 2 << "";
        QTest::newRow("jq5140 ref refused") << "--family jq" << "--card jq5140 --ref 2" << 2 << "";
        QTest::newRow("jq5140 wrong code") << "--family jq --fault wrong-code:2" << "--card jq5140 --part 1" << 3 << "";
        QTest::newRow("jq5140 status51") << "--family jq --fault status51:7" << "--card jq5140 --part 1" << 3 << "";

        QTest::newRow("jq5120 set") << "--family jq" << "--card jq5120 --ch 1 --freq 1200 --gain 30 --ref 0 --band 1" << 0 << "";
        QTest::newRow("jq5120 read-back") << "--family jq" << "--card jq5120 --part 1" << 0 << "";
        QTest::newRow("jq5120 gain refused") << "--family jq" << "--card jq5120 --gain 45" << 2 << "";
        QTest::newRow("jq5120 gain dropped") << "--family jq" << "--card jq5120 --gain 51" << 2 << "";
        QTest::newRow("jq5120 band refused") << "--family jq" << "--card jq5120 --band 2" << 2 << "";
        QTest::newRow("jq5120 status51") << "--family jq --fault status51:16" << "--card jq5120 --part 1" << 3 << "";

        QTest::newRow("klr620 set") << "--family klr" << "--card klr620 --ch 3 --freq 4200 --gain 20 --workmode 1 --band 3" << 0 << "";
        QTest::newRow("klr620 read-back") << "--family klr" << "--card klr620 --part 1 --gch 3" << 0 << "";
        QTest::newRow("klr620 band refused") << "--family klr" << "--card klr620 --band 1" << 2 << "";
        QTest::newRow("klr620 work mode refused") << "--family klr" << "--card klr620 --workmode 2 --band 2" << 2 << "";
        QTest::newRow("klr620 gain refused") << "--family klr" << "--card klr620 --gain 40 --workmode 0 --band 2" << 2 << "";
        QTest::newRow("klr620 freq refused") << "--family klr" << "--card klr620 --freq 6000.001" << 2 << "";
        QTest::newRow("klr620 short") << "--family klr --fault short" << "--card klr620 --part 1" << 3 << "";
        // A code the card does not use reads as 0, which a work mode can be.
        QTest::newRow("klr620 unknown code on work mode") << "--family klr --fault wrong-code:0xa8" << "--card klr620 --part 1" << 3 << "a reply with a code the KLR620 does not use (B7)";
        // The KLR620 answers no set command: its garbage shows in the
        // read-back that verifies the set run.
        QTest::newRow("klr620 set, garbage") << "--family klr --fault garbage" << "--card klr620 --band 2" << 3 << "the read-back that verifies";
        QTest::newRow("klr620 no port") << "" << "--card klr620 --band 2" << 4 << "";

        QTest::newRow("vn2810a set") << "--family vn" << "--card vn2810a --freq 1500" << 5 << "";
        QTest::newRow("vn2810b read-back") << "--family vn" << "--card vn2810b --part 1" << 5 << "";
        QTest::newRow("unknown option") << "" << "--chan 1" << 1 << "";
        QTest::newRow("klr620 unplugged while set") << "--family klr --unplug-after 2" << "--card klr620 --freq 2400 --gain 10 --band 3" << 3 << "exit 3, the card did not answer or answered wrongly: ready1 =  false";

        // Values rfcard would take for something else are refused before it
        // runs: nothing is sent or stored.
        QTest::newRow("gain with a letter O") << "" << "--card vn2810 --gain 1O" << 2 << "--gain \"1O\" is not a number";
        QTest::newRow("work mode x") << "" << "--card klr620 --workmode x" << 2 << "would send it as 0";
        QTest::newRow("channel one") << "" << "--ch one" << 2 << "would set channel 0";
        QTest::newRow("channel out of range") << "" << "--ch 4" << 2 << "no such channel";
        QTest::newRow("a JQ5120 channel it has not") << "" << "--card jq5120 --ch 2" << 2 << "the JQ5120 has two channels";
        QTest::newRow("freq abc") << "" << "--freq abc" << 2 << "--freq \"abc\" is not a number";
        QTest::newRow("freq with a comma") << "" << "--freq 2,400" << 2 << "--freq \"2,400\"";
        QTest::newRow("the last value counts") << "" << "--gain 3 --gain x" << 2 << "--gain \"x\"";
        QTest::newRow("a --part with decimals") << "" << "--part=1.0" << 2 << "a set run";
        QTest::newRow("read-back channel x") << "" << "--part 1 --gch x" << 2 << "would read channel 0";
        QTest::newRow("read-back ignores set values") << "" << "--card vn2810 --part 1 --freq abc" << 4 << "does not exist";
        QTest::newRow("missing dashes") << "" << "--ch 1 freq 3000" << 1 << "\"freq\" is not an option (missing dashes?)";

        // A set run that every reply confirmed is read back: a card that
        // kept its old value is found out, and the parameter named.
        QTest::newRow("vn2810 kept freq") << "--family vn --fault keep-old:2" << "--card vn2810 --ch 1 --freq 1500 --gain 12.5 --outfreq 21.4" << 8 << "rfcard-strict: freq: set 1500.000, read 1000.000";
        QTest::newRow("vn2810 kept gain") << "--family vn --fault keep-old:5" << "--card vn2810 --ch 1 --freq 1500 --gain 12.5 --outfreq 21.4" << 8 << "rfcard-strict: gain: set 12.5, read 0.0";
        QTest::newRow("vn2810 kept output") << "--family vn --fault keep-old:12" << "--card vn2810 --ch 1 --freq 1500 --gain 12.5 --outfreq 21.4" << 8 << "rfcard-strict: outfreq: set 1, read 0";
        QTest::newRow("jq5140 kept work mode") << "--family jq --fault keep-old:7" << "--card jq5140 --ch 2 --freq 1500 --gain 20 --workmode 1" << 8 << "rfcard-strict: workmode: set 1, read 0";
        QTest::newRow("jq5140 kept freq") << "--family jq --fault keep-old:2" << "--card jq5140 --ch 2 --freq 1500 --gain 20.5 --workmode 0 --ref 1 --outfreq 140" << 8 << "rfcard-strict: freq: set 1500.000, read 1000.000";
        QTest::newRow("jq5140 kept gain, mode 0") << "--family jq --fault keep-old:8" << "--card jq5140 --ch 2 --freq 1500 --gain 20.5 --workmode 0" << 8 << "rfcard-strict: gain: set 20.5, read 0";
        QTest::newRow("jq5140 kept gain, mode 1") << "--family jq --fault keep-old:10" << "--card jq5140 --ch 2 --gain 20 --workmode 1" << 8 << "rfcard-strict: gain: set 20, read 0";
        QTest::newRow("jq5140 kept reference") << "--family jq --fault keep-old:11" << "--card jq5140 --ch 2 --ref 1 --workmode 0" << 8 << "rfcard-strict: ref: set 1, read 0";
        QTest::newRow("jq5140 kept output") << "--family jq --fault keep-old:12" << "--card jq5140 --ch 2 --outfreq 140 --workmode 0" << 8 << "rfcard-strict: outfreq: set 1, read 0";
        QTest::newRow("jq5120 kept freq") << "--family jq --fault keep-old:2" << "--card jq5120 --ch 1 --freq 1200 --gain 30 --ref 1 --band 1" << 8 << "rfcard-strict: freq: set 1200.000, read 1000.000";
        QTest::newRow("jq5120 kept IF attenuation") << "--family jq --fault keep-old:9" << "--card jq5120 --ch 1 --gain 30" << 8 << "rfcard-strict: gain: set 30.0, read 10.0";
        QTest::newRow("jq5120 kept RF attenuation") << "--family jq --fault keep-old:8" << "--card jq5120 --ch 1 --gain 30" << 8 << "rfcard-strict: gain: set 30.0, read 20.0";
        QTest::newRow("jq5120 kept reference") << "--family jq --fault keep-old:11" << "--card jq5120 --ch 1 --ref 1" << 8 << "rfcard-strict: ref: set 1, read 0";
        QTest::newRow("jq5120 kept band") << "--family jq --fault keep-old:16" << "--card jq5120 --ch 1 --band 1" << 8 << "rfcard-strict: band: set 1, read 0";
        QTest::newRow("klr620 dropped freq") << "--family klr --fault keep-old:0xa2" << "--card klr620 --ch 3 --freq 4200 --gain 20 --workmode 1 --band 3" << 8 << "rfcard-strict: freq: set 4200.000, read 1000.000";
        QTest::newRow("klr620 dropped work mode") << "--family klr --fault keep-old:0xa3" << "--card klr620 --ch 3 --gain 20 --workmode 1 --band 3" << 8 << "rfcard-strict: workmode: set 1, read 0";
        QTest::newRow("klr620 dropped RF attenuation") << "--family klr --fault keep-old:0xa4" << "--card klr620 --ch 3 --gain 20 --workmode 1 --band 3" << 8 << "rfcard-strict: gain: set 20, read 15";
        QTest::newRow("klr620 dropped IF attenuation") << "--family klr --fault keep-old:0xa5" << "--card klr620 --ch 3 --gain 10 --workmode 1 --band 3" << 8 << "rfcard-strict: gain: set 10, read 15";
        QTest::newRow("klr620 dropped band") << "--family klr --fault keep-old:0xa6" << "--card klr620 --ch 3 --band 3" << 8 << "rfcard-strict: band: set 3, read 2";
        // A read-back that fails while verifying is a card fault.
        QTest::newRow("klr620 read-back fails verifying") << "--family klr --fault short:0xa7" << "--card klr620 --band 3" << 3 << "the read-back that verifies the set run failed: a reply of the wrong length (7 bytes, not 8) to the query of the frequency of --ch 0";
        // A set reply the card flagged is a fault, read back or not.
        QTest::newRow("vn2810 set flagged") << "--family vn --fault status51" << "RFCARD_STRICT_VERIFY=0 --card vn2810 --freq 1500" << 3 << "the card reported an error (status 51) for the frequency command for --ch 0";
        QTest::newRow("jq5140 set flagged") << "--family jq --fault status51:11" << "RFCARD_STRICT_VERIFY=0 --card jq5140 --ref 1" << 3 << "(status 51) for the reference command";
        QTest::newRow("jq5120 set flagged") << "--family jq --fault status51:16" << "RFCARD_STRICT_VERIFY=0 --card jq5120 --ch 1 --band 1" << 3 << "(status 51) for the output band command for --ch 1";
        // Options the model's driver has no use for: refused, not dropped.
        QTest::newRow("vn2810 takes no --ref") << "--family vn" << "--card vn2810 --freq 1500 --ref 1" << 2 << "--ref is not used by the VN2810, which takes only --freq, --gain, --outfreq";
        QTest::newRow("klr620 takes no --outfreq") << "--family klr" << "--card klr620 --outfreq 1" << 2 << "--outfreq is not used by the KLR620";
        QTest::newRow("no card takes --upgain") << "--family jq" << "--card jq5140 --upgain 3" << 2 << "--upgain is not used by the JQ5140";
        QTest::newRow("a port name over 1000 characters") << "" << "--com " + QString(1001, 'x') << 2 << "--com is 1001 characters long; rfcard takes at most 1000";
        QTest::newRow("store only") << "" << "--part 2 --card jq5140" << 0 << "";
    }
    // clang-format on
    void statuses()
    {
        QFETCH(QString, sim);
        QFETCH(QString, args);
        QFETCH(int, status);
        QFETCH(QString, says);
        verifyRun(sim, args, status, says);
    }

    // Kept together: every row waits for rfcard's one-second reply time-out.
    // clang-format off
    void silentCards_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("vn2810 no reply") << "--family vn --fault no-reply:13" << "--card vn2810 --part 1" << 3 << "";
        // Told as no reply, although the agent has no line of its own for it.
        QTest::newRow("klr620 no reply") << "--family klr --fault no-reply:0xab" << "--card klr620 --part 1" << 3 << "exit 3, the card did not answer or answered wrongly: no reply within 1 s to the query of the warning status of --gch 0";
    }
    // clang-format on
    void silentCards() { statuses(); }

    // A card whose replies are well formed but hold what no such card can:
    // every KLR620 query answered with the frequency reply, every JQ or VN
    // reply but the frequency's with all value bits set. rfcard reports
    // what came; the run is a card fault, for a read-back and for the one
    // that verifies a set run.
    // clang-format off
    void implausibleValues_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("says");
        QTest::newRow("klr620 read-back") << "--card klr620 --part 1" << "a reply about another parameter (code B2) to the query of the work mode of --gch 0";
        QTest::newRow("klr620 set") << "--card klr620 --ch 2 --band 2" << "the read-back that verifies the set run failed: a reply about another parameter (code B2) to the query of the work mode of --ch 2";
        QTest::newRow("jq5140 read-back") << "--card jq5140 --part 1 --gch 3" << "the card read back the temperature of --gch 3 (the fourth channel) as 6553.5 degrees C; electronic parts work in -55 to 125";
        QTest::newRow("jq5140 set") << "--card jq5140 --ref 1" << "verifies the set run failed: the card read back the work mode of --ch 0 (the first channel) as 255";
        QTest::newRow("jq5120 read-back") << "--card jq5120 --part 1" << "the reference of --gch 0 (the first channel) as 255; a JQ5120 takes 0 or 1";
        QTest::newRow("vn2810 read-back") << "--card vn2810 --part 1 --gch 1" << "the card read back the gain of --gch 1 (the second channel) as -82.5; a VN2810 takes 0 to 40 (-165 in the card's own steps, of 0 to 80)";
        QTest::newRow("vn2810 set") << "--card vn2810 --gain 3" << "verifies the set run failed: the card read back the gain of --ch 0 (the first channel) as -82.5";
    }
    // clang-format on
    void implausibleValues()
    {
        QFETCH(QString, args);
        QFETCH(QString, says);
        const bool klr = args.contains(QLatin1String("klr620"));
        PtyPeer card(klr ? 8 : 10, [klr](const QByteArray &frame) {
            const quint8 code = quint8(frame.at(2));
            return PtyPeer::Reply{klr
                    ? CardReply::klr(0xB2, CardReply::hex("0016e360"))
                    : CardReply::fe(code, CardReply::hex(code == 2 ? "16e360" : "ffffffff"))};
        });
        QScopedPointer<ToolRun> tool(strictTool());
        const ToolRun::Result r = tool->runBeside(
            Strict, QStringList{QStringLiteral("--com"), card.path()} + words(args));
        QVERIFY2(r.status == 3 && r.err.contains(says.toUtf8()), r.err.right(800).constData());
    }

    // Values a card cannot hold, played by the simulator from its options or
    // from the state of channel 0: rfcard reports them as they came and ends
    // with 0, rfcard-strict prints the same report and judges the values.
    // clang-format off
    void readBackOutsideTheTable_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("channel0"); // JSON; empty: the simulator's own state
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("reported"); // key=text in rfcard's report
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("jq5140 at 125.1 degrees") << "--family jq --temp 125.1" << "" << "--card jq5140 --part 1" << "temp=125.1" << 3 << "exit 3, the card did not answer or answered wrongly: the card read back the temperature of --gch 0 (the first channel) as 125.1 degrees C; electronic parts work in -55 to 125";
        QTest::newRow("jq5140 at 125 degrees") << "--family jq --temp 125" << "" << "--card jq5140 --part 1" << "temp=125" << 0 << "";
        QTest::newRow("vn2810 at 6000 degrees") << "--family vn --temp 6000" << "" << "--card vn2810 --part 1 --gch 2" << "temp=6000" << 3 << "the temperature of --gch 2 (the third channel) as 6000 degrees C";
        QTest::newRow("vn2810 at 0 degrees") << "--family vn --temp 0" << "" << "--card vn2810 --part 1" << "temp=0" << 0 << "";
        // The JQ5120's gain is (60 - IF) + (60 - RF) in half-dB steps.
        QTest::newRow("jq5120 RF attenuation 100") << "--family jq" << R"({"rfatt": 100, "ifatt": 0})" << "--card jq5120 --part 1" << "gain=10.0" << 3 << "the RF attenuation of --gch 0 (the first channel) as 100; a JQ5120 takes 0 to 60";
        QTest::newRow("jq5120 IF attenuation 61") << "--family jq" << R"({"rfatt": 60, "ifatt": 61})" << "--card jq5120 --part 1" << "gain=-0.5" << 3 << "the IF attenuation of --gch 0 (the first channel) as 61; a JQ5120 takes 0 to 60";
        QTest::newRow("jq5120 gain of 50 dB") << "--family jq" << R"({"rfatt": 10, "ifatt": 10})" << "--card jq5120 --part 1" << "gain=50.0" << 3 << "the gain of --gch 0 (the first channel) as 50; a JQ5120 takes 0 to 40 (100 in the card's own steps, of 0 to 80)";
        QTest::newRow("jq5120 gain of 40 dB") << "--family jq" << R"({"rfatt": 40, "ifatt": 0})" << "--card jq5120 --part 1" << "gain=40.0" << 0 << "";
        QTest::newRow("jq5140 power not read") << "--family jq --fault short:13" << "" << "--card jq5140 --part 1" << "power=0" << 3 << "the query of the input power of --gch 0";
    }
    // clang-format on
    void readBackOutsideTheTable()
    {
        QFETCH(QString, sim);
        QFETCH(QString, channel0);
        QFETCH(QString, args);
        QFETCH(QString, reported);
        QFETCH(int, status);
        QFETCH(QString, says);
        QScopedPointer<ToolRun> tool(strictTool());
        if (!channel0.isEmpty()) {
            const QString state = QDir(tool->dir()).filePath(QStringLiteral("card.json"));
            QVERIFY(
                writeFile(state, R"({"family": "jq", "channels": [)" + channel0.toUtf8() + "]}"));
            sim += QStringLiteral(" --state ") + state;
        }
        SimProcess card(words(sim));
        const QStringList command
            = QStringList{QStringLiteral("--com"), card.device()} + words(args);
        const ToolRun::Result plain = tool->run(command);
        const ToolRun::Result strict = tool->runBeside(Strict, command);
        QCOMPARE(plain.status, 0);
        const QJsonObject report = QJsonDocument::fromJson(plain.out).object();
        const QString key = reported.section(QLatin1Char('='), 0, 0);
        QCOMPARE(key + QLatin1Char('=') + report.value(key).toString(), reported);
        QCOMPARE(strict.out, plain.out);
        QVERIFY2(strict.status == status && strict.err.contains(says.toUtf8()),
            (QByteArray::number(strict.status) + strict.err.right(800)).constData());
    }

    // What rfcard sends and stores, and every line it writes, are the same
    // with rfcard-strict around it, whatever the Qt logging settings say;
    // but that after an exchange that failed, rfcard-strict first brings
    // the line back in step with one query (`probe`, the VN2810's type of
    // the first channel) before it goes on.
    // clang-format off
    void sameRunAsRfcard_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("probe");
        QTest::newRow("vn2810 read-back, wrong code") << "--family vn --fault wrong-code:2" << "--card vn2810 --part 1" << "fe 01 10 00 00 00 00 00 11 fa";
        QTest::newRow("jq5140 set, ref refused") << "--family jq" << "--card jq5140 --ch 1 --freq 1500 --ref 2" << "";
        QTest::newRow("klr620 set") << "--family klr" << "--card klr620 --freq 2400 --band 3" << "";
    }
    // clang-format on
    void sameRunAsRfcard()
    {
        QFETCH(QString, sim);
        QFETCH(QString, args);
        QFETCH(QString, probe);
        QScopedPointer<ToolRun> tool(strictTool());
        SimProcess card(words(sim));
        const QStringList command
            = QStringList{QStringLiteral("--com"), card.device()} + words(args);
        const ToolRun::Result plain = tool->run(command);
        const QJsonObject stored = tool->settings();
        qputenv("RFCARD_STRICT_VERIFY", "0"); // the set run alone
        // rfcard's whole log as it is, whatever the logging settings say.
        qputenv("QT_LOGGING_RULES", "*.debug=false");
        qputenv("QT_MESSAGE_PATTERN", "rfcard says %{message}");
        const ToolRun::Result strict = tool->runBeside(Strict, command);
        for (const char *name : {"RFCARD_STRICT_VERIFY", "QT_LOGGING_RULES", "QT_MESSAGE_PATTERN"})
            qunsetenv(name);
        const QStringList requests = SimProcess::requests(card.stop());
        const int plainRun = (requests.size() - !probe.isEmpty()) / 2;
        QStringList expectedRequests = requests.mid(0, plainRun);
        if (!probe.isEmpty())
            expectedRequests.insert(1, probe); // after the failed first one
        QCOMPARE(requests.mid(plainRun), expectedRequests);
        QCOMPARE(tool->settings(), stored);

        QList<QByteArray> expected = rfcardLines(plain.out + plain.err);
        QList<QByteArray> got;
        for (const QByteArray &line : rfcardLines(strict.out + strict.err)) {
            if (!line.contains("line resync:"))
                got << line;
        }
        std::sort(expected.begin(), expected.end());
        std::sort(got.begin(), got.end());
        QCOMPARE(got, expected);
    }

    // Runs that need something set up first. When the port does not open,
    // rfcard says only "open uart "X" failed"; rfcard-strict says why, from
    // the port as rfcard resolved it (a relative name from rfcard's own
    // folder), and keeps status 4. Settings that were not saved are a status
    // of their own, after the card's: the next run will not find the values.
    // clang-format off
    void setUpRuns_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("missing port") << "missing" << 4 << "/nonexistent/rfcard-strict does not exist";
        QTest::newRow("a name with a slash opens under /dev") << "rfcard-nonexistent/port" << 4 << ": /dev/rfcard-nonexistent/port does not exist";
        QTest::newRow("plain file") << "plain" << 4 << "/plain is a plain file, not a serial device";
        QTest::newRow("folder") << "folder" << 4 << "/folder is a folder, not a serial device";
        QTest::newRow("a device, not a serial one") << "/dev/null" << 4 << "/dev/null is a device, but not a serial device";
        QTest::newRow("busy") << "busy" << 4 << "is busy: process";
        QTest::newRow("not for this user") << "denied" << 4 << "the group dialout; you are not in it";
        QTest::newRow("not saved") << "unsaved" << 7 << "exit 7, settings not saved: warning: cannot save settings";
        QTest::newRow("card fault before not saved") << "unsaved short:2" << 3 << "exit 3";
        QTest::newRow("store only, not saved") << "unsaved --part 2" << 7 << "exit 7";
        QTest::newRow("refused, stored earlier") << "stored" << 2 << "--gain 41 was stored by an earlier run (";
        QTest::newRow("a tab in the port's name") << "tab" << 0 << "";
        QTest::newRow("unused options stored earlier") << "stored unused" << 0 << "";
        // A port another operator left in the shared settings is not taken
        // when it leads to a device of theirs, for a set run or a read-back,
        // and nothing is stored; given with --com, it is.
        QTest::newRow("another's pty, stored") << "foreign" << 4 << "the stored port /dev/pts/";
        QTest::newRow("another's pty through a link, stored") << "foreign link" << 4 << "/card leads to /dev/pts/";
        QTest::newRow("another's pty, stored, read-back") << "foreign read-back" << 4 << "the stored port /dev/pts/";
        QTest::newRow("another's pty, given") << "foreign --com" << 0 << "";
    }
    // clang-format on
    void setUpRuns()
    {
        QFETCH(QString, setup);
        QFETCH(int, status);
        QFETCH(QString, says);
        if (setup == QLatin1String("denied") && ::geteuid() != 0)
            QSKIP("running as another user takes root");
        QScopedPointer<ToolRun> tool(strictTool());
        const QDir folder(tool->dir());
        QTemporaryDir elsewhere;
        QString port = NoPort;
        int master = -1;
        int slave = -1;
        char pty[64];
        QScopedPointer<SimProcess> card;
        if (setup.contains(QLatin1Char('/'))) {
            port = setup;
        } else if (setup == QLatin1String("plain") || setup == QLatin1String("folder")) {
            port = QStringLiteral("./") + setup;
            QVERIFY(setup == QLatin1String("folder")
                    ? folder.mkpath(setup)
                    : QFile(folder.filePath(setup)).open(QIODevice::WriteOnly));
        } else if (setup == QLatin1String("busy") || setup == QLatin1String("denied")) {
            QCOMPARE(::openpty(&master, &slave, pty, nullptr, nullptr), 0);
            port = QString::fromLatin1(pty);
            if (setup == QLatin1String("busy")) { // another program serves on it, as Qt opens ports
                card.reset(new SimProcess({"--family", "vn", "--port", port}));
            } else { // root:dialout 0660, as a serial port is
                QVERIFY(::chown(pty, 0, 20) == 0 && ::chmod(pty, 0660) == 0);
                QCOMPARE(::chmod(QFile::encodeName(tool->dir()).constData(), 0755), 0);
            }
        } else if (setup.startsWith(QLatin1String("unsaved"))
            && setup.contains(QLatin1String("part"))) {
            QVERIFY(folder.mkdir(QStringLiteral("rfcard.json")));
        } else if (setup.startsWith(QLatin1String("unsaved"))) {
            QVERIFY(folder.mkdir(QStringLiteral("rfcard.json")));
            const QString fault = setup.section(QLatin1Char(' '), 1);
            card.reset(new SimProcess(words(QStringLiteral("--family vn ")
                + (fault.isEmpty() ? QString() : QStringLiteral("--fault ") + fault))));
            port = card->device();
        } else if (setup.startsWith(QLatin1String("stored")) || setup == QLatin1String("tab")
            || setup.startsWith(QLatin1String("foreign"))) {
            card.reset(new SimProcess({"--family", "vn"}));
            port = card->device();
            if (setup == QLatin1String("stored"))
                QCOMPARE(tool->run({"--card", "none", "--gain", "41"}).status, 0);
            else if (setup == QLatin1String("stored unused"))
                QCOMPARE(tool->run({"--card", "none", "--ref", "1", "--upgain", "3"}).status, 0);
            else if (setup.startsWith(QLatin1String("foreign"))) {
                QCOMPARE(::chown(QFile::encodeName(port).constData(), 65534, 65534), 0);
                if (setup.contains(QLatin1String("link"))) {
                    QVERIFY(QFile::link(port, folder.filePath(QStringLiteral("card"))));
                    port = folder.filePath(QStringLiteral("card"));
                }
                QCOMPARE(tool->run({"--com", port, "--part", "2"}).status, 0);
            } else { // as typed, however it is quoted on its way
                QVERIFY(QFile::link(port, folder.filePath(QStringLiteral("card\tport"))));
                port = folder.filePath(QStringLiteral("card\tport"));
            }
        }
        QStringList args{"--card", "vn2810", "--com", port, "--freq", "1500"};
        if (setup.contains(QLatin1String("--part")))
            args = QStringList{"--com", port} + words(setup.section(QLatin1Char(' '), 1));
        const bool foreign
            = setup.startsWith(QLatin1String("foreign")) && !setup.contains(QLatin1String("--com"));
        if (foreign)
            args = QStringList{"--card", "vn2810"}
                + words(setup.contains(QLatin1String("read-back")) ? "--part 1" : "--freq 1500");
        const QByteArray settings = tool->settingsText();
        QProcess p;
        p.setWorkingDirectory(elsewhere.path());
        const QString strict = folder.filePath(Strict);
        if (setup == QLatin1String("denied"))
            p.start("setpriv",
                QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", strict} + args);
        else
            p.start(strict, args);
        QVERIFY(p.waitForFinished(30000));
        const QByteArray err = p.readAllStandardError();
        ::close(slave);
        ::close(master);
        QCOMPARE(p.exitCode(), status);
        QVERIFY2(err.contains(says.toUtf8()), err.right(600).constData());
        if (status == 4 && !foreign)
            QVERIFY(err.contains("rfcard-strict: exit 4, the port could not be opened: open uart"));
        if (setup == QLatin1String("busy"))
            QVERIFY(err.contains("(rfcard-sim)"));
        if (foreign) { // said whose it is, and sent and stored nothing
            QVERIFY(err.contains(" belongs to nobody (user 65534), neither you nor root; nothing "
                                 "was sent; give --com to use it"));
            QCOMPARE(SimProcess::requests(card->stop()), QStringList());
            QCOMPARE(tool->settingsText(), settings);
        }
    }

    // The stored port is judged by the device the run opened, not by a look
    // at its name before: Qt opens the name itself, later. A link pointed
    // back and forth between a pseudo-terminal of root's and one of another
    // user's, as fast as a program can, while runs go on: a run that opened
    // theirs is refused, and not a byte reaches it. Both ends answer as a
    // VN2810 that holds what it is given, so a run that wrote to theirs would
    // end 0.
    void storedPortFlippedWhileOpening()
    {
        const auto card = [] {
            return PtyPeer::Script(
                [held = QMap<quint8, QByteArray>()](const QByteArray &f) mutable {
                    const auto code = quint8(f.at(2));
                    if (quint8(f.at(1)) == FeFrame::SetCommand)
                        held[code] = f.mid(3, 4);
                    return PtyPeer::Reply{CardReply::fe(code, held.value(code))};
                });
        };
        PtyPeer root(10, card());
        PtyPeer theirs(10, card());
        QCOMPARE(::chown(QFile::encodeName(theirs.path()).constData(), 65534, 65534), 0);
        QScopedPointer<ToolRun> tool(strictTool());
        const QString link = QDir(tool->dir()).filePath(QStringLiteral("port"));
        QVERIFY(QFile::link(root.path(), link));
        QCOMPARE(tool->run({"--com", link, "--part", "2"}).status, 0);
        QMap<int, int> statuses;
        int reachedTheirs = 0; // runs during which a frame reached their pty
        {
            // The names outlive the thread that flips between them: it is
            // joined when the flipper goes, which is declared after them.
            const QByteArray to[] = {QFile::encodeName(theirs.path()),
                QFile::encodeName(root.path()), QFile::encodeName(link)};
            struct Flipper {
                std::atomic<bool> stop{false};
                std::thread thread;
                ~Flipper()
                {
                    stop = true;
                    thread.join();
                }
            } flipper;
            flipper.thread = std::thread([&] {
                const QByteArray next = to[2] + ".next";
                for (unsigned i = 0; !flipper.stop; ++i) {
                    ::unlink(next.constData());
                    if (::symlink(to[i % 2].constData(), next.constData()) == 0)
                        ::rename(next.constData(), to[2].constData());
                }
            });
            for (int run = 0; run < 200; ++run) {
                const int before = int(theirs.frames().size());
                ++statuses[tool->runBeside(Strict, {"--card", "vn2810", "--freq", "1500"}).status];
                reachedTheirs += theirs.frames().size() > before;
            }
        }
        const QByteArray figures
            = QStringLiteral("200 runs: %1 ended 0, %2 ended 4; %3 wrote to the "
                             "other user's pty")
                  .arg(statuses.value(0))
                  .arg(statuses.value(4))
                  .arg(reachedTheirs)
                  .toUtf8();
        qInfo("%s", figures.constData());
        QVERIFY2(theirs.frames().isEmpty() && theirs.leftover().isEmpty(), figures.constData());
        QCOMPARE(statuses.value(0) + statuses.value(4), 200);
        // Both ends were met, or the link did not move under the runs.
        QVERIFY(statuses.value(0) > 0 && statuses.value(4) > 0);
    }

    // Its own help and version, on standard output.
    void helpAndVersion()
    {
        QScopedPointer<ToolRun> tool(strictTool());
        const ToolRun::Result help = tool->runBeside(Strict, {"--help"});
        QCOMPARE(help.status, 0);
        QVERIFY(help.out.startsWith("Usage: rfcard-strict")
            && help.out.contains("RFCARD_STRICT_VERIFY")
            && help.out.contains("  8  the card answered, but does not hold what was set"));
        const ToolRun::Result version = tool->runBeside(Strict, {"--version"});
        QCOMPARE(version.out, QByteArray("rfcard-strict version " RFCARD_VERSION_TEXT "\n"));
        QCOMPARE(help.err + version.err, QByteArray());
    }

    // A script's time-out or a kill ends the run and everything of it: the
    // next run finds the port free.
    void killedMidRun()
    {
        QScopedPointer<ToolRun> tool(strictTool());
        SimProcess card({"--family", "vn", "--fault", "no-reply:13"});
        for (const int signal : {SIGTERM, SIGKILL}) {
            QProcess p;
            p.start(QDir(tool->dir()).filePath(Strict),
                {"--com", card.device(), "--card", "vn2810", "--part", "1"});
            QVERIFY(card.waitForFault(signal == SIGTERM ? 1 : 2));
            ::kill(pid_t(p.processId()), signal);
            QVERIFY(p.waitForFinished(10000));
            for (const QString &pid : QDir("/proc").entryList(QDir::Dirs))
                QVERIFY(QFile::symLinkTarget("/proc/" + pid + "/exe") != tool->exe());
        }
        const ToolRun::Result r = tool->runBeside(Strict, {"--com", card.device(), "--part", "1"});
        QCOMPARE(r.status, 3);
    }
};

QTEST_GUILESS_MAIN(TestStrict)
#include "tst_strict.moc"
