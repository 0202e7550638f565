#ifndef VXI11RPC_H
#define VXI11RPC_H

// Made by rpcgen from daemon/vxi11.x at build time: the protocol's structures
// and their XDR routines (xdr_Create_LinkParms and the rest).
#include "daemon/vxi11.h"

#include <QByteArray>

// The wire layer of the VXI-11 TCP/IP Instrument Protocol, with no socket and
// no event loop: ONC RPC (RFC 5531) on TCP, its messages in XDR (RFC 4506) by
// libtirpc and the routines rpcgen made.
//
// An object reads one TCP stream's record marking: a record comes in
// fragments, each behind four bytes that give its length and whether it is
// the record's last. The rest is static: a call record decoded into the
// structure of its procedure, or into the refusal the RPC layer owes the
// client; replies, refusals and the server's own call (device_intr_srq, on
// the client's interrupt channel) encoded as records ready to write.
//
// A connection of the server, on the core channel (Async on the abort one):
//
//   rpc.feed(bytesRead);
//   QByteArray record;
//   while (rpc.takeRecord(&record)) {
//       const Vxi11Rpc::Call call = Vxi11Rpc::decodeCall(record, Vxi11Rpc::Core);
//       if (call.status == Vxi11Rpc::Call::Accepted)
//           write(Vxi11Rpc::reply(call.xid, resultOf(call.proc, call.args)));
//       else
//           write(Vxi11Rpc::refusal(call)); // nothing for an unreadable one
//   }
//   if (rpc.failed())
//       close(); // a record over MaxRecord: the stream cannot be followed
//
// Feeding what arrived and then taking records until there is none keeps
// what an object holds to the one record under way.
class Vxi11Rpc {
public:
    enum Program : quint32 { Core = DEVICE_CORE, Async = DEVICE_ASYNC, Intr = DEVICE_INTR };
    static constexpr quint32 Version = 1; // the only one, of all three programs

    enum Procedure : quint32 {
        // Every ONC RPC program answers procedure 0 with nothing, whatever its
        // interface lists: how a client (rpcinfo -t) asks whether it is there.
        Null = 0,
        DeviceAbort = device_abort, // Async
        CreateLink = create_link,
        DeviceWrite = device_write,
        DeviceRead = device_read,
        DeviceReadStb = device_readstb,
        DeviceTrigger = device_trigger,
        DeviceClear = device_clear,
        DeviceRemote = device_remote,
        DeviceLocal = device_local,
        DeviceLock = device_lock,
        DeviceUnlock = device_unlock,
        DeviceEnableSrq = device_enable_srq,
        DeviceDocmd = device_docmd,
        DestroyLink = destroy_link,
        CreateIntrChan = create_intr_chan,
        DestroyIntrChan = destroy_intr_chan,
        DeviceIntrSrq = device_intr_srq, // Intr
    };

    // Device_Flags: wait for a lock, end of a message, stop a read at termChar.
    enum Flag : int { FlagWaitLock = 1, FlagEnd = 8, FlagTermChrSet = 128 };
    // Device_ReadResp.reason: what ended a read.
    enum Reason : int { ReasonReqCnt = 1, ReasonChr = 2, ReasonEnd = 4 };
    // Device_ErrorCode.
    enum Error : int {
        NoError = 0,
        SyntaxError = 1,
        DeviceNotAccessible = 3,
        InvalidLinkId = 4,
        ParameterError = 5,
        ChannelNotEstablished = 6,
        OperationNotSupported = 8,
        OutOfResources = 9,
        DeviceLockedByAnotherLink = 11,
        NoLockHeldByThisLink = 12,
        IoTimeout = 15,
        IoError = 17,
        InvalidAddress = 21,
        Abort = 23,
        ChannelAlreadyEstablished = 29,
    };

    // The most bytes of any variable-length field (a write's data, a read's):
    // the maxRecvSize for create_link to give, and what a read may return.
    static constexpr int MaxData = VXI11_MAX_DATA;
    // The longest record taken: the data and room for the RPC header (two
    // authentication fields of at most 400 bytes each) and the other fields.
    static constexpr int MaxRecord = MaxData + 4096;

    // A call as decoded. It owns what XDR allocated for its arguments.
    struct Call {
        enum Status {
            Accepted, // a procedure of the program served: args holds its arguments
            Unreadable, // not a call, or its header is cut short: left unanswered,
                        // as libtirpc's own servers leave it
            RpcMismatch, // an RPC version other than 2: denied with 2 to 2
            ProgUnavail, // a program other than the one served
            ProgMismatch, // a version of it other than 1: answered with 1 to 1
            ProcUnavail, // a procedure it does not have
            GarbageArgs, // arguments that do not decode
        };
        Status status = Unreadable;
        quint32 xid = 0; // the reply's; known unless the record is shorter than 4 bytes
        quint32 prog = 0;
        quint32 vers = 0;
        quint32 proc = 0;
        // The member of the procedure (none for Null and DestroyIntrChan).
        union Args {
            Device_Link link; // DeviceAbort, DeviceUnlock, DestroyLink
            Create_LinkParms createLink;
            Device_WriteParms write;
            Device_ReadParms read;
            Device_GenericParms generic; // ReadStb, Trigger, Clear, Remote, Local
            Device_LockParms lock;
            Device_EnableSrqParms enableSrq;
            Device_DocmdParms docmd;
            Device_RemoteFunc intrChan; // CreateIntrChan
            Device_SrqParms srq; // DeviceIntrSrq, decoded by a client's side
        } args;

        Call();
        Call(Call &&other) noexcept;
        Call(const Call &) = delete;
        Call &operator=(const Call &) = delete;
        Call &operator=(Call &&) = delete;
        ~Call();
        // The XDR routine of args, or null when there are none.
        xdrproc_t argsXdr() const { return m_xdr; }

    private:
        friend class Vxi11Rpc;
        xdrproc_t m_xdr = nullptr;
    };

    // The stream: bytes in as they arrive, whole records out.
    void feed(const QByteArray &bytes);
    // The next whole record, its fragments joined; false when none is whole
    // yet, or the stream failed.
    bool takeRecord(QByteArray *record);
    // A record would be longer than MaxRecord: nothing more is taken, and
    // the connection has to be closed.
    bool failed() const { return m_failed; }

    // A call of `served` (the program of this channel), or why not.
    static Call decodeCall(const QByteArray &record, Program served);

    // An accepted call's reply with its result, the one of its procedure.
    static QByteArray reply(quint32 xid, xdrproc_t result, const void *value);
    static QByteArray reply(quint32 xid); // Null's, which returns nothing
    static QByteArray reply(quint32 xid, const Create_LinkResp &r)
    {
        return reply(xid, xdrproc_t(xdr_Create_LinkResp), &r);
    }
    static QByteArray reply(quint32 xid, const Device_WriteResp &r)
    {
        return reply(xid, xdrproc_t(xdr_Device_WriteResp), &r);
    }
    static QByteArray reply(quint32 xid, const Device_ReadResp &r)
    {
        return reply(xid, xdrproc_t(xdr_Device_ReadResp), &r);
    }
    static QByteArray reply(quint32 xid, const Device_ReadStbResp &r)
    {
        return reply(xid, xdrproc_t(xdr_Device_ReadStbResp), &r);
    }
    static QByteArray reply(quint32 xid, const Device_Error &r)
    {
        return reply(xid, xdrproc_t(xdr_Device_Error), &r);
    }
    static QByteArray reply(quint32 xid, const Device_DocmdResp &r)
    {
        return reply(xid, xdrproc_t(xdr_Device_DocmdResp), &r);
    }
    // The RPC layer's answer to a call it did not accept; empty for an
    // accepted call and for an unreadable one, which gets none.
    static QByteArray refusal(const Call &call);
    // Every encoder returns an empty array when its values do not encode (a
    // field longer than MaxData): a fault of the server's, not the client's.

    // A call with AUTH_NONE: device_intr_srq, the server's only one, and
    // any other (tests make a client's with it).
    static QByteArray call(
        quint32 xid, quint32 prog, quint32 vers, quint32 proc, xdrproc_t args, const void *value);
    static QByteArray intrSrq(quint32 xid, const QByteArray &handle);

    // The header of a reply the server gets on the interrupt channel, read
    // only to be discarded: its xid, and whether it was accepted and
    // successful.
    struct Reply {
        bool readable = false;
        quint32 xid = 0;
        bool success = false;
    };
    static Reply decodeReply(const QByteArray &record);

private:
    QByteArray m_in; // fed and not yet taken
    int m_pos = 0; // how far m_in has been read
    QByteArray m_record; // the record under way
    qint64 m_left = -1; // bytes still to come of its fragment; -1: a header is next
    bool m_last = false; // that fragment is the record's last
    bool m_failed = false;
};

// rpcgen names each procedure by a macro of its own lower-case name, which
// would rewrite any identifier of that name (a member called device_read)
// in every file that includes this one; Procedure names them instead.
#undef device_abort
#undef create_link
#undef device_write
#undef device_read
#undef device_readstb
#undef device_trigger
#undef device_clear
#undef device_remote
#undef device_local
#undef device_lock
#undef device_unlock
#undef device_enable_srq
#undef device_docmd
#undef destroy_link
#undef create_intr_chan
#undef destroy_intr_chan
#undef device_intr_srq

#endif // VXI11RPC_H
