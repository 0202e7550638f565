#include "capture.h"
#include "store/corvanecore.h"
#include "store/corvanemodule.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using Corvane::Core;
using Corvane::Module;

class TestStore : public QObject {
    Q_OBJECT

private:
    static void write(const QString &path, const QByteArray &content)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    static QJsonObject read(const QString &path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return QJsonObject();
        return QJsonDocument::fromJson(f.readAll()).object();
    }

private slots:
    void roundTripKeepsWhatItDoesNotKnow()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rfcard.json"));
        write(path, R"({
            "round a": { "k1": "stored", "extra": "user note", "num": 7 },
            "foreign module": { "x": "y", "list": [1, 2] }
        })");
        Core::Instance()->init(path);

        auto *module = new Module(QStringLiteral("round a"));
        module->init(QStringLiteral("k1"), QStringLiteral("d1"));
        module->init(QStringLiteral("k2"), QStringLiteral("d2"));
        QVERIFY(Core::Instance()->registerModule(module));

        QCOMPARE(module->val(QStringLiteral("k1")), QStringLiteral("stored"));
        QCOMPARE(module->val(QStringLiteral("k2")), QStringLiteral("d2"));
        QCOMPARE(module->val(QStringLiteral("extra")), QStringLiteral("user note"));
        QCOMPARE(module->val(QStringLiteral("never")), QString());

        module->set(QStringLiteral("k2"), QStringLiteral("new"));
        QCOMPARE(module->val(QStringLiteral("k2")), QStringLiteral("new"));
        QVERIFY(Core::Instance()->saveConfig(false));

        const QJsonObject root = read(path);
        const QJsonObject a = root.value(QStringLiteral("round a")).toObject();
        QCOMPARE(a.value(QStringLiteral("k1")).toString(), QStringLiteral("stored"));
        QCOMPARE(a.value(QStringLiteral("k2")).toString(), QStringLiteral("new"));
        QCOMPARE(a.value(QStringLiteral("extra")).toString(), QStringLiteral("user note"));
        QCOMPARE(a.value(QStringLiteral("num")).toInt(), 7);
        const QJsonObject foreign = root.value(QStringLiteral("foreign module")).toObject();
        QCOMPARE(foreign.value(QStringLiteral("x")).toString(), QStringLiteral("y"));
        QCOMPARE(foreign.value(QStringLiteral("list")).toArray().size(), 2);

        // The next run reads back what this one saved.
        Core::Instance()->init(path);
        QCOMPARE(module->val(QStringLiteral("k2")), QStringLiteral("new"));
    }

    void systemModuleDefaultsLoseToTheFile()
    {
        Module *system = Core::Instance()->invokeModule(QStringLiteral("system"));
        QVERIFY(system);
        QCOMPARE(Core::Instance()->invokeModule(QStringLiteral("system")), system);
        QVERIFY(!Core::Instance()->invokeModule(QStringLiteral("no such module")));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rfcard.json"));
        system->init(QStringLiteral("model"), QStringLiteral("VN2810"));
        system->init(QStringLiteral("port"), QStringLiteral("COM1"));
        write(path, R"({ "system": { "model": "KLR620" } })");
        Core::Instance()->init(path);
        QCOMPARE(system->val(QStringLiteral("model")), QStringLiteral("KLR620"));
        QCOMPARE(system->val(QStringLiteral("port")), QStringLiteral("COM1"));
    }

    // clang-format off
    void missingOrDamagedFileGivesDefaults_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("not json") << QByteArray("freq=1000");
        QTest::newRow("truncated") << QByteArray(R"({"defaults b": {"k": "x")");
        QTest::newRow("array") << QByteArray("[1,2,3]");
        QTest::newRow("wrong types") << QByteArray(R"({"defaults b": {"k": 5}})");
        QTest::newRow("module not object") << QByteArray(R"({"defaults b": "k"})");
    }
    // clang-format on
    void missingOrDamagedFileGivesDefaults()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rfcard.json"));
        if (!content.isNull())
            write(path, content);
        Core::Instance()->init(path);
        static Module *module = nullptr;
        if (!module) {
            module = new Module(QStringLiteral("defaults b"));
            module->init(QStringLiteral("k"), QStringLiteral("default"));
            Core::Instance()->registerModule(module);
        }
        QCOMPARE(module->val(QStringLiteral("k")), QStringLiteral("default"));
    }

    void moduleNamesAreUnique()
    {
        auto *first = new Module(QStringLiteral("twice"));
        auto *second = new Module(QStringLiteral("twice"));
        QVERIFY(Core::Instance()->registerModule(first));
        QVERIFY(!Core::Instance()->registerModule(second));
        QVERIFY(!Core::Instance()->registerModule(nullptr));
        QCOMPARE(Core::Instance()->invokeModule(QStringLiteral("twice")), first);
        delete second;
    }

    void unicodeDecodesGbk()
    {
        QCOMPARE(Core::Instance()->unicode("\xb1\xe4\xc6\xb5\xbf\xa8\xd0\xcd\xba\xc5"),
            QStringLiteral("变频卡型号"));
        QCOMPARE(Core::Instance()->unicode("\xb6\xcb\xbf\xda\xba\xc5"), QStringLiteral("端口号"));
        QCOMPARE(Core::Instance()->unicode("COM1"), QStringLiteral("COM1"));
    }

    void failedSaveIsReported()
    {
        Core::Instance()->init(QStringLiteral("/nonexistent-rfcard-dir/rfcard.json"));
        StdoutCapture err(2);
        QVERIFY(!Core::Instance()->saveConfig(false));
        const QByteArray text = err.text();
        QVERIFY2(text.contains(
                     "warning: cannot save settings to \"/nonexistent-rfcard-dir/rfcard.json\""),
            text.constData());
    }

    // A file that cannot be understood is reported when it is loaded, and kept
    // as rfcard.json.bad when the save replaces it.
    // clang-format off
    void damagedFileIsReportedAndKept_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("problem");
        QTest::newRow("empty") << QByteArray("  \n") << "empty";
        QTest::newRow("not json") << QByteArray("freq=1000\n") << "not JSON";
        QTest::newRow("truncated") << QByteArray(R"({"damaged c": {"k": "x")") << "not JSON";
        QTest::newRow("binary junk") << QByteArray("\x00\xff\xfe\x01junk", 8) << "not JSON";
        QTest::newRow("array") << QByteArray("[1, 2]") << "not a JSON object";
        QTest::newRow("module not object") << QByteArray(R"({"damaged c": 5})") << "module \"damaged c\" is not an object";
        QTest::newRow("key not text") << QByteArray(R"({"damaged c": {"k": "kept", "n": null}})") << "\"n\" of module \"damaged c\" is not a text";
        QTest::newRow("huge") << QByteArray(int(Core::MaxFileSize) + 1, ' ') << "larger than";
    }
    // clang-format on
    void damagedFileIsReportedAndKept()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rfcard.json"));
        write(path, content);
        static Module *module = nullptr;
        if (!module) {
            module = new Module(QStringLiteral("damaged c"));
            module->init(QStringLiteral("k"), QStringLiteral("default"));
            Core::Instance()->registerModule(module);
        }
        {
            StdoutCapture err(2);
            Core::Instance()->init(path);
            const QString text = QString::fromUtf8(err.text());
            QVERIFY2(text.contains(path) && text.contains(problem), qPrintable(text));
        }
        // What is sound is still used.
        const bool partly = QByteArray(QTest::currentDataTag()) == "key not text";
        QCOMPARE(
            module->val(QStringLiteral("k")), QString::fromLatin1(partly ? "kept" : "default"));
        {
            StdoutCapture err(2);
            QVERIFY(Core::Instance()->saveConfig(false));
            QVERIFY(err.text().contains(".bad"));
        }
        QFile bad(path + QStringLiteral(".bad"));
        QVERIFY(bad.open(QIODevice::ReadOnly));
        QCOMPARE(bad.readAll(), content);
        QVERIFY(read(path).value(QStringLiteral("damaged c")).isObject());
    }

    // Another run saved between this run's load and save: both runs' texts
    // end up in the file.
    void saveMergesWithWhatOthersSaved()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rfcard.json"));
        write(path, R"({"merge d": {"a": "1", "b": "1"}})");
        Core::Instance()->init(path);
        auto *module = new Module(QStringLiteral("merge d"));
        module->init(QStringLiteral("a"), QStringLiteral("0"));
        module->init(QStringLiteral("b"), QStringLiteral("0"));
        module->init(QStringLiteral("c"), QStringLiteral("0"));
        Core::Instance()->registerModule(module);
        module->set(QStringLiteral("a"), QStringLiteral("mine"));

        write(path, R"({"merge d": {"a": "1", "b": "theirs"}, "their module": {"x": "y"}})");
        QVERIFY(Core::Instance()->saveConfig(false));
        const QJsonObject root = read(path);
        const QJsonObject d = root.value(QStringLiteral("merge d")).toObject();
        QCOMPARE(d.value(QStringLiteral("a")).toString(), QStringLiteral("mine"));
        QCOMPARE(d.value(QStringLiteral("b")).toString(), QStringLiteral("theirs"));
        QCOMPARE(d.value(QStringLiteral("c")).toString(), QStringLiteral("0"));
        QCOMPARE(root.value(QStringLiteral("their module"))
                     .toObject()
                     .value(QStringLiteral("x"))
                     .toString(),
            QStringLiteral("y"));
        QVERIFY(!QFile::exists(path + QStringLiteral(".bad")));
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
