#ifndef FEEXCHANGE_H
#define FEEXCHANGE_H

#include "cards/feframe.h"
#include "cards/linesync.h"
#include "cards/moduleresult.h"
#include "serial/uartagent.h"

// One command/reply exchange of the 10-byte frame families (JQ and VN): build
// the frame, send it, check the reply and decode a query's value. The two
// families differ in their value layouts and in where a few lines go; a
// Dialect names those differences.
class FeExchange {
public:
    struct Dialect {
        const char *module; // "JQFLModule", "VNLModule"
        FeFrame::Layout (*requestLayout)(quint8 code);
        FeFrame::Layout (*replyLayout)(quint8 code);
        bool logsRequest; // log the frame before sending
        bool statusOnStdout; // failed status: printf, else qCritical
    };

    static int run(UartAgent &uart, LineSync &sync, const Dialect &dialect, quint8 command,
        quint8 code, quint32 value, quint8 channel, quint8 (&recvBuf)[UartAgent::RecvBufSize],
        quint32 &recvLen);
    // The queries that bring a line of the family back in step: codes every
    // model of it answers, on the first channel.
    static QList<LineSync::Probe> probes(std::initializer_list<quint8> codes);
};

#endif // FEEXCHANGE_H
