// VXI-11's wire layer: calls as a client sends them, the stream split at
// every byte, decoded field by field and encoded back to the same
// arguments; the RPC layer's refusals and replies, byte for byte; the
// record marking and its limit; and RpcBind against a stand-in rpcbind in
// namespaces of its own.

#include "daemon/rpcbind.h"
#include "daemon/vxi11rpc.h"

#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using Status = Vxi11Rpc::Call::Status;
Q_DECLARE_METATYPE(Vxi11Rpc::Program)
Q_DECLARE_METATYPE(Status)

namespace {

// The bytes pyvisa-py sends (Debian's python3-pyvisa-py 0.5.1), record mark
// included, made once with /usr/bin/python3:
//   from pyvisa_py.protocols import vxi11 as v, rpc
//   class Sock:
//       def send(self, b): print(b.hex())
//   null, p = (0, b""), v.Vxi11Packer()
//   def call(xid, prog, proc, pack=None, args=None, cred=null):
//       p.reset(); p.pack_callheader(xid, prog, 1, proc, cred, null)
//       if pack: pack(args)
//       rpc._sendrecord(Sock(), p.get_buffer())
//   call(1, v.DEVICE_CORE_PROG, v.CREATE_LINK, p.pack_create_link_parms, (42, True, 3000, "inst0"))
// and so on with the arguments each row's fields give; the AUTH_UNIX
// credential from pack_auth_unix(0, b"host", 1000, 1000, [20]); the reply:
//   p.reset(); p.pack_replyheader(12, null); p.pack_int(0); p.pack_int(v.RX_END)
//   p.pack_opaque(b"RFCARD,VN2810\n"); rpc._sendrecord(Sock(), p.get_buffer())
QByteArray h(const char *hex)
{
    return QByteArray::fromHex(hex);
}
const QByteArray createLink
    = h("80000040000000010000000000000002000607af000000010000000a00000000000000000000000000000000"
        "0000002a0000000100000bb800000005696e737430000000");
const QByteArray deviceAbort
    = h("8000002c0000000b0000000000000002000607b0000000010000000100000000000000000000000000000000"
        "00000007");
const QByteArray readReply
    = h("800000340000000c000000010000000000000000000000000000000000000000000000040000000e52464341"
        "52442c564e323831300a0000");
// The header of createLink, without its arguments.
const QByteArray callHeader = createLink.mid(4, 40);

QByteArray marked(const QByteArray &body)
{
    QByteArray mark(4, 0);
    qToBigEndian<quint32>(0x80000000u | quint32(body.size()), mark.data());
    return mark + body;
}

// A record with one 32-bit word set (0 is the mark, 1 the xid, then
// direction, RPC version, program, version, procedure).
QByteArray patched(QByteArray stream, int word, quint32 value)
{
    qToBigEndian<quint32>(value, stream.data() + 4 * word);
    return stream;
}

// The records of a stream fed in pieces: its first `first` bytes, then the
// rest in pieces of `piece` bytes (0: at once), taken after each.
QList<QByteArray> take(const QByteArray &stream, int first, int piece, bool *failed = nullptr)
{
    Vxi11Rpc rpc;
    QList<QByteArray> records;
    QByteArray record;
    for (int at = 0, size = first; at < stream.size();
         at += size, size = piece ? piece : stream.size()) {
        rpc.feed(stream.mid(at, size));
        while (rpc.takeRecord(&record))
            records << record;
    }
    if (failed)
        *failed = rpc.failed();
    return records;
}

QByteArray hex(const char *data, u_int size)
{
    return QByteArray(data, int(size)).toHex();
}

// The arguments of a call, field by field in their order in the protocol.
QString fields(const Vxi11Rpc::Call &call)
{
    const Vxi11Rpc::Call::Args &a = call.args;
    if (call.status != Vxi11Rpc::Call::Accepted)
        return {};
    switch (call.proc) {
    case Vxi11Rpc::DeviceAbort:
    case Vxi11Rpc::DeviceUnlock:
    case Vxi11Rpc::DestroyLink:
        return QString::number(a.link);
    case Vxi11Rpc::CreateLink:
        return QString::asprintf("%d %d %u %s", a.createLink.clientId, a.createLink.lockDevice,
            a.createLink.lock_timeout, a.createLink.device);
    case Vxi11Rpc::DeviceWrite:
        return QString::asprintf("%d %u %u %d %s", a.write.lid, a.write.io_timeout,
            a.write.lock_timeout, a.write.flags,
            hex(a.write.data.data_val, a.write.data.data_len).constData());
    case Vxi11Rpc::DeviceRead:
        return QString::asprintf("%d %u %u %u %d %d", a.read.lid, a.read.requestSize,
            a.read.io_timeout, a.read.lock_timeout, a.read.flags, a.read.termChar);
    case Vxi11Rpc::DeviceReadStb:
    case Vxi11Rpc::DeviceClear:
        return QString::asprintf("%d %d %u %u", a.generic.lid, a.generic.flags,
            a.generic.lock_timeout, a.generic.io_timeout);
    case Vxi11Rpc::DeviceLock:
        return QString::asprintf("%d %d %u", a.lock.lid, a.lock.flags, a.lock.lock_timeout);
    case Vxi11Rpc::DeviceEnableSrq:
        return QString::asprintf("%d %d %s", a.enableSrq.lid, a.enableSrq.enable,
            hex(a.enableSrq.handle.handle_val, a.enableSrq.handle.handle_len).constData());
    case Vxi11Rpc::DeviceDocmd:
        return QString::asprintf("%d %d %u %u %x %d %d %s", a.docmd.lid, a.docmd.flags,
            a.docmd.io_timeout, a.docmd.lock_timeout, a.docmd.cmd, a.docmd.network_order,
            a.docmd.datasize,
            hex(a.docmd.data_in.data_in_val, a.docmd.data_in.data_in_len).constData());
    case Vxi11Rpc::CreateIntrChan:
        return QString::asprintf("%x %u %x %u %d", a.intrChan.hostAddr, a.intrChan.hostPort,
            a.intrChan.progNum, a.intrChan.progVers, a.intrChan.progFamily);
    case Vxi11Rpc::DeviceIntrSrq:
        return QString::fromLatin1(hex(a.srq.handle.handle_val, a.srq.handle.handle_len));
    }
    return {};
}

} // namespace

class TestVxi11 : public QObject {
    Q_OBJECT
private slots:
    void calls_data();
    void calls();
    void replies_data();
    void replies();
    void records_data();
    void records();
    void rpcbind();
};

// A row: what a client sends, the program of the channel, how it decodes
// (status, xid, procedure, fields) and the refusal the server sends back.
namespace {

void accepted(const char *name, const QByteArray &stream, quint32 xid, quint32 proc,
    const char *fields, Vxi11Rpc::Program served = Vxi11Rpc::Core)
{
    QTest::newRow(name) << stream << served << Status::Accepted << xid << proc
                        << QString::fromLatin1(fields) << QByteArray();
}

// Refused with the words of the reply the RPC layer owes (none: no reply).
void refused(const char *name, const QByteArray &stream, Status status, quint32 xid, quint32 proc,
    const char *reply, Vxi11Rpc::Program served = Vxi11Rpc::Core)
{
    QTest::newRow(name) << stream << served << status << xid << proc << QString()
                        << QByteArray::fromHex(reply);
}

} // namespace

void TestVxi11::calls_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<Vxi11Rpc::Program>("served");
    QTest::addColumn<Status>("status");
    QTest::addColumn<quint32>("xid");
    QTest::addColumn<quint32>("proc");
    QTest::addColumn<QString>("fields");
    QTest::addColumn<QByteArray>("refusal");
    accepted("create_link", createLink, 1, 10, "42 1 3000 inst0");
    accepted("device_write",
        h("80000044000000020000000000000002000607af000000010000000b00000000000000000000000000000000"
          "00000007000007d0000001f400000008000000062a49444e3f0a0000"),
        2, 11, "7 2000 500 8 2a49444e3f0a");
    accepted("device_read",
        h("80000040000000030000000000000002000607af000000010000000c00000000000000000000000000000000"
          "0000000700000400000007d0000001f4000000800000000a"),
        3, 12, "7 1024 2000 500 128 10");
    accepted("device_readstb",
        h("80000038000000040000000000000002000607af000000010000000d00000000000000000000000000000000"
          "0000000700000001000001f4000007d0"),
        4, 13, "7 1 500 2000");
    accepted("device_lock",
        h("80000034000000050000000000000002000607af000000010000001200000000000000000000000000000000"
          "000000070000000100000bb8"),
        5, 18, "7 1 3000");
    accepted("device_unlock",
        h("8000002c000000060000000000000002000607af000000010000001300000000000000000000000000000000"
          "00000007"),
        6, 19, "7");
    accepted("device_enable_srq",
        h("80000038000000070000000000000002000607af000000010000001400000000000000000000000000000000"
          "00000007000000010000000268310000"),
        7, 20, "7 1 6831");
    accepted("device_docmd",
        h("8000004c000000080000000000000002000607af000000010000001600000000000000000000000000000000"
          "0000000700000000000007d0000001f40002000000000001000000040000000201020000"),
        8, 22, "7 0 2000 500 20000 1 4 0102");
    accepted("create_intr_chan",
        h("8000003c000000090000000000000002000607af000000010000001900000000000000000000000000000000"
          "7f000001000003ff000607b10000000100000000"),
        9, 25, "7f000001 1023 607b1 1 0");
    accepted("destroy_intr_chan",
        h("800000280000000a0000000000000002000607af000000010000001a0000000000000000000000000000000"
          "0"),
        10, 26, "");
    accepted("device_abort", deviceAbort, 11, 1, "7", Vxi11Rpc::Async);
    accepted("device_clear, AUTH_UNIX",
        h("800000540000000e0000000000000002000607af000000010000000f000000010000001c0000000000000004"
          "686f7374000003e8000003e800000001000000140000000000000000000000070000000000000000000007d"
          "0"),
        14, 15, "7 0 0 2000");
    accepted("null procedure", patched(marked(callHeader), 6, 0), 1, 0, "");
    accepted("device_intr_srq, ours", Vxi11Rpc::intrSrq(13, "h1"), 13, 30, "6831", Vxi11Rpc::Intr);

    refused("RPC version 3", patched(createLink, 3, 3), Status::RpcMismatch, 1, 0,
        "80000018 00000001 00000001 00000001 00000000 00000002 00000002");
    refused("device_abort on the core channel", deviceAbort, Status::ProgUnavail, 11, 1,
        "80000018 0000000b 00000001 00000000 00000000 00000000 00000001");
    refused("program version 2", patched(createLink, 5, 2), Status::ProgMismatch, 1, 10,
        "80000020 00000001 00000001 00000000 00000000 00000000 00000002 00000001 00000001");
    refused("procedure 21", patched(createLink, 6, 21), Status::ProcUnavail, 1, 21,
        "80000018 00000001 00000001 00000000 00000000 00000000 00000003");
    refused("arguments cut short", marked(createLink.mid(4, 60)), Status::GarbageArgs, 1, 10,
        "80000018 00000001 00000001 00000000 00000000 00000000 00000004");
    // Data that claims 4 GiB. Refused here either way: what proves it is not
    // allocated is the same call in fuzz/corpus/vxi11/data-4gib, where
    // libFuzzer's limit on one allocation stops the fuzz target.
    refused("data of 4 GiB",
        patched(patched(marked(callHeader + QByteArray(20, 0)), 6, 11), 15, 0xffffffffu),
        Status::GarbageArgs, 1, 11,
        "80000018 00000001 00000001 00000000 00000000 00000000 00000004");
    refused("a reply", readReply, Status::Unreadable, 12, 0, "");
    refused("header cut short", marked(createLink.mid(4, 30)), Status::Unreadable, 1, 0, "");
    refused("empty", marked({}), Status::Unreadable, 0, 0, "");
}

void TestVxi11::calls()
{
    QFETCH(QByteArray, stream);
    QFETCH(Vxi11Rpc::Program, served);
    QFETCH(Status, status);
    QFETCH(quint32, xid);
    QFETCH(quint32, proc);
    QFETCH(QString, fields);
    QFETCH(QByteArray, refusal);
    const QList<QByteArray> whole{stream.mid(4)};
    for (int at = 0; at <= stream.size(); ++at)
        QCOMPARE(take(stream, at, 0), whole);

    const Vxi11Rpc::Call call = Vxi11Rpc::decodeCall(stream.mid(4), served);
    QCOMPARE(call.status, status);
    QCOMPARE(call.xid, xid);
    QCOMPARE(call.proc, proc);
    QCOMPARE(::fields(call), fields);
    QCOMPARE(Vxi11Rpc::refusal(call).toHex(), refusal.toHex());
    if (status == Status::Accepted) {
        // Encoded back (with AUTH_NONE), the client's own arguments.
        const QByteArray again
            = Vxi11Rpc::call(call.xid, call.prog, call.vers, call.proc, call.argsXdr(), &call.args);
        QCOMPARE(again.mid(44).toHex(), stream.right(again.size() - 44).toHex());
    } else if (!refusal.isEmpty()) {
        const Vxi11Rpc::Reply reply = Vxi11Rpc::decodeReply(refusal.mid(4));
        QVERIFY(reply.readable && !reply.success);
        QCOMPARE(reply.xid, xid);
    }
}

// A row: what the server encodes, the bytes expected, and how the header of
// those bytes decodes as a reply.
void TestVxi11::replies_data()
{
    QTest::addColumn<QByteArray>("encoded");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("success");
    const auto row
        = [](const char *name, const QByteArray &encoded, const QByteArray &hex, bool success) {
              QTest::newRow(name) << encoded << QByteArray::fromHex(hex) << success;
          };
    char text[] = "RFCARD,VN2810\n";
    row("device_read, as pyvisa-py makes it",
        Vxi11Rpc::reply(12, Device_ReadResp{0, Vxi11Rpc::ReasonEnd, {14, text}}), readReply.toHex(),
        true);
    const QByteArray accepted = " 00000001 00000000 00000000 00000000 00000000 ";
    row("create_link", Vxi11Rpc::reply(1, Create_LinkResp{0, 3, 1025, Vxi11Rpc::MaxData}),
        "80000028 00000001" + accepted + "00000000 00000003 00000401 00100000", true);
    row("device_readstb", Vxi11Rpc::reply(4, Device_ReadStbResp{Vxi11Rpc::IoTimeout, 0x50}),
        "80000020 00000004" + accepted + "0000000f 00000050", true);
    row("null", Vxi11Rpc::reply(5), "80000018 00000005" + accepted, true);
    row("device_intr_srq call", Vxi11Rpc::intrSrq(13, "h1"),
        "80000030 0000000d 00000000 00000002 000607b1 00000001 0000001e"
        " 00000000 00000000 00000000 00000000 00000002 68310000",
        false);
    QByteArray big(Vxi11Rpc::MaxData + 1, 'x');
    row("data over the limit",
        Vxi11Rpc::reply(6, Device_ReadResp{0, 0, {u_int(big.size()), big.data()}}), "", false);
}

void TestVxi11::replies()
{
    QFETCH(QByteArray, encoded);
    QFETCH(QByteArray, expected);
    QFETCH(bool, success);
    QCOMPARE(encoded.toHex(), expected.toHex());
    const Vxi11Rpc::Reply reply = Vxi11Rpc::decodeReply(encoded.mid(4));
    QCOMPARE(reply.readable, success);
    QCOMPARE(reply.success, success);
    if (success)
        QCOMPARE(reply.xid, qFromBigEndian<quint32>(encoded.constData() + 4));
}

// A row: a stream, the records in it and whether it fails the limit. Each is
// fed whole and byte by byte.
void TestVxi11::records_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::addColumn<bool>("failed");
    const auto fragment
        = [](const QByteArray &bytes) { return patched(marked(bytes), 0, quint32(bytes.size())); };
    const QByteArray limit(Vxi11Rpc::MaxRecord, 'x');
    QTest::newRow("two records") << marked("abcd") + marked("efgh")
                                 << QList<QByteArray>{"abcd", "efgh"} << false;
    QTest::newRow("fragments, one empty")
        << fragment("ab") + fragment({}) + fragment("cde") + marked("f") + marked({})
        << QList<QByteArray>{"abcdef", ""} << false;
    QTest::newRow("a record at the limit")
        << fragment(limit.left(5)) + marked(limit.mid(5)) << QList<QByteArray>{limit} << false;
    QTest::newRow("over the limit, told by the mark")
        << marked("ab") + patched(marked({}), 0, 0x80000000u | (Vxi11Rpc::MaxRecord + 1))
        << QList<QByteArray>{"ab"} << true;
    QTest::newRow("over the limit in fragments")
        << fragment(limit) + marked("y") + marked("ab") << QList<QByteArray>{} << true;
}

void TestVxi11::records()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<QByteArray>, expected);
    QFETCH(bool, failed);
    for (int piece : {0, 1}) {
        bool failedNow = false;
        QCOMPARE(take(stream, 0, piece, &failedNow), expected);
        QCOMPARE(failedNow, failed);
    }
}

namespace {

void say(int out, const QByteArray &line)
{
    const QByteArray text = line + '\n';
    if (::write(out, text.constData(), size_t(text.size())) != text.size())
        ::_exit(1);
}

// A stand-in rpcbind: tells each SET and UNSET it gets and answers true,
// except for version 2, which it refuses as if another user held it.
[[noreturn]] void serveRpcbind(int listener, int out)
{
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        Vxi11Rpc stream;
        QByteArray record;
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
            stream.feed(QByteArray(buffer, int(n)));
            while (stream.takeRecord(&record)) {
                char auth[2 * MAX_AUTH_BYTES];
                rpc_msg msg{};
                msg.rm_call.cb_cred.oa_base = auth;
                msg.rm_call.cb_verf.oa_base = auth + MAX_AUTH_BYTES;
                rpcb parms{};
                XDR x;
                xdrmem_create(&x, record.data(), u_int(record.size()), XDR_DECODE);
                if (!xdr_callmsg(&x, &msg) || !xdr_rpcb(&x, &parms))
                    ::_exit(1);
                say(out,
                    QByteArray(msg.rm_call.cb_proc == RPCBPROC_SET ? "SET " : "UNSET ")
                        + QByteArray::number(parms.r_prog) + ' ' + QByteArray::number(parms.r_vers)
                        + ' ' + QByteArray(parms.r_netid) + ' ' + QByteArray(parms.r_addr));
                bool_t yes = parms.r_vers != 2;
                xdr_free(xdrproc_t(xdr_rpcb), reinterpret_cast<char *>(&parms));
                const QByteArray reply = Vxi11Rpc::reply(msg.rm_xid, xdrproc_t(xdr_bool), &yes);
                if (::write(fd, reply.constData(), size_t(reply.size())) != reply.size())
                    ::_exit(1);
            }
        }
        ::close(fd);
    }
}

bool writeFile(const char *path, const QByteArray &text)
{
    const int fd = ::open(path, O_WRONLY);
    const bool written
        = fd >= 0 && ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    return written;
}

// In user, mount and network namespaces of its own with a tmpfs over /run,
// where libtirpc finds rpcbind's socket: nothing reaches the host's rpcbind.
// 77: no such namespaces here.
int rpcbindChild(int out)
{
    const QByteArray uid = QByteArray::number(::getuid()), gid = QByteArray::number(::getgid());
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET) != 0
        || !writeFile("/proc/self/setgroups", "deny")
        || !writeFile("/proc/self/uid_map", "0 " + uid + " 1")
        || !writeFile("/proc/self/gid_map", "0 " + gid + " 1")
        || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount("tmpfs", "/run", "tmpfs", 0, nullptr) != 0)
        return 77;
    QString why;
    const auto result = [&](const char *what, bool done) {
        say(out, what + (done ? QByteArray(" true") : " false " + why.section(':', 0, 0).toUtf8()));
    };
    result("set, no rpcbind:", RpcBind::set(Vxi11Rpc::Core, 1, 1025, &why));
    const int listener = ::socket(AF_LOCAL, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_LOCAL;
    qstrcpy(address.sun_path, "/run/rpcbind.sock");
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, 8) != 0)
        return 1;
    const pid_t rpcbind = ::fork();
    if (rpcbind == 0)
        serveRpcbind(listener, out);
    result("set:", RpcBind::set(Vxi11Rpc::Core, 1, 1025, &why));
    result("unset:", RpcBind::unset(Vxi11Rpc::Core, 1, &why));
    result("set:", RpcBind::set(Vxi11Rpc::Core, 2, 1025, &why));
    ::kill(rpcbind, SIGKILL);
    ::waitpid(rpcbind, nullptr, 0);
    return 0;
}

} // namespace

void TestVxi11::rpcbind()
{
    int pipe[2];
    QVERIFY(::pipe(pipe) == 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        ::_exit(rpcbindChild(pipe[1]));
    }
    ::close(pipe[1]);
    QByteArray said;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, int(n));
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        QSKIP("no user namespaces here: RpcBind is not tried");
    QCOMPARE(status, 0);
    QCOMPARE(said,
        "set, no rpcbind: false rpcbind could not be reached (is it running?)\n"
        "UNSET 395183 1 tcp \n"
        "SET 395183 1 tcp 0.0.0.0.4.1\n"
        "set: true\n"
        "UNSET 395183 1 tcp \n"
        "unset: true\n"
        "UNSET 395183 2 tcp \n"
        "SET 395183 2 tcp 0.0.0.0.4.1\n"
        "set: false rpcbind refused\n");
}

QTEST_GUILESS_MAIN(TestVxi11)
#include "tst_vxi11.moc"
