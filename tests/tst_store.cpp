#include "capture.h"
#include "store/corvanecore.h"
#include "store/corvanemodule.h"
#include "toolrun.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using Corvane::Core;
using Corvane::Module;

namespace {

// A special file of `kind` at `path`, made in the test's own folder: a FIFO,
// a folder, a character device (root only: the numbers of /dev/zero, but a
// node of its own), or a link to such a device beside it.
bool makeSpecial(const QString &path, const QString &kind)
{
    const QByteArray name = QFile::encodeName(path);
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(name.constData(), 0666) == 0;
    if (kind == QLatin1String("dir"))
        return QDir().mkdir(path);
    if (kind == QLatin1String("device"))
        return ::mknod(name.constData(), S_IFCHR | 0666, makedev(1, 5)) == 0;
    const QString device = path + QStringLiteral(".device");
    return makeSpecial(device, QStringLiteral("device")) && QFile::link(device, path);
}

} // namespace

class TestStore : public QObject {
    Q_OBJECT

private:
    static QJsonObject read(const QString &path)
    {
        return QJsonDocument::fromJson(fileBytes(path)).object();
    }
    // The text of key k of `name` in the file at `path`.
    static QString k(const QString &path, const char *name)
    {
        return read(path)
            .value(QLatin1String(name))
            .toObject()
            .value(QLatin1String("k"))
            .toString();
    }
    // A module of its own per test, registered once.
    static Module *module(const char *name)
    {
        Module *m = Core::Instance()->invokeModule(QString::fromLatin1(name));
        if (!m) {
            m = new Module(QString::fromLatin1(name));
            m->init(QStringLiteral("k"), QStringLiteral("default"));
            Core::Instance()->registerModule(m);
        }
        return m;
    }
    // Loads `path`, sets k of `name` and saves; returns what the save said.
    static QString setAndSave(
        const QString &path, const char *name, const QString &text, bool *saved = nullptr)
    {
        Core::Instance()->init(path);
        module(name)->set(QStringLiteral("k"), text);
        StdoutCapture err(2);
        const bool ok = Core::Instance()->saveConfig(false);
        if (saved)
            *saved = ok;
        return QString::fromUtf8(err.text());
    }

private slots:
    void roundTripKeepsWhatItDoesNotKnow()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rfcard.json"));
        QVERIFY(writeFile(path, R"({
            "round a": { "k1": "stored", "extra": "user note", "num": 7 },
            "foreign module": { "x": "y", "list": [1, 2] }
        })"));
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
        const QJsonObject foreign = root.value(QStringLiteral("foreign module")).toObject();
        QCOMPARE(foreign.value(QStringLiteral("x")).toString(), QStringLiteral("y"));
        // What the store cannot use is dropped, or every later run would
        // report the file as damaged again.
        QVERIFY(!a.contains(QStringLiteral("num")));
        QVERIFY(!foreign.contains(QStringLiteral("list")));

        // The next run reads back what this one saved, and has nothing to say.
        StdoutCapture err(2);
        Core::Instance()->init(path);
        QCOMPARE(module->val(QStringLiteral("k2")), QStringLiteral("new"));
        QCOMPARE(err.text(), QByteArray());
    }

    // The framework's own "system" module exists before any file is loaded;
    // what a file holds wins over the defaults declared before the load.
    // Module names are unique, and the keys given as GBK bytes are decoded.
    void frameworkModulesAndKeys()
    {
        Module *system = Core::Instance()->invokeModule(QStringLiteral("system"));
        QVERIFY(system && !Core::Instance()->invokeModule(QStringLiteral("no such module")));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rfcard.json"));
        system->init(QStringLiteral("model"), QStringLiteral("VN2810"));
        system->init(QStringLiteral("port"), QStringLiteral("COM1"));
        QVERIFY(writeFile(path, R"({ "system": { "model": "KLR620" } })"));
        Core::Instance()->init(path);
        QCOMPARE(system->val(QStringLiteral("model")), QStringLiteral("KLR620"));
        QCOMPARE(system->val(QStringLiteral("port")), QStringLiteral("COM1"));

        auto *first = new Module(QStringLiteral("twice"));
        QScopedPointer<Module> second(new Module(QStringLiteral("twice")));
        QVERIFY(Core::Instance()->registerModule(first));
        QVERIFY(!Core::Instance()->registerModule(second.data()));
        QVERIFY(!Core::Instance()->registerModule(nullptr));
        QCOMPARE(Core::Instance()->invokeModule(QStringLiteral("twice")), first);

        QCOMPARE(Core::Instance()->unicode("\xb1\xe4\xc6\xb5\xbf\xa8\xd0\xcd\xba\xc5"),
            QStringLiteral("变频卡型号"));
        QCOMPARE(Core::Instance()->unicode("\xb6\xcb\xbf\xda\xba\xc5"), QStringLiteral("端口号"));
        QCOMPARE(Core::Instance()->unicode("COM1"), QStringLiteral("COM1"));
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
        QTest::newRow("module twice") << QByteArray(R"({"damaged c": {"k": "kept", "x": "1"}, "damaged c": {"k": "kept"}})") << "names a module more than once";
        QTest::newRow("key twice") << QByteArray(R"({"damaged c": {"k": "kept", "k": "kept"}})") << "names a setting twice in one module";
        QTest::newRow("huge") << QByteArray(int(Core::MaxFileSize) + 1, ' ') << "larger than";
        // Another operator's names reach the terminal only as printable text.
        QTest::newRow("name with control characters") << QByteArray("{\"x\\n{\\u001b]0;t\\u0007\": 5}") << "module \"x\\n{\\u001b]0;t\\u0007\" is not an object";
        QTest::newRow("name of any plane") << QByteArray("{\"new\xf0\x9f\x98\x80\xc3\xa9\\u202e\": 5}") << "module \"new\xf0\x9f\x98\x80\xc3\xa9\\u202e\" is not an object";
    }
    // clang-format on
    void damagedFileIsReportedAndKept()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rfcard.json"));
        QVERIFY(writeFile(path, content));
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
            QVERIFY(!text.contains(QRegularExpression(QStringLiteral("[\\x00-\\x09\\x0b-\\x1f]"))));
        }
        // What is sound is still used.
        const bool partly = content.contains("\"kept\"");
        QCOMPARE(
            module->val(QStringLiteral("k")), QString::fromLatin1(partly ? "kept" : "default"));
        {
            StdoutCapture err(2);
            QVERIFY(Core::Instance()->saveConfig(false));
            QVERIFY(err.text().contains(".bad"));
        }
        QCOMPARE(fileBytes(path + QStringLiteral(".bad")), content);
        QVERIFY(read(path).value(QStringLiteral("damaged c")).isObject());
        // What replaced it loads clean and silent.
        StdoutCapture err(2);
        Core::Instance()->init(path);
        QCOMPARE(err.text(), QByteArray());
    }

    // Every damaged file gets its own copy; the first, which holds the
    // operator's own values, is never overwritten, and the copies are bounded.
    void badCopiesKeepTheFirst()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rfcard.json"));
        for (int round = 0; round < Core::MaxBadCopies + 3; ++round) {
            QVERIFY(writeFile(path, "damaged " + QByteArray::number(round)));
            QVERIFY(setAndSave(path, "bad copies", QString::number(round)).contains(".bad"));
        }
        QCOMPARE(fileBytes(path + QStringLiteral(".bad")), QByteArray("damaged 0"));
        // The oldest of the later copies made way for the newest.
        QCOMPARE(fileBytes(path + QStringLiteral(".bad.1")), QByteArray("damaged 10"));
        QCOMPARE(fileBytes(path + QStringLiteral(".bad.4")), QByteArray("damaged 4"));
        const QStringList copies = QDir(dir.path()).entryList({QStringLiteral("rfcard.json.bad*")});
        QCOMPARE(copies.size(), Core::MaxBadCopies);
        QCOMPARE(k(path, "bad copies"), QString::number(Core::MaxBadCopies + 2));

        // Folders an operator made at every one of those names do not stop
        // the saves for good: the copy takes a name of its own, and says so.
        for (const QString &copy : copies)
            QVERIFY(QFile::remove(dir.filePath(copy)) && QDir(dir.path()).mkdir(copy));
        QVERIFY(writeFile(path, "damaged again"));
        const QString err = setAndSave(path, "bad copies", QStringLiteral("past the folders"));
        const QString kept
            = QRegularExpression(QStringLiteral("kept as \"([^\"]+)\"")).match(err).captured(1);
        QVERIFY2(kept.startsWith(path + QStringLiteral(".bad.")), qPrintable(err));
        QCOMPARE(fileBytes(kept), QByteArray("damaged again"));
        QCOMPARE(k(path, "bad copies"), QStringLiteral("past the folders"));
    }

    // A link planted at a copy's name is a name taken, never written through.
    void linkAtACopysNameIsNotFollowed()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rfcard.json"));
        const QString victim = dir.filePath(QStringLiteral("victim"));
        QVERIFY(
            writeFile(victim, "precious") && QFile::link(victim, path + QStringLiteral(".bad")));
        QVERIFY(writeFile(path, "{"));
        QVERIFY(setAndSave(path, "copy link", QStringLiteral("x")).contains(path + ".bad.1"));
        QCOMPARE(fileBytes(victim), QByteArray("precious"));
    }

    // Special files where the store expects its own: refused at once with a
    // warning, never opened in a way that blocks, never replaced or changed.
    // clang-format off
    void specialFilesAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("settings FIFO") << "rfcard.json" << "fifo" << "a FIFO, not a regular file";
        QTest::newRow("settings folder") << "rfcard.json" << "dir" << "a folder, not a regular";
        QTest::newRow("settings device") << "rfcard.json" << "device" << "a device";
        QTest::newRow("settings link to a device") << "rfcard.json" << "link" << "a device";
        QTest::newRow("lock FIFO") << "rfcard.json.lock" << "fifo" << "not a regular file";
        QTest::newRow("lock folder") << "rfcard.json.lock" << "dir" << "not a regular file";
        QTest::newRow("lock link") << "rfcard.json.lock" << "link" << "is a link, not a regular file (owned by root (user 0); root may remove it)";
    }
    // clang-format on

    void specialFilesAreRefused()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        if ((kind == QLatin1String("device") || kind == QLatin1String("link")) && ::geteuid() != 0)
            QSKIP("making a device node takes root");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rfcard.json"));
        const QString special = dir.filePath(name);
        QVERIFY(makeSpecial(special, kind));
        const QFileInfo before(special);

        bool saved = true;
        const QString err = setAndSave(path, "special", QStringLiteral("x"), &saved);
        QVERIFY(!saved);
        QVERIFY2(err.contains(reason) && err.contains(QStringLiteral("special k=\"x\"")),
            qPrintable(err));
        const QFileInfo after(special);
        QCOMPARE(after.isSymLink(), before.isSymLink());
        QCOMPARE(after.isDir(), before.isDir());
        QCOMPARE(after.permissions(), before.permissions());
    }

    // The shared install links the program's folder to a data folder: the
    // settings are saved through the link (which stays a link), and lock,
    // temporary and damaged copies live beside the real file.
    void trustedLinkIsFollowed()
    {
        QTemporaryDir program;
        QTemporaryDir data;
        const QString link = program.filePath(QStringLiteral("rfcard.json"));
        const QString real = data.filePath(QStringLiteral("rfcard.json"));
        QVERIFY(QFile::link(real, link)); // not there yet: the first save makes it
        QCOMPARE(setAndSave(link, "linked", QStringLiteral("1")), QString());
        QVERIFY(writeFile(real, "damaged"));
        QVERIFY(setAndSave(link, "linked", QStringLiteral("2")).contains(real + ".bad"));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(k(real, "linked"), QStringLiteral("2"));
        QCOMPARE(QDir(program.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("rfcard.json")});
        QCOMPARE(QDir(data.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList({"rfcard.json", "rfcard.json.bad", "rfcard.json.lock"}));
    }

    // A link that neither root nor the user running put there may point at
    // a file of the user's own: it is not followed, its target is untouched.
    void foreignLinkIsRefused()
    {
        if (::geteuid() != 0)
            QSKIP("giving a link to another user takes root");
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("victim"));
        QVERIFY(writeFile(target, "precious"));
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner));
        const QFile::Permissions mode = QFile::permissions(target);
        const QString link = dir.filePath(QStringLiteral("rfcard.json"));
        QVERIFY(QFile::link(target, link));
        QCOMPARE(::lchown(QFile::encodeName(link).constData(), 4242, 4242), 0);
        bool saved = true;
        const QString err = setAndSave(link, "foreign", QStringLiteral("x"), &saved);
        QVERIFY(!saved);
        QVERIFY2(err.contains("owned by user 4242, neither root nor you"), qPrintable(err));
        QCOMPARE(fileBytes(target), QByteArray("precious"));
        QCOMPARE(QFile::permissions(target), mode);
        QCOMPARE(module("foreign")->val(QStringLiteral("k")), QStringLiteral("x"));
    }

    // A save never writes a file that the next load would refuse, and one
    // that fails leaves the old file exactly as it was.
    void oversizeSaveLeavesTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rfcard.json"));
        const QByteArray old = R"({"oversize": {"k": "old"}})";
        QVERIFY(writeFile(path, old));
        bool saved = true;
        const QString err
            = setAndSave(path, "oversize", QString(int(Core::MaxFileSize), 'x'), &saved);
        QVERIFY(!saved);
        QVERIFY2(err.contains("more than the 4194304 a run loads"), qPrintable(err));
        QCOMPARE(fileBytes(path), old);
        QVERIFY(!QFile::exists(path + QStringLiteral(".tmp")));
        module("oversize")->set(QStringLiteral("k"), QStringLiteral("small"));
    }

    // A file of exactly the size limit loads (one byte over is a damaged row).
    void fileAtTheSizeLimitLoads()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rfcard.json"));
        const QByteArray json = R"({"size limit": {"k": "stored"}})";
        QVERIFY(writeFile(path, json + QByteArray(int(Core::MaxFileSize) - json.size(), ' ')));
        StdoutCapture err(2);
        Core::Instance()->init(path);
        QCOMPARE(module("size limit")->val(QStringLiteral("k")), QStringLiteral("stored"));
        QCOMPARE(err.text(), QByteArray());
    }

    // A saved file keeps the read and write bits of the one it replaces, but
    // never a set-id, sticky or execute bit, nothing for others that the
    // folder does not give them, and always group read and write in a
    // group-writable folder: one operator's chmod cannot lock the others out
    // through the next save, even root's. New files start from umask 022.
    // clang-format off
    void modes_data()
    {
        QTest::addColumn<int>("folder");
        QTest::addColumn<int>("existing"); // -1: none
        QTest::addColumn<int>("expected");
        QTest::newRow("new, private folder") << 0755 << -1 << 0644;
        QTest::newRow("new, group folder") << 02770 << -1 << 0660;
        QTest::newRow("0600, group folder") << 02770 << 0600 << 0660;
        QTest::newRow("6777, group folder") << 02770 << 06777 << 0660;
        QTest::newRow("6777, private folder") << 0755 << 06777 << 0664;
        QTest::newRow("0640, private folder") << 0755 << 0640 << 0640;
        QTest::newRow("0604, folder closed to others") << 0750 << 0604 << 0600;
    }
    // clang-format on

    void modes()
    {
        QFETCH(int, folder);
        QFETCH(int, existing);
        QFETCH(int, expected);
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("rfcard.json")));
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), mode_t(folder)), 0);
        if (existing >= 0) {
            QVERIFY(writeFile(QFile::decodeName(path), "{}"));
            QCOMPARE(::chmod(path.constData(), mode_t(existing)), 0);
        }
        const mode_t mask = ::umask(022);
        setAndSave(QFile::decodeName(path), "modes", QString::number(expected));
        ::umask(mask);
        struct stat st;
        QCOMPARE(::stat(path.constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), expected);
    }

    // Whatever is at the temporary file's name never stops a save: a file a
    // killed run left, a FIFO or a link is removed (the link's target left
    // alone), and a folder is left alone and another name used.
    // clang-format off
    void obstaclesAtTheTemporaryName_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("note");
        QTest::newRow("left by a killed run") << "file" << "";
        QTest::newRow("FIFO") << "fifo" << "";
        QTest::newRow("link") << "link" << "";
        QTest::newRow("folder") << "dir" << "is a folder and was left alone; saved through";
    }
    // clang-format on

    void obstaclesAtTheTemporaryName()
    {
        QFETCH(QString, kind);
        QFETCH(QString, note);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rfcard.json"));
        const QString temp = path + QStringLiteral(".tmp");
        const QString victim = dir.filePath(QStringLiteral("victim"));
        QVERIFY(writeFile(victim, "precious"));
        if (kind == QLatin1String("file"))
            QVERIFY(writeFile(temp, "half a file"));
        else if (kind == QLatin1String("link"))
            QVERIFY(QFile::link(victim, temp));
        else
            QVERIFY(makeSpecial(temp, kind));
        bool saved = false;
        const QString err = setAndSave(path, "obstacle", kind, &saved);
        QVERIFY2(saved && (note.isEmpty() ? err.isEmpty() : err.contains(note)), qPrintable(err));
        QCOMPARE(k(path, "obstacle"), kind);
        QCOMPARE(QFileInfo(temp).isDir(), kind == QLatin1String("dir"));
        QCOMPARE(QFileInfo::exists(temp), kind == QLatin1String("dir"));
        QCOMPARE(fileBytes(victim), QByteArray("precious"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).size(), 3);
    }

    // A file that loads is a file that saves: one written compactly that
    // only an indented save would take past the size limit is saved
    // compactly, and loads again.
    void compactFileStaysWithinTheLimit()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rfcard.json"));
        // 200000 short notes: 2.6 MB compact, 4.6 MB indented.
        QByteArray compact = "{\"notes\":{";
        for (int i = 0; i < 200000; ++i)
            compact += (i ? ",\"" : "\"") + QByteArray::number(i) + "\":\"x\"";
        compact += "}}";
        QVERIFY(compact.size() < Core::MaxFileSize);
        QVERIFY(QJsonDocument::fromJson(compact).toJson().size() > Core::MaxFileSize);
        QVERIFY(writeFile(path, compact));
        bool saved = false;
        const QString err = setAndSave(path, "compact", QStringLiteral("1"), &saved);
        QVERIFY2(saved && err.isEmpty(), qPrintable(err));
        QVERIFY(QFileInfo(path).size() <= Core::MaxFileSize);
        QCOMPARE(read(path).value(QStringLiteral("notes")).toObject().size(), 200000);
        QCOMPARE(setAndSave(path, "compact", QStringLiteral("2"), &saved), QString());
        QVERIFY(saved);
    }

    // Whoever may write the folder may remove and re-create the lock file
    // while a run waits on it, and then take the new one: two runs would
    // hold "the lock" at once. The waiting run must notice that the name
    // leads to another file and wait for that one's holder.
    void lockFileReplacedWhileWaiting()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rfcard.json"));
        const QByteArray lockName = QFile::encodeName(path + QStringLiteral(".lock"));
        QVERIFY(writeFile(path, "{}"));
        Core::Instance()->init(path);
        module("lock swap")->set(QStringLiteral("k"), QStringLiteral("waited"));

        const int old = ::open(lockName.constData(), O_RDWR | O_CREAT, 0644);
        QCOMPARE(::flock(old, LOCK_EX), 0);
        std::atomic<bool> done{false};
        std::atomic<pid_t> tid{0};
        std::thread run([&] {
            tid = ::gettid();
            Core::Instance()->saveConfig(false);
            done = true;
        });
        while (!someoneWaitsFor(old))
            QThread::msleep(1);
        // A signal while it waits interrupts the wait; it waits on. The
        // signal leaves the thread's pending set only when it is delivered,
        // which ends the wait: the lock has not changed hands yet.
        ::pthread_kill(run.native_handle(), SIGALRM);
        const auto pending = [&] {
            const QString status = QStringLiteral("/proc/self/task/%1/status").arg(tid);
            for (const QByteArray &line : fileBytes(status).split('\n')) {
                if (line.startsWith("SigPnd:"))
                    return line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGALRM - 1) & 1;
            }
            return 0ull;
        };
        while (pending())
            QThread::msleep(1);
        while (!done && !someoneWaitsFor(old))
            QThread::msleep(1);
        if (done) {
            run.join();
            QFAIL("the signal ended the wait for the lock");
        }

        QCOMPARE(::unlink(lockName.constData()), 0);
        const int taken = ::open(lockName.constData(), O_RDWR | O_CREAT | O_EXCL, 0644);
        QCOMPARE(::flock(taken, LOCK_EX), 0);
        ::close(old); // the waiting run gets the old file's lock now
        // It either saves while the new lock is held (wrong), or waits on
        // the new file.
        while (!done && !someoneWaitsFor(taken))
            QThread::msleep(1);
        const bool savedUnderTheNewLock = done;
        ::close(taken);
        run.join();
        QVERIFY(!savedUnderTheNewLock);
        QCOMPARE(k(path, "lock swap"), QStringLiteral("waited"));
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
