// The command line as an operator meets it: the real executable, copied into
// a directory of its own, its output, its exit status and its rfcard.json.

#include "toolrun.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString NoPort = QStringLiteral("/nonexistent/rfcard-test-port");
const QString Ch1 = QStringLiteral("RFCardParser ch1");
const QString CardKey = QStringLiteral("变频卡型号");
const QString PortKey = QStringLiteral("端口号");

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
        QTest::newRow("ch too high") << words("--part 2 --part 0 --ch 4 --card none")
                                     << 1 << "" << "error: --ch must be 0 to 3, got \"4\"";
        QTest::newRow("ch negative") << words("--ch -1 --card none") << 1 << ""
                                     << "error: --ch must be 0 to 3, got \"-1\"";
        QTest::newRow("ch beyond int") << words("--ch 99999999999 --card none") << 1 << ""
                                       << "error: --ch must be 0 to 3, got \"99999999999\"";
        QTest::newRow("value too long") << (words("--card none --gain") << QString(1001, '1'))
                                        << 1 << "" << "error: --gain must be at most 1000";
        QTest::newRow("long port, stored by every run") << (words("--part 2 --com") << QString(1001, 'x'))
                                                        << 1 << "" << "error: --com must be at most";
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
        QVERIFY2(r.err.contains(stderrHas.toUtf8()), r.err.constData());
        QVERIFY(!tool.hasSettings());
        QVERIFY(!r.err.contains("open uart"));
        // The protocol modules are released however the process ends.
        QCOMPARE(r.err.count("~UartAgent close"), 4);
    }

    // The length limit guards the settings file: only values the run stores
    // count, and of a repeated option only the last.
    // clang-format off
    void onlyStoredValuesAreLimited_data()
    {
        const QString longText(1001, '1');
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("gain"); // stored for channel 1 afterwards
        QTest::newRow("read-back") << (words("--part 1 --freq") << longText) << "0";
        QTest::newRow("read-back channel") << (words("--part 1 --gch") << longText) << "0";
        QTest::newRow("repeated, the last counts") << (words("--gain") << longText << "--gain" << "3") << "3";
    }
    // clang-format on

    void onlyStoredValuesAreLimited()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, gain);
        ToolRun tool;
        const ToolRun::Result r = tool.run(QStringList{"--card", "none", "--com", NoPort} + args);
        QVERIFY2(r.status == 0, r.err.constData());
        QCOMPARE(tool.stored(Ch1, QStringLiteral("gain")), gain);
    }

    void helpListsTheOptionsInOrder()
    {
        ToolRun tool;
        const QString help = QString::fromUtf8(tool.run({QStringLiteral("--help")}).out);
        const char *expected[] = {
            "--help",
            "--version",
            "--card < eg: --card vn2810>",
            "--com < eg: --com com1>",
            "--part < eg: --part 0>",
            "--ch < eg: --ch 0>",
            "--freq < eg: --freq 1000.000>",
            "--gain < eg: --gain 0.0>",
            "--outfreq < eg: --outfreq 70>",
            "--ref < eg: --ref 0>",
            "--workmode < eg: --workmode 0>",
            "--band < eg: --band 0>",
            "--gainmode < eg: --gainmode 0>",
            "--upfreq < eg: --upfreq 1000.000>",
            "--upgain < eg: --upgain 0>",
            "--gch < eg: --gch 0>",
        };
        int at = 0;
        for (const char *text : expected) {
            const int found = help.indexOf(QString::fromUtf8(text), at);
            QVERIFY2(found >= 0, text);
            at = found;
        }
        for (const char *text :
            {"变频卡型号 支持 VN2810,", "端口号 默认值com1", "1=回读(此处回读该通道的所有参数)",
                "其余变频卡为70MHz. 默认值70", "1=普通模式.(KLR620变频卡则相反) 默认值0",
                "变频卡JQ5120对应0=200MHz,1=400MHz,", "设置上变频增益 范围0-30dBmMHz. 默认值0"})
            QVERIFY2(help.contains(QString::fromUtf8(text)), text);
    }

    // What a set run stores, option by option. "none" is no card model, so
    // nothing is opened and the test does not depend on any serial port.
    // clang-format off
    void setRunStoresTheMergedTexts_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("module");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        const QString ch3 = QStringLiteral("RFCardParser ch3");
        QTest::newRow("freq MHz to kHz") << words("--freq 1000") << Ch1 << "freq" << "1000000.000";
        QTest::newRow("freq fraction") << words("--freq 20.5") << Ch1 << "freq" << "20500.000";
        QTest::newRow("freq not a number") << words("--freq abc") << Ch1 << "freq" << "0.000";
        QTest::newRow("gain as typed") << words("--gain 12.5") << Ch1 << "gain" << "12.5";
        QTest::newRow("gain2 twice") << words("--gain 12.5") << Ch1 << "gain2" << "25";
        QTest::newRow("gain2 of text") << words("--gain x1") << Ch1 << "gain2" << "0";
        QTest::newRow("outfreq 70") << words("--outfreq 70") << Ch1 << "outfreq" << "70000";
        QTest::newRow("outfreq 24.1") << words("--outfreq 24.1") << Ch1 << "outfreq" << "24100";
        QTest::newRow("outfreq 153.6") << words("--outfreq 153.6") << Ch1 << "outfreq" << "153600";
        QTest::newRow("outfreq 735") << words("--outfreq 735") << Ch1 << "outfreq" << "735000";
        QTest::newRow("upfreq 1000") << words("--upfreq 1000") << Ch1 << "upfreq" << "1e+06";
        QTest::newRow("upfreq 2150") << words("--upfreq 2150") << Ch1 << "upfreq" << "2.15e+06";
        QTest::newRow("upfreq 6 digits") << words("--upfreq 1234.567") << Ch1 << "upfreq" << "1.23457e+06";
        QTest::newRow("band as typed") << words("--band x7") << Ch1 << "band" << "x7";
        QTest::newRow("ref") << words("--ref 1") << Ch1 << "ref" << "1";
        QTest::newRow("workmode") << words("--workmode 1") << Ch1 << "workmode" << "1";
        QTest::newRow("gainmode") << words("--gainmode 1") << Ch1 << "gainmode" << "1";
        QTest::newRow("upgain") << words("--upgain 5.5") << Ch1 << "upgain" << "5.5";
        QTest::newRow("last value counts") << words("--gain 1 --gain 2") << Ch1 << "gain" << "2";
        QTest::newRow("single dash") << words("-gain 7") << Ch1 << "gain" << "7";
        QTest::newRow("equals form") << words("--gain=8") << Ch1 << "gain" << "8";
        QTest::newRow("ch 2 is ch3") << words("--ch 2 --gain 3") << ch3 << "gain" << "3";
        QTest::newRow("ch 2 gain2") << words("--ch 2 --gain 3") << ch3 << "gain2" << "6";
        QTest::newRow("other channel untouched") << words("--ch 2 --gain 3") << Ch1 << "gain" << "0";
        QTest::newRow("ch abc is ch1") << words("--ch abc --gain 4") << Ch1 << "gain" << "4";
        QTest::newRow("ch 1e3 is ch1") << words("--ch 1e3 --gain 4") << Ch1 << "gain" << "4";
        QTest::newRow("1000 characters") << (words("--upgain") << QString(1000, '7')) << Ch1
                                         << "upgain" << QString(1000, '7');
        QTest::newRow("gch ignored in set run") << words("--gch 2 --gain 5") << Ch1 << "gain" << "5";
        QTest::newRow("non-integer part is a set run") << words("--part=1.0 --gain 6") << Ch1 << "gain" << "6";
        QTest::newRow("read-back stores no freq") << words("--part 1 --freq 1500") << Ch1 << "freq" << "1000000.000";
        QTest::newRow("defaults in kHz") << words("--part 2") << Ch1 << "freq" << "1000000.000";
        QTest::newRow("card upper-cased") << words("--part 2 --card vn2810") << "system" << CardKey << "VN2810";
        QTest::newRow("unknown card kept") << words("--part 2 --card vn2810a") << "system" << CardKey << "VN2810A";
        QTest::newRow("comN upper-cased") << words("--part 2 --com com3") << "system" << PortKey << "COM3";
        QTest::newRow("device kept as typed") << words("--part 2 --com ttyUSB0") << "system" << PortKey << "ttyUSB0";
    }
    // clang-format on
    void setRunStoresTheMergedTexts()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, module);
        QFETCH(QString, key);
        QFETCH(QString, text);
        ToolRun tool;
        const QStringList fixed
            = {QStringLiteral("--card"), QStringLiteral("none"), QStringLiteral("--com"), NoPort};
        const ToolRun::Result r = tool.run(fixed + args);
        QCOMPARE(r.status, 0);
        QCOMPARE(tool.stored(module, key), text);
    }

    void firstRunStoresTheDefaults()
    {
        ToolRun tool;
        QCOMPARE(tool.run(words("--part 2")).status, 0);
        QCOMPARE(tool.stored(QStringLiteral("system"), CardKey), QStringLiteral("VN2810"));
        QCOMPARE(tool.stored(QStringLiteral("system"), PortKey), QStringLiteral("COM1"));
        const QJsonObject ch4
            = tool.settings().value(QStringLiteral("RFCardParser ch4")).toObject();
        QCOMPARE(ch4.keys().size(), 10);
        QCOMPARE(ch4.value(QStringLiteral("outfreq")).toString(), QStringLiteral("70000"));
        QCOMPARE(ch4.value(QStringLiteral("upfreq")).toString(), QStringLiteral("1e+06"));
    }

    void nextRunReusesWhatWasStored()
    {
        ToolRun tool;
        QCOMPARE(
            tool.run(words("--card klr621 --ch 1 --gain 12.5 --outfreq 24.1") << "--com" << NoPort)
                .status,
            0);
        // No card, port or gain given: all of it comes from the store, as texts.
        const ToolRun::Result r = tool.run(words("--ch 1 --band 3"));
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.contains("setAllParams cardname =  \"KLR621\""), r.err.constData());
        QVERIFY(r.err.contains("(\"gain2\", QVariant(QString, \"25\"))"));
        QVERIFY(r.err.contains("(\"outfreq\", QVariant(QString, \"24100\"))"));
        QVERIFY(r.err.contains("(\"band\", QVariant(QString, \"3\"))"));
        QCOMPARE(tool.stored(QStringLiteral("system"), PortKey), NoPort);
        QCOMPARE(tool.stored(QStringLiteral("RFCardParser ch2"), QStringLiteral("gain")),
            QStringLiteral("12.5"));
    }

    void givenValuesReachTheMapAsNumbers()
    {
        ToolRun tool;
        const ToolRun::Result r = tool.run(
            words("--card none --gain 12.5 --outfreq 21.4 --upfreq 1234.567") << "--com" << NoPort);
        QVERIFY(r.err.contains("(\"gain\", QVariant(QString, \"12.5\"))"));
        QVERIFY(r.err.contains("(\"gain2\", QVariant(double, 25))"));
        QVERIFY(r.err.contains("(\"outfreq\", QVariant(double, 21400))"));
        QVERIFY(r.err.contains("(\"upfreq\", QVariant(double, 1.23457e+06))"));
    }

    void readBackOfUnknownModelIsAnEmptyObject()
    {
        ToolRun tool;
        const ToolRun::Result r = tool.run(words("--card vn2810a --part 1") << "--com" << NoPort);
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QByteArray("{\n}\n\n"));
        QVERIFY(!r.err.contains("open uart"));
    }

    void positionalArgumentsEndTheOptions()
    {
        ToolRun tool;
        const ToolRun::Result r = tool.run(
            QStringList{QStringLiteral("--com"), NoPort} + words("--part 1 foo --gch 2"));
        QCOMPARE(r.status, 0);
        // VN2810 by default, read on channel 0: the positional --gch 2 is ignored.
        QVERIFY2(r.out.contains("\"ch\": \"0\""), r.out.constData());
        QVERIFY(r.err.contains("open uart \"/nonexistent/rfcard-test-port\" failed"));
    }

    void settingsLiveBesideTheExecutable()
    {
        ToolRun tool;
        QTemporaryDir elsewhere;
        const ToolRun::Result r = tool.run(words("--part 2 --card jq5120"), elsewhere.path());
        QCOMPARE(r.status, 0);
        QVERIFY(r.err.contains(
            QStringLiteral("path = \"%1\"").arg(QDir(tool.dir()).canonicalPath()).toUtf8()));
        QCOMPARE(tool.stored(QStringLiteral("system"), CardKey), QStringLiteral("JQ5120"));
        QVERIFY(!QFile::exists(QDir(elsewhere.path()).filePath(QStringLiteral("rfcard.json"))));
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
        const QString theirs = QDir(elsewhere.path()).filePath(QStringLiteral("rfcard.json"));
        const QByteArray content = R"({"system": {"端口号": "untouched"}})";
        QFile file(theirs);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();

        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(elsewhere.path());
        p.start(QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"),
                QStringLiteral("exec \"$1/$(printf 'caf\\351')/rfcard\" "
                               "--part 2 --card jq5120"),
                QStringLiteral("sh"), tool.dir()});
        QVERIFY(p.waitForFinished(30000));
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), 0);
        QVERIFY2(err.contains("not valid in this system's file name encoding"), err.constData());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
        QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files).size(), 1);
        QVERIFY(QDir(lookalike).isEmpty());
        QCOMPARE(::access((folder + "/rfcard.json").constData(), F_OK), -1);
    }

    void runThatChangesNothingLeavesTheFileAlone()
    {
        ToolRun tool;
        const QStringList args = words("--card none --ch 1 --gain 3") << "--com" << NoPort;
        QCOMPARE(tool.run(args).status, 0);
        // The same settings, in the user's own compact layout.
        const QByteArray compact = QJsonDocument(tool.settings()).toJson(QJsonDocument::Compact);
        tool.writeSettings(compact);
        QCOMPARE(tool.run(args).status, 0);
        QFile file(QDir(tool.dir()).filePath(QStringLiteral("rfcard.json")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), compact);
        // A change rewrites it.
        QCOMPARE(tool.run(words("--card none --ch 1 --gain 4")).status, 0);
        QCOMPARE(tool.stored(QStringLiteral("RFCardParser ch2"), QStringLiteral("gain")),
            QStringLiteral("4"));
    }

    void userDataInTheFileSurvivesARun()
    {
        ToolRun tool;
        tool.writeSettings(
            R"({"my notes": {"rack": "B7"}, "RFCardParser ch1": {"gain": "9", "owner": "lab"}})");
        QCOMPARE(tool.run(words("--card none --ch 0 --ref 1") << "--com" << NoPort).status, 0);
        QCOMPARE(
            tool.stored(QStringLiteral("my notes"), QStringLiteral("rack")), QStringLiteral("B7"));
        QCOMPARE(tool.stored(Ch1, QStringLiteral("owner")), QStringLiteral("lab"));
        QCOMPARE(tool.stored(Ch1, QStringLiteral("gain")), QStringLiteral("9"));
        QCOMPARE(tool.stored(Ch1, QStringLiteral("ref")), QStringLiteral("1"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
