#include "daemon/dnssd.h"

#include "daemon/auditlog.h"

#ifdef RFCARD_AVAHI
#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#endif

#ifdef RFCARD_AVAHI

struct DnsSd::Private {
    AvahiThreadedPoll *poll = nullptr;
    AvahiClient *client = nullptr;
    AvahiEntryGroup *group = nullptr;
    QList<Service> services;
    bool said = false;

    // On Avahi's thread, with its lock held.
    void commit()
    {
        if (!client || avahi_client_get_state(client) != AVAHI_CLIENT_S_RUNNING)
            return;
        if (!group)
            group = avahi_entry_group_new(client, nullptr, nullptr);
        if (!group)
            return;
        avahi_entry_group_reset(group);
        for (const Service &s : qAsConst(services)) {
            AvahiStringList *txt = nullptr;
            for (const QString &t : s.txt)
                txt = avahi_string_list_add(txt, t.toUtf8().constData());
            const int e = avahi_entry_group_add_service_strlst(group, AVAHI_IF_UNSPEC,
                AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), s.name.toUtf8().constData(),
                s.type.toLatin1().constData(), nullptr, nullptr, s.port, txt);
            avahi_string_list_free(txt);
            if (e < 0)
                AuditLog::say(QStringLiteral("DNS-SD: %1 %2 not published: %3")
                                  .arg(s.name, s.type, QString::fromUtf8(avahi_strerror(e))));
        }
        if (!avahi_entry_group_is_empty(group))
            avahi_entry_group_commit(group);
    }

    static void changed(AvahiClient *c, AvahiClientState state, void *data)
    {
        auto *p = static_cast<Private *>(data);
        p->client = c;
        if (state == AVAHI_CLIENT_S_RUNNING) {
            p->commit();
        } else if (state == AVAHI_CLIENT_FAILURE || state == AVAHI_CLIENT_S_COLLISION) {
            if (p->group) {
                avahi_entry_group_free(p->group);
                p->group = nullptr;
            }
        }
    }
};

DnsSd::DnsSd()
    : d(new Private)
{
    d->poll = avahi_threaded_poll_new();
    if (!d->poll)
        return;
    int error = 0;
    // AVAHI_CLIENT_NO_FAIL: waits for a daemon that is not (yet) there.
    d->client = avahi_client_new(
        avahi_threaded_poll_get(d->poll), AVAHI_CLIENT_NO_FAIL, &Private::changed, d, &error);
    if (!d->client)
        AuditLog::say(
            QStringLiteral("DNS-SD: no Avahi: %1").arg(QString::fromUtf8(avahi_strerror(error))));
    avahi_threaded_poll_start(d->poll);
}

DnsSd::~DnsSd()
{
    if (d->poll) {
        avahi_threaded_poll_stop(d->poll);
        if (d->client)
            avahi_client_free(d->client); // frees its groups
        avahi_threaded_poll_free(d->poll);
    }
    delete d;
}

void DnsSd::publish(const QList<Service> &services)
{
    if (!d->poll)
        return;
    avahi_threaded_poll_lock(d->poll);
    d->services = services;
    d->commit();
    avahi_threaded_poll_unlock(d->poll);
}

#else // no Avahi (Windows)

struct DnsSd::Private { };

DnsSd::DnsSd()
    : d(new Private)
{
}

DnsSd::~DnsSd()
{
    delete d;
}

void DnsSd::publish(const QList<Service> &) { }

#endif
