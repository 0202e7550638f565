#include "strict/outputsplitter.h"

#include <QJsonDocument>

#include <utility>

OutputSplitter::OutputSplitter(LineSink logLine)
    : m_LogLine(std::move(logLine))
{
}

void OutputSplitter::feed(const QByteArray &bytes)
{
    m_Pending += bytes;
    int start = 0;
    for (int end = m_Pending.indexOf('\n'); end >= 0; end = m_Pending.indexOf('\n', start)) {
        // On Windows rfcard's lines end in CR LF; the CR is no part of them
        // (and this program's own output gets it back from the C library).
        const int cr = end > start && m_Pending.at(end - 1) == '\r' ? 1 : 0;
        takeLine(m_Pending.mid(start, end - start - cr));
        start = end + 1;
    }
    m_Pending.remove(0, start);
}

void OutputSplitter::finish()
{
    releaseCandidate();
    if (!m_Pending.isEmpty())
        m_LogLine(m_Pending, false);
    m_Pending.clear();
}

void OutputSplitter::takeLine(const QByteArray &line)
{
    if (m_AwaitingBlankLine) {
        // rfcard ends the report with an empty line of its own.
        m_AwaitingBlankLine = false;
        if (line.isEmpty()) {
            m_Report += '\n';
            return;
        }
    }
    if (!m_Candidate.isEmpty()) {
        m_Candidate.append(line);
        if (line == "}") {
            QByteArray text;
            for (const QByteArray &l : std::as_const(m_Candidate))
                text += l + '\n';
            if (QJsonDocument::fromJson(text).isObject()) {
                m_Report = text;
                m_Candidate.clear();
                m_AwaitingBlankLine = true;
                return;
            }
            releaseCandidate();
        } else if (!line.startsWith("    \"")) {
            // Report members are indented, quoted keys; this is something else.
            releaseCandidate();
        }
        return;
    }
    if (line == "{" && m_Report.isEmpty()) {
        m_Candidate.append(line);
        return;
    }
    m_LogLine(line, true);
}

void OutputSplitter::releaseCandidate()
{
    for (const QByteArray &line : std::as_const(m_Candidate))
        m_LogLine(line, true);
    m_Candidate.clear();
}
