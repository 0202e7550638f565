#include "cards/cardlog.h"

#include <QByteArray>
#include <QDebug>

#include <cstdio>

namespace {

CardLog::Printer g_Printer = nullptr;

QByteArray head(const char *card, const char *operation)
{
    return QByteArray("error: ") + card + ' ' + operation;
}

} // namespace

QByteArray CardLog::overflowText(const char *card, const char *operation, const char *name)
{
    return head(card, operation) + ",freq overflow, " + name + " = ";
}

bool CardLog::took(int result, qint64 value)
{
    if (result == 1)
        RunEvents::report({RunEvents::Applied, QString(), value});
    return result != 0;
}

void CardLog::plausible(qint64 value, CardLimits::Range range)
{
    if (!range.contains(value))
        RunEvents::implausible(value, range.low, range.high);
}

bool CardLog::opened(bool isOpen, const char *card, const char *operation)
{
    if (!isOpen)
        notOpened(card, operation);
    return isOpen;
}

void CardLog::notOpened(const char *card, const char *operation)
{
    qCritical() << (head(card, operation) + ", card not opened").constData();
}

void CardLog::queryFailed(const char *card, const char *operation, int value)
{
    qCritical() << (head(card, operation) + " Query failed, val =  ").constData() << value;
}

void CardLog::queryFailed(const char *card, const char *operation, double value)
{
    qCritical() << (head(card, operation) + " Query failed, val =  ").constData() << value;
}

void CardLog::print(const QString &line)
{
    const QByteArray bytes = line.toLatin1() + '\n';
    if (g_Printer)
        g_Printer(bytes);
    else
        std::fputs(bytes.constData(), stdout);
}

void CardLog::setPrinter(Printer printer)
{
    g_Printer = printer;
}
