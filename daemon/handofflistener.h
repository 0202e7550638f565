#ifndef HANDOFFLISTENER_H
#define HANDOFFLISTENER_H

#include <QByteArray>
#include <QObject>
#include <QString>

class LocalListener;

// The card's door for connections the host's front hands on (Handoff):
// a Unix-domain socket that only root and the service's own user may use
// to speak for another client; a connection of anyone else's is closed.
class HandoffListener : public QObject {
    Q_OBJECT

public:
    explicit HandoffListener(QObject *parent = nullptr);

    bool listen(const QString &path, QString *error);
    bool adopt(qintptr fd, QString *error);

signals:
    // A client's connection, and what the front said it is.
    void received(qintptr socket, const QByteArray &tag);

private:
    void serve(LocalListener *listener);
    void take(qintptr connection);
};

#endif // HANDOFFLISTENER_H
