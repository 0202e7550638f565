#ifndef SERVICECONF_H
#define SERVICECONF_H

#include <QHostAddress>
#include <QString>
#include <QStringList>

// A card's configuration in the shared install (/etc/rfcard/rfcardd/NAME.conf),
// which the administrator writes and the card's service reads itself:
//     CARD=KLR620
//     COM=/dev/serial/by-id/usb-...
//     LISTEN=127.0.0.1:5025          (none, or addresses separated by blanks)
//     READ_ONLY_LISTEN=none
//     MAX_PER_CLIENT=8
// "#" starts a comment; a value may stand in quotes. Whatever is wrong is
// told in one line that names the key and what it takes, so that the
// service can say it once and go on answering its clients with it instead
// of failing over and over.
class ServiceConf {
public:
    // Reads and checks `path`; false and `error` when something is wrong.
    bool read(const QString &path, QString *error);
    // "127.0.0.1:5025", "[::1]:5025", "*:5025" (every address), as the
    // configuration and --listen give a TCP address; false for anything else.
    static bool address(const QString &text, QHostAddress *host, quint16 *port);

    QString card; // upper-cased
    QString com;
    QStringList listen; // ADDRESS:PORT each
    QStringList readOnlyListen;
    int maxPerClient = 0; // 0: not given
};

#endif // SERVICECONF_H
