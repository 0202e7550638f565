#ifndef CAPTURE_H
#define CAPTURE_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects the lines written to Qt's message log while it lives.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
    QStringList critical() const;
    bool contains(const QString &text) const;
    int indexOf(const QString &text, int from = 0) const;

private:
    QtMessageHandler m_Previous;
};

// Redirects the process's standard output (or, given 2, its standard error)
// into a temporary file while it lives; text() gives what was written.
class StdoutCapture {
public:
    explicit StdoutCapture(int fd = 1);
    ~StdoutCapture();
    QByteArray text();

private:
    int m_Fd;
    int m_Saved = -1;
    int m_File = -1;
};

#endif // CAPTURE_H
