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

#include "simprocess.h"
#include "toolrun.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

namespace {

const QString Placeholder = QStringLiteral("/dev/pts/3");
const QByteArray Separator = "\x1e\n"; // between the commands of a session

struct Example {
    QString sim; // simulator arguments; empty for a script
    QString script;
    QByteArray expected;
};

bool isFence(const QString &line)
{
    return line.trimmed().startsWith(QLatin1String("```"));
}

// The code block that starts after line `from`, without the indentation of
// its fence (a block in a list item); `from` ends on its closing fence.
QStringList codeBlock(const QStringList &lines, int &from)
{
    while (from < lines.size() && !isFence(lines.at(from)))
        ++from;
    const int indent = from < lines.size() ? lines.at(from).indexOf(QLatin1Char('`')) : 0;
    QStringList block;
    for (++from; from < lines.size() && !isFence(lines.at(from)); ++from)
        block << lines.at(from).mid(indent);
    return block;
}

Example session(const QString &sim, const QStringList &block)
{
    Example e;
    e.sim = sim;
    for (const QString &line : block) {
        if (line.startsWith(QLatin1String("$ "))) {
            if (!e.script.isEmpty()) {
                e.script += QStringLiteral("printf '\\036\\n'\n");
                e.expected += Separator;
            }
            e.script += line.mid(2) + QLatin1Char('\n');
        } else {
            e.expected += line.toUtf8() + '\n';
        }
    }
    return e;
}

QStringList linesOf(const QString &name)
{
    QFile file(QStringLiteral(RFCARD_SOURCE_DIR "/") + name);
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

void addMarkdownExamples(const QString &page, QMap<QString, Example> &examples)
{
    const QStringList lines = linesOf(page);
    static const QRegularExpression marker(QStringLiteral("^ *<!-- example: (.*) -->$"));
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = marker.match(lines.at(i));
        if (!m.hasMatch())
            continue;
        const QString name = QStringLiteral("%1:%2").arg(page).arg(i + 1);
        const QString kind = m.captured(1);
        if (kind.startsWith(QLatin1String("rfcard-sim "))) {
            examples.insert(name, session(kind.mid(11), codeBlock(lines, i)));
        } else if (kind == QLatin1String("script")) {
            Example e;
            e.script = codeBlock(lines, i).join(QLatin1Char('\n')) + QLatin1Char('\n');
            while (i < lines.size() && lines.at(i).trimmed() != QLatin1String("<!-- output -->"))
                ++i;
            e.expected = codeBlock(lines, i).join(QLatin1Char('\n')).toUtf8() + '\n';
            examples.insert(name, e);
        }
    }
}

// A man page marks a session with the comment line
//   .\" example: rfcard-sim ARGS
// before its ".nf" ... ".fi" block.
void addManExamples(const QString &page, QMap<QString, Example> &examples)
{
    const QStringList lines = linesOf(page);
    const QString marker = QStringLiteral(".\\\" example: rfcard-sim ");
    for (int i = 0; i < lines.size(); ++i) {
        if (!lines.at(i).startsWith(marker))
            continue;
        const QString sim = lines.at(i).mid(marker.size());
        QStringList block;
        while (i < lines.size() && lines.at(i) != QLatin1String(".nf"))
            ++i;
        for (++i; i < lines.size() && lines.at(i) != QLatin1String(".fi"); ++i) {
            QString text = lines.at(i);
            text.replace(QLatin1String("\\-"), QLatin1String("-"));
            text.replace(QLatin1String("\\e"), QLatin1String("\\"));
            block << text;
        }
        examples.insert(QStringLiteral("%1:%2").arg(page).arg(i + 1), session(sim, block));
    }
}

} // namespace

class TestDocs : public QObject {
    Q_OBJECT

private slots:
    void examples_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QByteArray>("expected");
        QMap<QString, Example> examples;
        addMarkdownExamples(QStringLiteral("README.md"), examples);
        const QDir docs(QStringLiteral(RFCARD_SOURCE_DIR "/docs"));
        for (const QString &page : docs.entryList({QStringLiteral("*.md")}))
            addMarkdownExamples(QStringLiteral("docs/") + page, examples);
        for (const char *page : {"rfcard.1", "rfcard-strict.1", "rfcard-sim.1"})
            addManExamples(QStringLiteral("man/") + QLatin1String(page), examples);
        QVERIFY(examples.size() >= 7);
        for (auto it = examples.cbegin(); it != examples.cend(); ++it) {
            QTest::newRow(qPrintable(it.key()))
                << it.value().sim << it.value().script << it.value().expected;
        }
    }

    void examples()
    {
        QFETCH(QString, sim);
        QFETCH(QString, script);
        QFETCH(QByteArray, expected);
        if (script.contains(QLatin1String("| jq"))
            && QStandardPaths::findExecutable(QStringLiteral("jq")).isEmpty())
            QSKIP("the example pipes to jq, which is not installed");

        ToolRun tool;
        tool.addBeside(QStringLiteral(RFCARD_STRICT_BIN));
        tool.addBeside(QStringLiteral(RFCARD_SIM_BIN));
        QTemporaryDir work;
        QScopedPointer<SimProcess> card(sim.isEmpty() ? nullptr : new SimProcess(sim.split(' ')));
        if (card) {
            script.replace(Placeholder, card->device());
            expected.replace(Placeholder.toUtf8(), card->device().toUtf8());
        }

        QProcess shell;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), tool.dir() + QLatin1Char(':') + env.value("PATH"));
        shell.setProcessEnvironment(env);
        shell.setWorkingDirectory(work.path());
        shell.setProcessChannelMode(QProcess::MergedChannels);
        shell.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
        QVERIFY(shell.waitForFinished(60000));
        QCOMPARE(QString::fromUtf8(shell.readAll()), QString::fromUtf8(expected));
    }
};

QTEST_GUILESS_MAIN(TestDocs)
#include "tst_docs.moc"
