#include "capture.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unistd.h>

namespace {

std::mutex logMutex;
QStringList logLines;
QStringList criticalLines;

void collect(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    std::lock_guard<std::mutex> lock(logMutex);
    logLines.append(message);
    if (type == QtCriticalMsg)
        criticalLines.append(message);
}

} // namespace

LogCapture::LogCapture()
{
    std::lock_guard<std::mutex> lock(logMutex);
    logLines.clear();
    criticalLines.clear();
    m_Previous = qInstallMessageHandler(collect);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_Previous);
}

QStringList LogCapture::lines() const
{
    std::lock_guard<std::mutex> lock(logMutex);
    return logLines;
}

QStringList LogCapture::critical() const
{
    std::lock_guard<std::mutex> lock(logMutex);
    return criticalLines;
}

bool LogCapture::contains(const QString &text) const
{
    return indexOf(text) >= 0;
}

int LogCapture::indexOf(const QString &text, int from) const
{
    const QStringList all = lines();
    for (int i = from; i < all.size(); ++i) {
        if (all.at(i).contains(text))
            return i;
    }
    return -1;
}

StdoutCapture::StdoutCapture(int fd)
    : m_Fd(fd)
{
    std::fflush(stdout);
    std::fflush(stderr);
    char name[] = "/tmp/rfcard-capture-XXXXXX";
    m_File = ::mkstemp(name);
    ::unlink(name);
    m_Saved = ::dup(m_Fd);
    ::dup2(m_File, m_Fd);
}

StdoutCapture::~StdoutCapture()
{
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(m_Saved, m_Fd);
    ::close(m_Saved);
    ::close(m_File);
}

QByteArray StdoutCapture::text()
{
    std::fflush(stdout);
    std::fflush(stderr);
    QByteArray all;
    char buf[4096];
    ssize_t n;
    ::lseek(m_File, 0, SEEK_SET);
    while ((n = ::read(m_File, buf, sizeof buf)) > 0)
        all.append(buf, int(n));
    return all;
}
