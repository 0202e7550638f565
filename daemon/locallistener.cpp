#include "daemon/locallistener.h"

#ifndef Q_OS_WIN
void LocalListener::incomingConnection(quintptr socket)
{
    emit accepted(qintptr(socket));
}
#endif
