#include "daemon/vxi11channel.h"

#include "daemon/clientconnection.h"
#include "daemon/nativesocket.h"
#include "daemon/vxi11link.h"
#include "daemon/vxi11server.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <cstring>

namespace {

using R = Vxi11Rpc;

QByteArray error(quint32 xid, int code)
{
    Device_Error e{};
    e.error = code;
    return R::reply(xid, e);
}

// device_write's answer: an error code and how much was taken.
QByteArray writeReply(quint32 xid, int code, int size = 0)
{
    Device_WriteResp r{};
    r.error = code;
    r.size = u_int(size);
    return R::reply(xid, r);
}

QByteArray readReply(quint32 xid, int code, int reason, const QByteArray &data)
{
    Device_ReadResp r{};
    r.error = code;
    r.reason = reason;
    r.data.data_len = u_int(data.size());
    r.data.data_val = const_cast<char *>(data.constData());
    return R::reply(xid, r);
}

// A time-out as VXI-11 gives it (ms), as a timer takes it.
int msOf(quint32 ms)
{
    return int(qMin<quint32>(ms, 0x7fffffff));
}

} // namespace

Vxi11Channel::Vxi11Channel(ClientConnection *connection, Vxi11Server &server, bool abort,
    const QString &peer, QObject *parent)
    : QObject(parent)
    , m_Connection(connection)
    , m_Server(server)
    , m_Abort(abort)
    , m_Peer(peer)
{
    m_Connection->setParent(this);
    m_Timer = new QTimer(this);
    m_Timer->setSingleShot(true);
    connect(m_Connection, &ClientConnection::readable, this, &Vxi11Channel::read);
    connect(m_Connection, &ClientConnection::closed, this, [this] {
        for (const QPointer<Vxi11Link> &link : qAsConst(m_Links))
            delete link.data(); // its locks with it
        emit finished();
    });
    read();
}

Vxi11Link *Vxi11Channel::linkOf(qint32 id) const
{
    for (const QPointer<Vxi11Link> &link : m_Links) {
        if (link && link->id() == id)
            return link;
    }
    return nullptr;
}

void Vxi11Channel::read()
{
    if (!m_Connection->input().isEmpty()) {
        m_Rpc.feed(m_Connection->input());
        m_Connection->consume(int(m_Connection->input().size()));
    }
    QByteArray record;
    while (!m_Waiting && m_Rpc.takeRecord(&record)) {
        const R::Call call = R::decodeCall(record, m_Abort ? R::Async : R::Core);
        if (call.status == R::Call::Accepted)
            handle(call);
        else
            m_Connection->write(R::refusal(call)); // nothing for an unreadable one
    }
    if (m_Rpc.failed() || (m_Connection->inputEnded() && !m_Waiting))
        m_Connection->finish();
}

void Vxi11Channel::answer(const QByteArray &reply)
{
    m_Timer->stop();
    m_Timer->disconnect();
    m_Waiting = false;
    m_Connection->write(reply);
    QMetaObject::invokeMethod(this, &Vxi11Channel::read, Qt::QueuedConnection);
}

void Vxi11Channel::handle(const Vxi11Rpc::Call &call)
{
    const quint32 xid = call.xid;
    const auto &a = call.args;
    if (call.proc == R::Null)
        return m_Connection->write(R::reply(xid));
    if (m_Abort) { // device_abort: whatever waits on the link ends now
        const bool known = m_Server.find(a.link) != nullptr;
        if (known)
            m_Server.abort(a.link);
        return m_Connection->write(error(xid, known ? R::NoError : R::InvalidLinkId));
    }
    switch (call.proc) {
    case R::CreateLink:
        return createLink(call);
    case R::DeviceWrite:
        return write(call);
    case R::DeviceRead:
        return readAnswer(xid, a.read.lid, a.read.requestSize,
            (a.read.flags & R::FlagTermChrSet) ? int(uchar(a.read.termChar)) : -1,
            a.read.io_timeout);
    case R::DeviceLock:
        return lock(call);
    default:
        break;
    }
    // The calls with a link first that are answered at once.
    const qint32 lid
        = call.proc == R::DeviceUnlock || call.proc == R::DestroyLink ? a.link : a.generic.lid;
    Vxi11Link *link = call.proc == R::CreateIntrChan || call.proc == R::DestroyIntrChan
        ? nullptr
        : linkOf(call.proc == R::DeviceEnableSrq ? a.enableSrq.lid : lid);
    switch (call.proc) {
    case R::DeviceReadStb: {
        Device_ReadStbResp r{};
        r.error = link ? R::NoError : R::InvalidLinkId;
        r.stb = link ? u_char(link->engine()->statusByte()) : 0;
        return m_Connection->write(R::reply(xid, r));
    }
    case R::DeviceClear:
        if (link)
            link->clear();
        return m_Connection->write(error(xid, link ? R::NoError : R::InvalidLinkId));
    case R::DeviceTrigger: // the cards have no trigger
        return m_Connection->write(error(xid, link ? R::OperationNotSupported : R::InvalidLinkId));
    case R::DeviceDocmd: {
        Device_DocmdResp r{};
        r.error = R::OperationNotSupported;
        return m_Connection->write(R::reply(xid, r));
    }
    case R::DeviceRemote:
    case R::DeviceLocal: // nor a front panel to lock out
        return m_Connection->write(error(xid, link ? R::NoError : R::InvalidLinkId));
    case R::DeviceUnlock:
        if (!link)
            return m_Connection->write(error(xid, R::InvalidLinkId));
        return m_Connection->write(error(
            xid, m_Server.locks().release(link->engine()) ? R::NoError : R::NoLockHeldByThisLink));
    case R::DeviceEnableSrq:
        if (!link)
            return m_Connection->write(error(xid, R::InvalidLinkId));
        link->srqEnabled = a.enableSrq.enable;
        link->srqHandle
            = QByteArray(a.enableSrq.handle.handle_val, int(a.enableSrq.handle.handle_len));
        return m_Connection->write(error(xid, R::NoError));
    case R::DestroyLink:
        if (!link)
            return m_Connection->write(error(xid, R::InvalidLinkId));
        m_Links.removeAll(link);
        delete link;
        return m_Connection->write(error(xid, R::NoError));
    case R::CreateIntrChan: {
        if (m_Interrupt)
            return m_Connection->write(error(xid, R::ChannelAlreadyEstablished));
        // The client's own RPC server, which device_intr_srq calls.
        m_Interrupt = new QTcpSocket(this);
        m_Interrupt->connectToHost(QHostAddress(a.intrChan.hostAddr), a.intrChan.hostPort);
        connect(
            m_Interrupt, &QTcpSocket::readyRead, m_Interrupt, [this] { m_Interrupt->readAll(); });
        return m_Connection->write(error(xid, R::NoError));
    }
    case R::DestroyIntrChan:
        if (!m_Interrupt)
            return m_Connection->write(error(xid, R::ChannelNotEstablished));
        m_Interrupt->deleteLater();
        m_Interrupt = nullptr;
        return m_Connection->write(error(xid, R::NoError));
    default:
        return m_Connection->write(error(xid, R::OperationNotSupported));
    }
}

void Vxi11Channel::createLink(const Vxi11Rpc::Call &call)
{
    const quint32 xid = call.xid;
    const Create_LinkParms &p = call.args.createLink;
    int code = R::NoError;
    Vxi11Link *link = m_Server.link(QString::fromLatin1(p.device), m_Peer, this, &code);
    Create_LinkResp r{};
    r.maxRecvSize = Vxi11Link::MaxMessage;
    if (!link) {
        r.error = code;
        return m_Connection->write(R::reply(xid, r));
    }
    m_Links << link;
    QPointer<Vxi11Link> self(link);
    connect(link->engine(), &ScpiSession::serviceRequest, this,
        [this, self](int stb) { interrupt(self, stb); });
    r.lid = link->id();
    quint16 port = 0;
    r.abortPort = m_Server.abortPort(NativeSocket::localAddress(m_Connection->descriptor(), &port));
    if (!p.lockDevice)
        return m_Connection->write(R::reply(xid, r));
    // With the lock: granted at once, within lock_timeout, or not at all.
    m_Waiting = true;
    m_Server.locks().acquire(link->engine(), QString(), msOf(p.lock_timeout),
        [this, xid, r, self](bool granted) mutable {
            if (!granted) {
                r.error = R::DeviceLockedByAnotherLink;
                if (self) {
                    m_Links.removeAll(self);
                    delete self.data();
                }
                r.lid = 0;
            }
            answer(R::reply(xid, r));
        });
}

void Vxi11Channel::write(const Vxi11Rpc::Call &call)
{
    const quint32 xid = call.xid;
    const Device_WriteParms &p = call.args.write;
    Vxi11Link *link = linkOf(p.lid);
    if (!link)
        return m_Connection->write(writeReply(xid, R::InvalidLinkId));
    const QByteArray data(p.data.data_val, int(p.data.data_len));
    const bool end = p.flags & R::FlagEnd;
    const int size = int(data.size());
    QPointer<Vxi11Link> self(link);
    const auto take = [this, xid, self, data, end, size] {
        if (!self)
            return answer(writeReply(xid, R::InvalidLinkId));
        // A message over 64 KiB is dropped.
        answer(writeReply(xid, self->write(data, end) ? R::NoError : R::ParameterError, size));
    };
    link->engine()->setLockWait(msOf(p.lock_timeout));
    if (m_Server.locks().mayUse(link->engine())) {
        m_Waiting = true;
        return take();
    }
    if (!(p.flags & R::FlagWaitLock))
        return m_Connection->write(writeReply(xid, R::DeviceLockedByAnotherLink));
    m_Waiting = true;
    abortable(p.lid, xid, writeReply(xid, R::Abort));
    m_Server.locks().waitForUse(
        link->engine(), msOf(p.lock_timeout), [this, xid, take](bool granted) {
            if (!m_Waiting || m_Xid != xid)
                return;
            if (granted)
                take();
            else
                answer(writeReply(xid, R::DeviceLockedByAnotherLink));
        });
    m_Xid = xid;
}

void Vxi11Channel::readAnswer(quint32 xid, qint32 lid, quint32 most, int stop, quint32 ms)
{
    Vxi11Link *link = linkOf(lid);
    if (!link)
        return m_Connection->write(error(xid, R::InvalidLinkId));
    const int limit = int(qMin<quint32>(qMax<quint32>(most, 1), quint32(Vxi11Link::MaxMessage)));
    QPointer<Vxi11Link> self(link);
    const auto give = [this, xid, self, limit, stop] {
        bool end = false;
        bool stopped = false;
        const QByteArray data = self->read(limit, stop, &end, &stopped);
        const int reason = (end ? R::ReasonEnd : 0) | (stopped ? R::ReasonChr : 0)
            | (!end && !stopped && data.size() == limit ? R::ReasonReqCnt : 0);
        answer(readReply(xid, R::NoError, reason, data));
    };
    m_Waiting = true;
    m_Xid = xid;
    if (link->readable(limit, stop))
        return give();
    // Until the answer comes, the time-out, or device_abort.
    abortable(lid, xid, readReply(xid, R::Abort, 0, QByteArray()));
    connect(link, &Vxi11Link::answered, m_Timer, [this, xid, give, self, limit, stop] {
        if (m_Waiting && m_Xid == xid && self && self->readable(limit, stop))
            give();
    });
    connect(m_Timer, &QTimer::timeout, this,
        [this, xid] { answer(readReply(xid, R::IoTimeout, 0, QByteArray())); });
    m_Timer->start(msOf(ms));
}

void Vxi11Channel::lock(const Vxi11Rpc::Call &call)
{
    const quint32 xid = call.xid;
    const Device_LockParms &p = call.args.lock;
    Vxi11Link *link = linkOf(p.lid);
    if (!link)
        return m_Connection->write(error(xid, R::InvalidLinkId));
    if (m_Server.locks().holdsExclusive(link->engine()))
        return m_Connection->write(error(xid, R::NoError));
    const int wait = (p.flags & R::FlagWaitLock) ? msOf(p.lock_timeout) : 0;
    m_Waiting = true;
    m_Xid = xid;
    abortable(p.lid, xid, error(xid, R::Abort));
    m_Server.locks().acquire(link->engine(), QString(), wait, [this, xid](bool granted) {
        if (m_Waiting && m_Xid == xid)
            answer(error(xid, granted ? R::NoError : R::DeviceLockedByAnotherLink));
    });
}

void Vxi11Channel::abortable(qint32 lid, quint32 xid, const QByteArray &reply)
{
    QPointer<Vxi11Channel> self(this);
    m_Server.setAbort(lid, [self, xid, reply] {
        if (self && self->m_Waiting && self->m_Xid == xid)
            self->answer(reply);
    });
}

void Vxi11Channel::interrupt(Vxi11Link *link, int statusByte)
{
    Q_UNUSED(statusByte)
    if (!link || !link->srqEnabled || !m_Interrupt)
        return;
    m_Interrupt->write(R::intrSrq(m_InterruptXid++, link->srqHandle));
}
