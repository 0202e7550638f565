// Bytes from a VXI-11 client as rfcardd's channels read them: the first byte
// sets the size of the pieces the rest arrives in, and every record taken is
// decoded as a call on the core and on the abort channel, and as a reply.
// Any bytes: no crash, no record over the limit; an accepted call encodes
// back, and what it encodes to decodes to the same call; a refusal is a
// reply to the call's xid, and only an unreadable call goes unanswered.

#include "daemon/vxi11rpc.h"

#include <QByteArray>

#include <cstdint>

namespace {

QByteArray encoded(const Vxi11Rpc::Call &call)
{
    return Vxi11Rpc::call(call.xid, call.prog, call.vers, call.proc, call.argsXdr(), &call.args);
}

void check(const QByteArray &record, Vxi11Rpc::Program served)
{
    const Vxi11Rpc::Call call = Vxi11Rpc::decodeCall(record, served);
    if (call.status == Vxi11Rpc::Call::Accepted) {
        const QByteArray again = encoded(call);
        if (again.isEmpty())
            __builtin_trap();
        const Vxi11Rpc::Call second = Vxi11Rpc::decodeCall(again.mid(4), served);
        if (second.status != Vxi11Rpc::Call::Accepted || second.proc != call.proc
            || encoded(second) != again)
            __builtin_trap();
        return;
    }
    const QByteArray refusal = Vxi11Rpc::refusal(call);
    if (refusal.isEmpty() != (call.status == Vxi11Rpc::Call::Unreadable))
        __builtin_trap();
    if (refusal.isEmpty())
        return;
    const Vxi11Rpc::Reply reply = Vxi11Rpc::decodeReply(refusal.mid(4));
    if (!reply.readable || reply.success || reply.xid != call.xid)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int piece = data[0] + 1;
    const QByteArray stream(reinterpret_cast<const char *>(data + 1), int(size - 1));
    Vxi11Rpc rpc;
    QByteArray record;
    for (int at = 0; at < stream.size(); at += piece) {
        rpc.feed(stream.mid(at, piece));
        while (rpc.takeRecord(&record)) {
            if (record.size() > Vxi11Rpc::MaxRecord)
                __builtin_trap();
            check(record, Vxi11Rpc::Core);
            check(record, Vxi11Rpc::Async);
            (void)Vxi11Rpc::decodeReply(record);
        }
    }
    return 0;
}
