#ifndef SOCKETTUNING_H
#define SOCKETTUNING_H

#include <QtGlobal>

// A client that writes a command and then, before reading anything, a query
// (pyvisa's write, then query) has its query held back by its own Nagle
// until the first segment is acknowledged; Linux delays that
// acknowledgement by up to 40 ms. Acknowledging each message at once takes
// that wait away. Linux only: elsewhere this does nothing.
class SocketTuning {
public:
    static void acknowledgeAtOnce(qintptr socket);
};

#endif // SOCKETTUNING_H
