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

class TestStore : public QObject
{
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
        LogCapture log;
        QVERIFY(!Core::Instance()->saveConfig(false));
        QVERIFY(log.contains(QStringLiteral("/nonexistent-rfcard-dir/rfcard.json")));
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
