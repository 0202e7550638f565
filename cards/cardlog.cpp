#include "cards/cardlog.h"

#include <QByteArray>
#include <QDebug>

namespace {

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
