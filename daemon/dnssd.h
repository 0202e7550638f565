#ifndef DNSSD_H
#define DNSSD_H

#include <QList>
#include <QString>
#include <QStringList>

// The host's cards made known on the local network by DNS-SD, through the
// host's Avahi daemon (its client library, on a thread of Avahi's own):
// each card as a VXI-11, a HiSLIP and a raw SCPI service (_vxi-11._tcp,
// _hislip._tcp, _scpi-raw._tcp), its model and name in the TXT record, so
// that lab software lists the cards as it lists instruments. Without a
// running Avahi daemon it says so once and publishes nothing; a daemon that
// starts later is found then. Linux only.
class DnsSd {
public:
    struct Service {
        QString name; // unique on the host: "lab (KLR620)"
        QString type; // "_hislip._tcp"
        quint16 port;
        QStringList txt; // "Model=KLR620"
    };
    DnsSd();
    ~DnsSd();
    DnsSd(const DnsSd &) = delete;
    DnsSd &operator=(const DnsSd &) = delete;

    // Replaces what is published with `services`.
    void publish(const QList<Service> &services);

private:
    struct Private;
    Private *d;
};

#endif // DNSSD_H
