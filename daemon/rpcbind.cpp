#include "daemon/rpcbind.h"

#ifndef Q_OS_WIN
#include <netinet/in.h>
#include <rpc/rpc.h>

#include <cstring>
#endif

#ifndef Q_OS_WIN
namespace {

// A failed call: libtirpc leaves a failure to reach rpcbind, or to hear from
// it, in rpc_createerr; a call that was answered with "no" leaves nothing.
QString failure(const QString &refused)
{
    if (rpc_createerr.cf_stat == RPC_SUCCESS)
        return refused;
    return QStringLiteral("rpcbind could not be reached (is it running?): ")
        + QString::fromLocal8Bit(clnt_spcreateerror(const_cast<char *>("rpcbind"))).trimmed();
}

} // namespace
#endif

bool RpcBind::set(quint32 program, quint32 version, quint16 port, QString *why)
{
#ifdef Q_OS_WIN
    Q_UNUSED(program)
    Q_UNUSED(version)
    Q_UNUSED(port)
    *why = QStringLiteral("Windows has no rpcbind");
    return false;
#else
    netconfig *tcp = getnetconfigent("tcp");
    if (!tcp) {
        *why = QStringLiteral("no \"tcp\" transport in /etc/netconfig");
        return false;
    }
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    netbuf buffer;
    buffer.maxlen = buffer.len = sizeof address;
    buffer.buf = &address;
    // rpcbind refuses a program and version that are registered already, also
    // when the owner is this user.
    (void)rpcb_unset(program, version, tcp);
    rpc_createerr.cf_stat = RPC_SUCCESS;
    const bool done = rpcb_set(program, version, tcp, &buffer);
    if (!done)
        *why = failure(QStringLiteral("rpcbind refused: another user has registered it"));
    freenetconfigent(tcp);
    return done;
#endif
}

bool RpcBind::unset(quint32 program, quint32 version, QString *why)
{
#ifdef Q_OS_WIN
    Q_UNUSED(program)
    Q_UNUSED(version)
    *why = QStringLiteral("Windows has no rpcbind");
    return false;
#else
    netconfig *tcp = getnetconfigent("tcp");
    if (!tcp) {
        *why = QStringLiteral("no \"tcp\" transport in /etc/netconfig");
        return false;
    }
    rpc_createerr.cf_stat = RPC_SUCCESS;
    const bool done = rpcb_unset(program, version, tcp);
    if (!done)
        *why = failure(
            QStringLiteral("rpcbind has no registration of it that this user may remove"));
    freenetconfigent(tcp);
    return done;
#endif
}
