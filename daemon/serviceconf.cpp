#include "daemon/serviceconf.h"

#include "store/cardmodels.h"
#include "store/safetext.h"

#include <QFile>
#include <QRegularExpression>

namespace {

QString unquoted(QString value)
{
    value = value.trimmed();
    if (value.size() >= 2 && (value.startsWith(QLatin1Char('"')) || value.startsWith('\''))
        && value.endsWith(value.at(0)))
        value = value.mid(1, value.size() - 2);
    return value;
}

} // namespace

bool ServiceConf::address(const QString &text, QHostAddress *host, quint16 *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    QString name = text.left(colon);
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (colon < 0 || !ok || number > 65535)
        return false;
    *port = quint16(number);
    if (name == QLatin1String("*"))
        *host = QHostAddress::Any;
    else if (name == QLatin1String("localhost"))
        *host = QHostAddress::LocalHost;
    else
        *host = QHostAddress(name);
    return !host->isNull();
}

bool ServiceConf::read(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
        return false;
    }
    const auto fail = [&](int line, const QString &what) {
        *error = QStringLiteral("%1, line %2: %3").arg(path).arg(line).arg(what);
        return false;
    };
    bool haveCard = false;
    bool haveCom = false;
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        const QString line = QString::fromUtf8(file.readLine(4096)).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const int equals = line.indexOf(QLatin1Char('='));
        const QString key = line.left(equals).trimmed();
        const QString value = unquoted(line.mid(equals + 1));
        const QString shown = SafeText::printable(line.left(80));
        if (equals < 0)
            return fail(number, QStringLiteral("\"%1\" is not KEY=VALUE").arg(shown));
        if (key == QLatin1String("CARD")) {
            card = value.toUpper();
            haveCard = true;
            if (!CardModels::isKnown(card))
                return fail(number,
                    QStringLiteral("CARD=%1 is not a model rfcardd drives: VN2810, JQ5140, "
                                   "KLR620 or JQ5120")
                        .arg(SafeText::printable(value)));
        } else if (key == QLatin1String("COM")) {
            com = value;
            haveCom = true;
            if (com.isEmpty())
                return fail(number, QStringLiteral("COM= names no port"));
        } else if (key == QLatin1String("LISTEN") || key == QLatin1String("READ_ONLY_LISTEN")) {
            QStringList &list = key == QLatin1String("LISTEN") ? listen : readOnlyListen;
            list = value.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
            list.removeAll(QStringLiteral("none"));
            for (const QString &text : qAsConst(list)) {
                QHostAddress host;
                quint16 port = 0;
                if (!address(text, &host, &port) || port == 0)
                    return fail(number,
                        QStringLiteral("%1: \"%2\" is not ADDRESS:PORT (127.0.0.1:5025, "
                                       "[::1]:5025, *:5025) or none")
                            .arg(key, SafeText::printable(text)));
            }
        } else if (key == QLatin1String("MAX_PER_CLIENT")) {
            bool ok = false;
            maxPerClient = value.toInt(&ok);
            if (!ok || maxPerClient < 1 || maxPerClient > 64)
                return fail(number,
                    QStringLiteral("MAX_PER_CLIENT=%1 is not 1 to 64")
                        .arg(SafeText::printable(value)));
        } else {
            return fail(number,
                QStringLiteral("%1 is not a key rfcardd knows: CARD, COM, LISTEN, "
                               "READ_ONLY_LISTEN, MAX_PER_CLIENT")
                    .arg(SafeText::printable(key)));
        }
    }
    if (!haveCard || !haveCom) {
        *error = QStringLiteral("%1: %2= is missing").arg(path, haveCard ? "COM" : "CARD");
        return false;
    }
    return true;
}
