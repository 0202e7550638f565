// The examples of README.md, docs/ and the man pages that show what they print, run
// as written with the real rfcard, rfcard-strict and rfcard-sim on the PATH:
// each must print exactly what the page shows.
//
// A Markdown page marks such an example with a comment line before its code block:
//   <!-- example: rfcard-sim ARGS -->  a terminal session: "$ " commands,
//       each followed by what it prints (standard output and error), run
//       against a simulator started with ARGS; /dev/pts/3 in the session
//       stands for the simulator's device
//   <!-- example: script -->  a shell script; what it prints is the code
//       block after the next "<!-- output -->" line
// A man page marks a session with the comment line
//   .\" example: rfcard-sim ARGS
// before its ".nf" ... ".fi" block.

#include "simprocess.h"
#include "toolrun.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

namespace {

// The lines of a page, a man page's markers, blocks and escapes read as
// their Markdown forms.
QStringList linesOf(const QString &page)
{
    QFile file(QStringLiteral(RFCARD_SOURCE_DIR "/") + page);
    file.open(QIODevice::ReadOnly);
    QString text = QString::fromUtf8(file.readAll());
    if (page.startsWith(QLatin1String("man/"))) {
        const auto lineWise = QRegularExpression::MultilineOption;
        text.replace(QRegularExpression(QStringLiteral("^\\.\\\\\" (example: .*)$"), lineWise),
            QStringLiteral("<!-- \\1 -->"));
        text.replace(
            QRegularExpression(QStringLiteral("^\\.(nf|fi)$"), lineWise), QStringLiteral("```"));
        text.replace(QLatin1String("\\-"), QLatin1String("-"));
        text.replace(QLatin1String("\\e"), QLatin1String("\\"));
    }
    return text.split(QLatin1Char('\n'));
}

// The code block that starts after line `from`, without the indentation of
// its fence (a block in a list item); `from` ends on its closing fence.
QStringList codeBlock(const QStringList &lines, int &from)
{
    const auto isFence = [&](int i) { return lines.at(i).trimmed().startsWith("```"); };
    while (from < lines.size() && !isFence(from))
        ++from;
    const int indent = from < lines.size() ? lines.at(from).indexOf(QLatin1Char('`')) : 0;
    QStringList block;
    for (++from; from < lines.size() && !isFence(from); ++from)
        block << lines.at(from).mid(indent);
    return block;
}

} // namespace

class TestDocs : public QObject {
    Q_OBJECT

private slots:
    void examples_data()
    {
        QTest::addColumn<QString>("sim"); // simulator arguments; empty for a script
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        QStringList pages{"README.md", "man/rfcard.1", "man/rfcard-strict.1", "man/rfcard-sim.1"};
        for (const QString &page :
            QDir(QStringLiteral(RFCARD_SOURCE_DIR "/docs")).entryList({"*.md"}))
            pages << QStringLiteral("docs/") + page;
        static const QRegularExpression marker(
            QStringLiteral("^ *<!-- example: (rfcard-sim (.*)|script) -->$"));
        int count = 0;
        for (const QString &page : pages) {
            const QStringList lines = linesOf(page);
            for (int i = 0; i < lines.size(); ++i) {
                const QRegularExpressionMatch m = marker.match(lines.at(i));
                if (!m.hasMatch())
                    continue;
                const QString name = QStringLiteral("%1:%2").arg(page).arg(i + 1);
                const QStringList block = codeBlock(lines, i);
                QString script;
                QString expected;
                if (m.captured(2).isEmpty()) {
                    script = block.join(QLatin1Char('\n')) + QLatin1Char('\n');
                    while (i < lines.size() && lines.at(i).trimmed() != "<!-- output -->")
                        ++i;
                    expected = codeBlock(lines, i).join(QLatin1Char('\n')) + QLatin1Char('\n');
                } else {
                    // A session: the output of each command follows a separator line.
                    for (const QString &line : block) {
                        const bool command = line.startsWith(QLatin1String("$ "));
                        if (command)
                            script += "printf '\\036\\n'\n" + line.mid(2) + '\n';
                        expected += command ? QStringLiteral("\x1e\n") : line + '\n';
                    }
                }
                QTest::newRow(qPrintable(name)) << m.captured(2) << script << expected;
                ++count;
            }
        }
        QVERIFY(count >= 7);
    }

    void examples()
    {
        QFETCH(QString, sim);
        QFETCH(QString, script);
        QFETCH(QString, expected);
        if (script.contains(QLatin1String("| jq"))
            && QStandardPaths::findExecutable(QStringLiteral("jq")).isEmpty())
            QSKIP("the example pipes to jq, which is not installed");
        if (script.contains(QLatin1String("pyvisa"))
            && !QFileInfo::exists(QStringLiteral("/usr/lib/python3/dist-packages/pyvisa_py")))
            QSKIP("the example uses pyvisa, which is not installed (python3-pyvisa-py)");

        ToolRun tool;
        tool.addBeside(QStringLiteral(RFCARD_STRICT_BIN));
        tool.addBeside(QStringLiteral(RFCARD_SIM_BIN));
        tool.addBeside(QStringLiteral(RFCARDD_BIN));
        QTemporaryDir work;
        QScopedPointer<SimProcess> card(sim.isEmpty() ? nullptr : new SimProcess(sim.split(' ')));
        if (card) {
            script.replace(QLatin1String("/dev/pts/3"), card->device());
            expected.replace(QLatin1String("/dev/pts/3"), card->device());
        }
        QProcess shell;
        shell.setWorkingDirectory(work.path());
        shell.setProcessChannelMode(QProcess::MergedChannels);
        shell.start(QStringLiteral("env"),
            {"PATH=" + tool.dir() + ":/usr/bin:" + qEnvironmentVariable("PATH"), "bash", "-c",
                script});
        QVERIFY(shell.waitForFinished(-1)); // bounded by the test's own time-out
        QCOMPARE(QString::fromUtf8(shell.readAll()), expected);
    }

    // rfcard-strict's statuses, and the order in which they win, are the same
    // in its --help, its man page, the README and the Windows README.
    void statusesAgree()
    {
        ToolRun tool;
        tool.addBeside(QStringLiteral(RFCARD_STRICT_BIN));
        const QString help = QString::fromUtf8(tool.runBeside("rfcard-strict", {"--help"}).out);
        const QString man = linesOf(QStringLiteral("man/rfcard-strict.1")).join(' ');
        const QString readme = linesOf(QStringLiteral("README.md")).join(' ');
        QFile windows(QStringLiteral(RFCARD_SOURCE_DIR "/packaging/windows/README.txt"));
        QVERIFY(windows.open(QIODevice::ReadOnly));
        const auto numbers = [](const QString &text, const char *pattern) {
            QStringList found;
            auto it = QRegularExpression(QString::fromLatin1(pattern)).globalMatch(text);
            while (it.hasNext())
                found << it.next().captured(1);
            return found;
        };
        const QStringList statuses = numbers(help, "\\n  (\\d)  ");
        QCOMPARE(statuses.join(' '), QStringLiteral("0 1 2 3 4 5 7 8 9"));
        QCOMPARE(numbers(man.section(".SH EXIT STATUS", 1).section(".SH", 0, 0), "\\.B (\\d) "),
            statuses);
        QCOMPARE(numbers(readme, "(?:Statuses: |, )(\\d) [a-z]"), statuses);
        QCOMPARE(numbers(QString::fromUtf8(windows.readAll()), "\\n  (\\d)  "), statuses);
        const QString order = numbers(help, "first of ([\\d, ]+\\d)").value(0);
        QCOMPARE(numbers(man, "first in the order ([\\d, ]+\\d)").value(0), order);
        QStringList ranked = order.split(QStringLiteral(", "));
        ranked.sort();
        QCOMPARE(ranked, statuses.mid(2));
    }
};

QTEST_GUILESS_MAIN(TestDocs)
#include "tst_docs.moc"
