#ifndef OUTPUTSPLITTER_H
#define OUTPUTSPLITTER_H

#include <QByteArray>
#include <QList>

#include <functional>

// Splits what rfcard wrote, standard output and standard error in the order
// it was written, into the JSON report of a read-back and everything else.
// rfcard prints the report in one piece as an indented JSON object: a line
// "{", member lines, a line "}" and an empty line. No log or protocol line
// of rfcard is a lone "{", so a block of that shape that parses as a JSON
// object is the report; anything else is passed on line by line, unchanged.
class OutputSplitter {
public:
    using LineSink = std::function<void(const QByteArray &line, bool terminated)>;

    explicit OutputSplitter(LineSink logLine);

    void feed(const QByteArray &bytes);
    // The end of the output: a last line without its newline is passed on.
    void finish();
    // The report as rfcard printed it (with its trailing empty line), or
    // empty when there was none.
    QByteArray report() const { return m_Report; }

private:
    void takeLine(const QByteArray &line);
    void releaseCandidate();

    LineSink m_LogLine;
    QByteArray m_Pending; // an unterminated line
    QList<QByteArray> m_Candidate; // lines of a report being collected
    bool m_AwaitingBlankLine = false;
    QByteArray m_Report;
};

#endif // OUTPUTSPLITTER_H
