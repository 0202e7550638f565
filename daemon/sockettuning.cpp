#include "daemon/sockettuning.h"

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

void SocketTuning::acknowledgeAtOnce(qintptr socket)
{
#ifdef Q_OS_LINUX
    // The kernel clears the flag again as it sees fit: set after every read.
    const int on = 1;
    if (socket >= 0)
        ::setsockopt(int(socket), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#else
    Q_UNUSED(socket)
#endif
}
