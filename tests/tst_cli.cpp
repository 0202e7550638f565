// The command line as an operator meets it: the real executable, copied into
// a directory of its own, its output, its exit status and its rfcard.json.

#include "toolrun.h"

#include <QDir>
#include <QJsonDocument>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString NoPort = QStringLiteral("/nonexistent/rfcard-test-port");
const QString LongText(1001, QLatin1Char('1'));

// A run with "none" for the card model, so that nothing is opened and no
// serial port matters, and a port that cannot exist.
QString set(const QString &args)
{
    return QStringLiteral("--card none --com ") + NoPort + QLatin1Char(' ') + args;
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    // clang-format off
    void earlyExitsSaveNothing_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("stdoutStart");
        QTest::addColumn<QString>("stderrHas");
        QTest::newRow("help") << words("--help") << 0 << "Usage:" << "";
        QTest::newRow("-h") << words("-h") << 0 << "Usage:" << "";
        QTest::newRow("version") << words("--version") << 0 << "rfcard version 1.0.2\n" << "";
        QTest::newRow("-v") << words("-v") << 0 << "rfcard version 1.0.2\n" << "";
        QTest::newRow("no arguments") << QStringList() << 1 << "Usage:" << "";
        QTest::newRow("only positional") << words("foo bar") << 1 << "Usage:" << "";
        QTest::newRow("option after positional") << words("foo --part 1") << 1 << "Usage:" << "";
        QTest::newRow("unknown option") << words("--chan 1") << 1 << "" << "chan";
        QTest::newRow("missing value") << words("--part 2 --card") << 1 << "" << "card";
        QTest::newRow("ch too high") << words("--part 2 --part 0 --ch 4 --card none") << 1 << "" << "error: --ch must be 0 to 3, got \"4\"";
        QTest::newRow("ch negative") << words("--ch -1 --card none") << 1 << "" << "error: --ch must be 0 to 3, got \"-1\"";
        QTest::newRow("ch beyond int") << words("--ch 99999999999 --card none") << 1 << "" << "error: --ch must be 0 to 3, got \"99999999999\"";
        QTest::newRow("value too long") << words(set("--gain ") + LongText) << 1 << "" << "error: --gain must be at most 1000";
        QTest::newRow("long port, stored by every run") << words("--part 2 --com " + QString(1001, 'x')) << 1 << "" << "error: --com must be at most";
    }
    // clang-format on
    void earlyExitsSaveNothing()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, stdoutStart);
        QFETCH(QString, stderrHas);
        ToolRun tool;
        // None of these gets as far as opening a port.
        const ToolRun::Result r = tool.run(args);
        QCOMPARE(r.status, status);
        QVERIFY2(r.out.startsWith(stdoutStart.toUtf8()), r.out.constData());
        QVERIFY2(
            r.err.contains(stderrHas.toUtf8()) && !r.err.contains("open uart"), r.err.constData());
        QVERIFY(!tool.hasSettings());
        // The protocol modules are released however the process ends.
        QCOMPARE(r.err.count("~UartAgent close"), 4);
    }

    void helpListsTheOptionsInOrder()
    {
        const QString help = QString::fromUtf8(ToolRun().run({QStringLiteral("--help")}).out);
        int at = 0;
        for (const char *option :
            {"--help", "--version", "--card < eg: --card vn2810>", "--com < eg: --com com1>",
                "--part < eg: --part 0>", "--ch < eg: --ch 0>", "--freq < eg: --freq 1000.000>",
                "--gain < eg: --gain 0.0>", "--outfreq < eg: --outfreq 70>", "--ref < eg: --ref 0>",
                "--workmode < eg: --workmode 0>", "--band < eg: --band 0>",
                "--gainmode < eg: --gainmode 0>", "--upfreq < eg: --upfreq 1000.000>",
                "--upgain < eg: --upgain 0>", "--gch < eg: --gch 0>"}) {
            at = help.indexOf(QString::fromUtf8(option), at);
            QVERIFY2(at >= 0, option);
        }
        for (const char *text :
            {"变频卡型号 支持 VN2810,", "端口号 默认值com1", "1=回读(此处回读该通道的所有参数)",
                "其余变频卡为70MHz. 默认值70", "1=普通模式.(KLR620变频卡则相反) 默认值0",
                "变频卡JQ5120对应0=200MHz,1=400MHz,", "设置上变频增益 范围0-30dBmMHz. 默认值0"})
            QVERIFY2(help.contains(QString::fromUtf8(text)), text);
    }

    // Runs of one rfcard (" ; " between two), each from a folder of its own
    // and ending with status 0; the settings live beside the executable, and
    // nothing lands where a run starts. Then, after the last run, `where`:
    // "stdout" is all it printed, "stderr" holds the text and "not on
    // stderr" does not; "MODULE/KEY" is the text stored there, "MODULE/*"
    // the keys of the module.
    // clang-format off
    void runs_data()
    {
        QTest::addColumn<QString>("runs");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("text");
        QTest::newRow("freq MHz to kHz") << set("--freq 1000") << "RFCardParser ch1/freq" << "1000000.000";
        QTest::newRow("freq fraction") << set("--freq 20.5") << "RFCardParser ch1/freq" << "20500.000";
        QTest::newRow("freq not a number") << set("--freq abc") << "RFCardParser ch1/freq" << "0.000";
        QTest::newRow("gain as typed") << set("--gain 12.5") << "RFCardParser ch1/gain" << "12.5";
        QTest::newRow("gain2 twice") << set("--gain 12.5") << "RFCardParser ch1/gain2" << "25";
        QTest::newRow("gain2 of text") << set("--gain x1") << "RFCardParser ch1/gain2" << "0";
        QTest::newRow("outfreq 70") << set("--outfreq 70") << "RFCardParser ch1/outfreq" << "70000";
        QTest::newRow("outfreq 24.1") << set("--outfreq 24.1") << "RFCardParser ch1/outfreq" << "24100";
        QTest::newRow("outfreq 735") << set("--outfreq 735") << "RFCardParser ch1/outfreq" << "735000";
        QTest::newRow("upfreq 1000") << set("--upfreq 1000") << "RFCardParser ch1/upfreq" << "1e+06";
        QTest::newRow("upfreq 6 digits") << set("--upfreq 1234.567") << "RFCardParser ch1/upfreq" << "1.23457e+06";
        QTest::newRow("band as typed") << set("--band x7") << "RFCardParser ch1/band" << "x7";
        QTest::newRow("ref") << set("--ref 1") << "RFCardParser ch1/ref" << "1";
        QTest::newRow("upgain") << set("--upgain 5.5") << "RFCardParser ch1/upgain" << "5.5";
        QTest::newRow("last value counts") << set("--gain 1 --gain 2") << "RFCardParser ch1/gain" << "2";
        QTest::newRow("single dash") << set("-gain 7") << "RFCardParser ch1/gain" << "7";
        QTest::newRow("equals form") << set("--gain=8") << "RFCardParser ch1/gain" << "8";
        QTest::newRow("ch 2 is ch3") << set("--ch 2 --gain 3") << "RFCardParser ch3/gain" << "3";
        QTest::newRow("other channel untouched") << set("--ch 2 --gain 3") << "RFCardParser ch1/gain" << "0";
        QTest::newRow("ch abc is ch1") << set("--ch abc --gain 4") << "RFCardParser ch1/gain" << "4";
        QTest::newRow("1000 characters") << set("--upgain " + QString(1000, '7')) << "RFCardParser ch1/upgain" << QString(1000, '7');
        QTest::newRow("gch ignored in set run") << set("--gch 2 --gain 5") << "RFCardParser ch1/gain" << "5";
        QTest::newRow("non-integer part is a set run") << set("--part=1.0 --gain 6") << "RFCardParser ch1/gain" << "6";
        QTest::newRow("read-back stores no freq") << set("--part 1 --freq 1500") << "RFCardParser ch1/freq" << "1000000.000";
        QTest::newRow("defaults in kHz") << set("--part 2") << "RFCardParser ch1/freq" << "1000000.000";
        QTest::newRow("card upper-cased") << set("--part 2 --card vn2810") << "system/变频卡型号" << "VN2810";
        QTest::newRow("unknown card kept") << set("--part 2 --card vn2810a") << "system/变频卡型号" << "VN2810A";
        QTest::newRow("comN upper-cased") << set("--part 2 --com com3") << "system/端口号" << "COM3";
        QTest::newRow("device kept as typed") << set("--part 2 --com ttyUSB0") << "system/端口号" << "ttyUSB0";
        // The length limit guards the settings file: only values the run
        // stores count, and of a repeated option only the last.
        QTest::newRow("read-back, long freq") << set("--part 1 --freq " + LongText) << "RFCardParser ch1/gain" << "0";
        QTest::newRow("read-back, long channel") << set("--part 1 --gch " + LongText) << "RFCardParser ch1/gain" << "0";
        QTest::newRow("long, repeated, the last counts") << set("--gain " + LongText + " --gain 3") << "RFCardParser ch1/gain" << "3";
        // Values given reach the card as numbers, stored ones as texts.
        QTest::newRow("given gain as typed") << set("--gain 12.5") << "stderr" << R"(("gain", QVariant(QString, "12.5")))";
        QTest::newRow("given gain2 a number") << set("--gain 12.5") << "stderr" << R"(("gain2", QVariant(double, 25)))";
        QTest::newRow("given outfreq a number") << set("--outfreq 21.4") << "stderr" << R"(("outfreq", QVariant(double, 21400)))";
        const QString reuse = "--card klr621 --ch 1 --gain 12.5 --outfreq 24.1 --com " + NoPort + " ; --ch 1 --band 3";
        QTest::newRow("stored card reused") << reuse << "stderr" << R"(setAllParams cardname =  "KLR621")";
        QTest::newRow("stored gain2 a text") << reuse << "stderr" << R"(("gain2", QVariant(QString, "25")))";
        QTest::newRow("stored outfreq a text") << reuse << "stderr" << R"(("outfreq", QVariant(QString, "24100")))";
        QTest::newRow("band given after") << reuse << "stderr" << R"(("band", QVariant(QString, "3")))";
        QTest::newRow("stored port kept") << reuse << "system/端口号" << NoPort;
        QTest::newRow("stored gain kept") << reuse << "RFCardParser ch2/gain" << "12.5";
        // A first run stores every default.
        QTest::newRow("first run, card") << "--part 2" << "system/变频卡型号" << "VN2810";
        QTest::newRow("first run, port") << "--part 2" << "system/端口号" << "COM1";
        QTest::newRow("first run, channel keys") << "--part 2" << "RFCardParser ch4/*" << "band freq gain gain2 gainmode outfreq ref upfreq upgain workmode";
        QTest::newRow("settings beside the executable") << "--part 2 --card jq5120" << "system/变频卡型号" << "JQ5120";
        QTest::newRow("read-back of no model") << "--card vn2810a --part 1 --com " + NoPort << "stdout" << "{\n}\n\n";
        // VN2810 by default, read on channel 0: the positional --gch 2 is ignored.
        QTest::newRow("positional ends the options") << "--com " + NoPort + " --part 1 foo --gch 2" << "stderr" << R"(readAllParams cardname = "VN2810"  ch = 0)";
    }
    // clang-format on
    void runs()
    {
        QFETCH(QString, runs);
        QFETCH(QString, where);
        QFETCH(QString, text);
        ToolRun tool;
        QTemporaryDir elsewhere;
        ToolRun::Result r;
        for (const QString &args : runs.split(QStringLiteral(" ; "))) {
            r = tool.run(words(args), elsewhere.path());
            QVERIFY2(r.status == 0, r.err.constData());
        }
        QVERIFY(r.err.contains("path = \"" + QDir(tool.dir()).canonicalPath().toUtf8() + '"'));
        QVERIFY(QDir(elsewhere.path()).isEmpty());
        const QString module = where.section('/', 0, 0);
        const QString key = where.section('/', 1);
        if (where == QLatin1String("stdout"))
            QCOMPARE(QString::fromUtf8(r.out), text);
        else if (where.endsWith(QLatin1String("stderr")))
            QVERIFY2(r.err.contains(text.toUtf8()) != where.startsWith("not"), r.err.constData());
        else if (key == QLatin1String("*"))
            QCOMPARE(tool.settings().value(module).toObject().keys().join(' '), text);
        else
            QCOMPARE(tool.stored(module, key), text);
    }

    // A program folder named in another encoding than the locale's ("caf\xe9"
    // in a UTF-8 locale) cannot be named as a Qt path: every path made from
    // it leads elsewhere, to the folder the run started in or to a folder
    // whose name holds U+FFFD. The run says so and stores nothing anywhere.
    void folderNameTheEncodingCannotHold()
    {
        ToolRun tool;
        const QByteArray folder = QFile::encodeName(tool.dir()) + "/caf\xe9";
        QCOMPARE(::mkdir(folder.constData(), 0755), 0);
        QCOMPARE(
            ::link(QFile::encodeName(tool.exe()).constData(), (folder + "/rfcard").constData()), 0);
        const QString lookalike = tool.dir() + QStringLiteral("/caf\ufffd");
        QVERIFY(QDir().mkdir(lookalike));
        QTemporaryDir elsewhere;
        QFile theirs(QDir(elsewhere.path()).filePath(QStringLiteral("rfcard.json")));
        const QByteArray content = R"({"system": {"端口号": "untouched"}})";
        QVERIFY(theirs.open(QIODevice::WriteOnly) && theirs.write(content) == content.size());
        theirs.close();

        QProcess p;
        p.setWorkingDirectory(elsewhere.path());
        p.start(QStringLiteral("/bin/sh"),
            {"-c",
                "exec env LC_ALL=C.UTF-8 \"$0/$(printf 'caf\\351')/rfcard\" --part 2 --card jq5120",
                tool.dir()});
        QVERIFY(p.waitForFinished(30000));
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), 0);
        QVERIFY2(err.contains("not valid in this system's file name encoding"), err.constData());
        QVERIFY(theirs.open(QIODevice::ReadOnly));
        QCOMPARE(theirs.readAll(), content);
        QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files).size(), 1);
        QVERIFY(QDir(lookalike).isEmpty());
        QCOMPARE(::access((folder + "/rfcard.json").constData(), F_OK), -1);

        // Nor is a settings link to such a name followed under a mangled one.
        const QByteArray link = QFile::encodeName(tool.dir()) + "/rfcard.json";
        QCOMPARE(::symlink("caf\xe9/rfcard.json", link.constData()), 0);
        p.start(QStringLiteral("/usr/bin/env"), {"LC_ALL=C.UTF-8", tool.exe(), "--part", "2"});
        QVERIFY(p.waitForFinished(30000));
        QVERIFY(p.readAllStandardError().contains("leads to a name that is not valid"));
        QVERIFY(QDir(lookalike).isEmpty());
        QCOMPARE(::access((folder + "/rfcard.json").constData(), F_OK), -1);
    }

    // The file is the operator's too: a run that changes nothing leaves it
    // alone, in the operator's own compact layout; a run that changes a
    // value keeps everything else, the operator's own notes included.
    void runsKeepTheOperatorsFile()
    {
        ToolRun tool;
        const QStringList same = words(set("--ch 1 --gain 3"));
        QCOMPARE(tool.run(same).status, 0);
        QByteArray compact = QJsonDocument(tool.settings()).toJson(QJsonDocument::Compact);
        compact.replace("\"RFCardParser ch2\":{", R"("RFCardParser ch2":{"owner":"lab",)");
        tool.writeSettings(compact.insert(1, R"("my notes":{"rack":"B7"},)"));
        QCOMPARE(tool.run(same).status, 0);
        QCOMPARE(tool.settingsText(), compact);

        QCOMPARE(tool.run(words("--card none --ch 1 --ref 1")).status, 0);
        const QString ch2 = QStringLiteral("RFCardParser ch2");
        QCOMPARE(
            QStringList({tool.stored(QStringLiteral("my notes"), QStringLiteral("rack")),
                tool.stored(ch2, QStringLiteral("owner")), tool.stored(ch2, QStringLiteral("gain")),
                tool.stored(ch2, QStringLiteral("ref"))}),
            QStringList({"B7", "lab", "3", "1"}));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
