#ifndef LOWLATENCY_H
#define LOWLATENCY_H

class QSerialPort;

// A USB serial adapter holds what it has received until its latency timer
// runs out, 16 ms by default on the common kind, so that every reply of a
// card waits up to that long. The protocols need no such wait. On Linux a
// program may ask the driver of the port it opened for low latency
// (ASYNC_LOW_LATENCY through TIOCSSERIAL), and such drivers then set the
// adapter's timer to 1 ms; the driver's own setting is put back when the port
// closes, and also when the process is ended by SIGINT, SIGTERM, SIGHUP or
// SIGPIPE, so that the next program finds the device as it was. A port or
// driver that does not take the request (a pseudo-terminal, a driver
// without the flag) is left as it is, without a word. Windows has no such
// call for a COM port: there the timer is a setting of the port in Device
// Manager.
class LowLatency {
public:
    // Asks for low latency on the open port (a no-op where the user set
    // RFCARD_LOW_LATENCY=0); true when the flag was changed, and then
    // `saved` holds what restore needs.
    static bool request(QSerialPort &port, int *saved);
    static void restore(QSerialPort &port, int saved);
};

#endif // LOWLATENCY_H
