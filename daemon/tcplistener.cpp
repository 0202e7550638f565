#include "daemon/tcplistener.h"

void TcpListener::incomingConnection(qintptr socket)
{
    emit accepted(socket);
}
