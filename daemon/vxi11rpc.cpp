#include "daemon/vxi11rpc.h"

#include <QtEndian>

#include <cstring>

namespace {

// The last-fragment bit of a record mark; the other 31 bits are the length.
constexpr quint32 LastFragment = 0x80000000u;

using Decode = bool_t (*)(XDR *, void *);

// The result of a procedure that returns nothing.
bool_t nothing(XDR *, void *)
{
    return TRUE;
}

// The procedures by program, each with the XDR routine of its arguments
// (null: it takes none).
struct Entry {
    quint32 prog;
    quint32 proc;
    xdrproc_t args;
};
const Entry entries[] = {
    {Vxi11Rpc::Async, Vxi11Rpc::DeviceAbort, xdrproc_t(xdr_Device_Link)},
    {Vxi11Rpc::Core, Vxi11Rpc::CreateLink, xdrproc_t(xdr_Create_LinkParms)},
    {Vxi11Rpc::Core, Vxi11Rpc::DeviceWrite, xdrproc_t(xdr_Device_WriteParms)},
    {Vxi11Rpc::Core, Vxi11Rpc::DeviceRead, xdrproc_t(xdr_Device_ReadParms)},
    {Vxi11Rpc::Core, Vxi11Rpc::DeviceReadStb, xdrproc_t(xdr_Device_GenericParms)},
    {Vxi11Rpc::Core, Vxi11Rpc::DeviceTrigger, xdrproc_t(xdr_Device_GenericParms)},
    {Vxi11Rpc::Core, Vxi11Rpc::DeviceClear, xdrproc_t(xdr_Device_GenericParms)},
    {Vxi11Rpc::Core, Vxi11Rpc::DeviceRemote, xdrproc_t(xdr_Device_GenericParms)},
    {Vxi11Rpc::Core, Vxi11Rpc::DeviceLocal, xdrproc_t(xdr_Device_GenericParms)},
    {Vxi11Rpc::Core, Vxi11Rpc::DeviceLock, xdrproc_t(xdr_Device_LockParms)},
    {Vxi11Rpc::Core, Vxi11Rpc::DeviceUnlock, xdrproc_t(xdr_Device_Link)},
    {Vxi11Rpc::Core, Vxi11Rpc::DeviceEnableSrq, xdrproc_t(xdr_Device_EnableSrqParms)},
    {Vxi11Rpc::Core, Vxi11Rpc::DeviceDocmd, xdrproc_t(xdr_Device_DocmdParms)},
    {Vxi11Rpc::Core, Vxi11Rpc::DestroyLink, xdrproc_t(xdr_Device_Link)},
    {Vxi11Rpc::Core, Vxi11Rpc::CreateIntrChan, xdrproc_t(xdr_Device_RemoteFunc)},
    {Vxi11Rpc::Core, Vxi11Rpc::DestroyIntrChan, nullptr},
    {Vxi11Rpc::Intr, Vxi11Rpc::DeviceIntrSrq, xdrproc_t(xdr_Device_SrqParms)},
};

// A message as one record of one fragment. xdr_sizeof measures it first, so
// that the buffer is exactly as long as the encoding.
QByteArray record(xdrproc_t proc, void *value)
{
    const unsigned long size = xdr_sizeof(proc, value);
    if (size == 0 || size > unsigned(Vxi11Rpc::MaxRecord))
        return {};
    QByteArray out(int(4 + size), Qt::Uninitialized);
    XDR x;
    xdrmem_create(&x, out.data() + 4, u_int(size), XDR_ENCODE);
    const bool encoded = reinterpret_cast<Decode>(proc)(&x, value) && xdr_getpos(&x) == size;
    xdr_destroy(&x);
    if (!encoded)
        return {};
    qToBigEndian<quint32>(LastFragment | quint32(size), out.data());
    return out;
}

rpc_msg replyHeader(quint32 xid, reply_stat stat)
{
    rpc_msg msg;
    std::memset(&msg, 0, sizeof msg);
    msg.rm_xid = xid;
    msg.rm_direction = REPLY;
    msg.rm_reply.rp_stat = stat;
    msg.acpted_rply.ar_verf = _null_auth;
    return msg;
}

} // namespace

Vxi11Rpc::Call::Call()
{
    std::memset(&args, 0, sizeof args);
}

Vxi11Rpc::Call::Call(Call &&other) noexcept
    : status(other.status)
    , xid(other.xid)
    , prog(other.prog)
    , vers(other.vers)
    , proc(other.proc)
    , m_xdr(other.m_xdr)
{
    std::memcpy(&args, &other.args, sizeof args);
    other.m_xdr = nullptr;
}

Vxi11Rpc::Call::~Call()
{
    if (m_xdr)
        xdr_free(m_xdr, reinterpret_cast<char *>(&args));
}

void Vxi11Rpc::feed(const QByteArray &bytes)
{
    if (!m_failed)
        m_in.append(bytes);
}

bool Vxi11Rpc::takeRecord(QByteArray *record)
{
    while (!m_failed) {
        if (m_left < 0) {
            if (m_in.size() - m_pos < 4)
                break;
            const quint32 mark = qFromBigEndian<quint32>(m_in.constData() + m_pos);
            m_pos += 4;
            m_last = mark & LastFragment;
            m_left = mark & ~LastFragment;
            // Refused on its header, before its bytes come: a client cannot
            // make the server hold more than one record's worth.
            if (m_record.size() + m_left > MaxRecord) {
                m_failed = true;
                m_in.clear();
                m_record.clear();
                return false;
            }
        }
        const int n = int(qMin<qint64>(m_left, m_in.size() - m_pos));
        m_record.append(m_in.constData() + m_pos, n);
        m_pos += n;
        m_left -= n;
        if (m_left > 0)
            break;
        m_left = -1;
        if (m_last) {
            *record = m_record;
            m_record.clear();
            return true;
        }
    }
    m_in.remove(0, m_pos);
    m_pos = 0;
    return false;
}

Vxi11Rpc::Call Vxi11Rpc::decodeCall(const QByteArray &record, Program served)
{
    Call call;
    XDR x;
    xdrmem_create(&x, const_cast<char *>(record.constData()), u_int(record.size()), XDR_DECODE);
    // The RPC version is read first: xdr_callmsg fails on any but 2 just as
    // on garbage, and a call of another version is owed an answer.
    u_int head[3];
    const bool headed = xdr_u_int(&x, &head[0]) && xdr_u_int(&x, &head[1])
        && xdr_u_int(&x, &head[2]) && head[1] == CALL;
    if (record.size() >= 4)
        call.xid = qFromBigEndian<quint32>(record.constData());
    if (headed && head[2] != RPC_MSG_VERSION)
        call.status = Call::RpcMismatch;
    if (!headed || call.status == Call::RpcMismatch) {
        xdr_destroy(&x);
        return call;
    }
    // Room for the credentials and the verifier, which are not checked: the
    // protocol has no authentication of its own, and any flavour is taken.
    char auth[2 * MAX_AUTH_BYTES];
    rpc_msg msg;
    std::memset(&msg, 0, sizeof msg);
    msg.rm_call.cb_cred.oa_base = auth;
    msg.rm_call.cb_verf.oa_base = auth + MAX_AUTH_BYTES;
    xdr_setpos(&x, 0);
    if (!xdr_callmsg(&x, &msg)) {
        xdr_destroy(&x);
        return call;
    }
    call.prog = quint32(msg.rm_call.cb_prog);
    call.vers = quint32(msg.rm_call.cb_vers);
    call.proc = quint32(msg.rm_call.cb_proc);
    const Entry *entry = nullptr;
    for (const Entry &e : entries) {
        if (e.prog == call.prog && e.proc == call.proc)
            entry = &e;
    }
    if (call.prog != served)
        call.status = Call::ProgUnavail;
    else if (call.vers != Version)
        call.status = Call::ProgMismatch;
    else if (!entry && call.proc != Null)
        call.status = Call::ProcUnavail;
    else if (!entry || !entry->args)
        call.status = Call::Accepted;
    else if (reinterpret_cast<Decode>(entry->args)(&x, &call.args)) {
        // Whatever follows the arguments is ignored, as libtirpc's servers
        // ignore it.
        call.status = Call::Accepted;
        call.m_xdr = entry->args;
    } else {
        // What was allocated before the arguments ran out.
        xdr_free(entry->args, reinterpret_cast<char *>(&call.args));
        std::memset(&call.args, 0, sizeof call.args);
        call.status = Call::GarbageArgs;
    }
    xdr_destroy(&x);
    return call;
}

QByteArray Vxi11Rpc::reply(quint32 xid, xdrproc_t result, const void *value)
{
    rpc_msg msg = replyHeader(xid, MSG_ACCEPTED);
    msg.acpted_rply.ar_stat = SUCCESS;
    msg.acpted_rply.ar_results.where = static_cast<char *>(const_cast<void *>(value));
    msg.acpted_rply.ar_results.proc = result;
    return record(xdrproc_t(xdr_replymsg), &msg);
}

QByteArray Vxi11Rpc::reply(quint32 xid)
{
    return reply(xid, xdrproc_t(nothing), nullptr);
}

QByteArray Vxi11Rpc::refusal(const Call &call)
{
    rpc_msg msg = replyHeader(call.xid, MSG_ACCEPTED);
    switch (call.status) {
    case Call::Accepted:
    case Call::Unreadable:
        return {};
    case Call::RpcMismatch:
        msg = replyHeader(call.xid, MSG_DENIED);
        msg.rjcted_rply.rj_stat = RPC_MISMATCH;
        msg.rjcted_rply.rj_vers.low = RPC_MSG_VERSION;
        msg.rjcted_rply.rj_vers.high = RPC_MSG_VERSION;
        break;
    case Call::ProgUnavail:
        msg.acpted_rply.ar_stat = PROG_UNAVAIL;
        break;
    case Call::ProgMismatch:
        msg.acpted_rply.ar_stat = PROG_MISMATCH;
        msg.acpted_rply.ar_vers.low = Version;
        msg.acpted_rply.ar_vers.high = Version;
        break;
    case Call::ProcUnavail:
        msg.acpted_rply.ar_stat = PROC_UNAVAIL;
        break;
    case Call::GarbageArgs:
        msg.acpted_rply.ar_stat = GARBAGE_ARGS;
        break;
    }
    return record(xdrproc_t(xdr_replymsg), &msg);
}

QByteArray Vxi11Rpc::call(
    quint32 xid, quint32 prog, quint32 vers, quint32 proc, xdrproc_t args, const void *value)
{
    rpc_msg msg;
    std::memset(&msg, 0, sizeof msg);
    msg.rm_xid = xid;
    msg.rm_direction = CALL;
    msg.rm_call.cb_rpcvers = RPC_MSG_VERSION;
    msg.rm_call.cb_prog = prog;
    msg.rm_call.cb_vers = vers;
    msg.rm_call.cb_proc = proc;
    msg.rm_call.cb_cred = _null_auth;
    msg.rm_call.cb_verf = _null_auth;
    // xdr_callmsg writes the header alone; the arguments follow it.
    struct Whole {
        rpc_msg *msg;
        xdrproc_t args;
        void *value;
    } whole{&msg, args, const_cast<void *>(value)};
    const Decode both = [](XDR *x, void *p) -> bool_t {
        auto *w = static_cast<Whole *>(p);
        return xdr_callmsg(x, w->msg)
            && (!w->args || reinterpret_cast<Decode>(w->args)(x, w->value));
    };
    return record(xdrproc_t(both), &whole);
}

QByteArray Vxi11Rpc::intrSrq(quint32 xid, const QByteArray &handle)
{
    Device_SrqParms parms;
    parms.handle.handle_len = u_int(handle.size());
    parms.handle.handle_val = const_cast<char *>(handle.constData());
    return call(xid, Intr, Version, DeviceIntrSrq, xdrproc_t(xdr_Device_SrqParms), &parms);
}

Vxi11Rpc::Reply Vxi11Rpc::decodeReply(const QByteArray &record)
{
    Reply reply;
    char verf[MAX_AUTH_BYTES];
    rpc_msg msg;
    std::memset(&msg, 0, sizeof msg);
    msg.acpted_rply.ar_verf.oa_base = verf;
    msg.acpted_rply.ar_results.proc = xdrproc_t(nothing);
    XDR x;
    xdrmem_create(&x, const_cast<char *>(record.constData()), u_int(record.size()), XDR_DECODE);
    // xdr_replymsg takes a reply only with a direction and status it knows,
    // but any number as accept_stat: read as an int, not as the enum, which
    // in C++ cannot hold it.
    reply.readable = xdr_replymsg(&x, &msg);
    xdr_destroy(&x);
    if (!reply.readable)
        return reply;
    int accepted;
    std::memcpy(&accepted, &msg.acpted_rply.ar_stat, sizeof accepted);
    reply.xid = quint32(msg.rm_xid);
    reply.success = msg.rm_reply.rp_stat == MSG_ACCEPTED && accepted == SUCCESS;
    return reply;
}
