#include "daemon/clientconnection.h"

#include "daemon/nativesocket.h"

#include <QIODevice>
#include <QLocalSocket>
#include <QSocketNotifier>

ClientConnection::ClientConnection(qintptr socket, int inputLimit, QObject *parent)
    : QObject(parent)
    , m_Socket(socket)
    , m_InputLimit(inputLimit)
{
    NativeSocket::setNonBlocking(socket);
    NativeSocket::sendAtOnce(socket);
    m_ReadNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    m_WriteNotifier = new QSocketNotifier(socket, QSocketNotifier::Write, this);
    m_WriteNotifier->setEnabled(false);
    connect(m_ReadNotifier, &QSocketNotifier::activated, this, &ClientConnection::readSocket);
    connect(m_WriteNotifier, &QSocketNotifier::activated, this, [this] {
        flush();
        emit written();
    });
}

ClientConnection::ClientConnection(QIODevice *device, int inputLimit, QObject *parent)
    : QObject(parent)
    , m_InputLimit(inputLimit)
    , m_Device(device)
{
    device->setParent(this);
    connect(device, &QIODevice::readyRead, this, &ClientConnection::readDevice);
    connect(device, &QIODevice::bytesWritten, this, &ClientConnection::written);
    if (auto *local = qobject_cast<QLocalSocket *>(device)) {
        local->setReadBufferSize(inputLimit);
        // A pipe has no half-close: its end is the client's going.
        connect(local, &QLocalSocket::disconnected, this, [this] {
            m_InputEnded = true;
            m_Broken = true;
            readDevice();
            if (m_Finishing)
                close();
        });
    }
    readDevice();
}

ClientConnection::~ClientConnection()
{
    if (!m_Closed && m_Socket >= 0)
        NativeSocket::close(m_Socket);
}

void ClientConnection::readSocket()
{
    char chunk[16384];
    while (m_In.size() < m_InputLimit) {
        const qint64 n = NativeSocket::read(
            m_Socket, chunk, qMin<qint64>(sizeof chunk, m_InputLimit - m_In.size()));
        if (n > 0) {
            m_In.append(chunk, int(n));
            continue;
        }
        if (n == NativeSocket::WouldBlock)
            break;
        m_InputEnded = true;
        if (n == NativeSocket::Failed)
            fail();
        break;
    }
    NativeSocket::acknowledgeAtOnce(m_Socket);
    m_ReadNotifier->setEnabled(!m_InputEnded && !m_Closed && m_In.size() < m_InputLimit);
    emit readable();
}

void ClientConnection::readDevice()
{
    if (m_Device && m_In.size() < m_InputLimit)
        m_In += m_Device->read(m_InputLimit - m_In.size());
    emit readable();
}

bool ClientConnection::canReadLine() const
{
    return m_In.contains('\n');
}

QByteArray ClientConnection::readLine()
{
    const int end = m_In.indexOf('\n');
    if (end < 0)
        return QByteArray();
    QByteArray line = m_In.left(end);
    m_In.remove(0, end + 1);
    if (line.endsWith('\r'))
        line.chop(1);
    // Room again: read on (the notifier reports input already waiting).
    if (m_ReadNotifier && !m_InputEnded && !m_Closed)
        m_ReadNotifier->setEnabled(true);
    else if (m_Device && m_Device->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &ClientConnection::readDevice, Qt::QueuedConnection);
    return line;
}

void ClientConnection::consume(int count)
{
    m_In.remove(0, count);
    if (m_ReadNotifier && !m_InputEnded && !m_Closed)
        m_ReadNotifier->setEnabled(true);
    else if (m_Device && m_Device->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &ClientConnection::readDevice, Qt::QueuedConnection);
}

bool ClientConnection::overLimit() const
{
    return m_In.size() >= m_InputLimit && !canReadLine();
}

QByteArray ClientConnection::takeRest()
{
    QByteArray rest;
    rest.swap(m_In);
    return rest;
}

void ClientConnection::write(const QByteArray &bytes)
{
    if (m_Broken || m_Closed || m_Finishing)
        return;
    if (m_Device) {
        m_Device->write(bytes);
        return;
    }
    m_Out += bytes;
    flush();
}

qint64 ClientConnection::unsent() const
{
    return m_Device ? m_Device->bytesToWrite() : m_Out.size();
}

void ClientConnection::flush()
{
    while (!m_Out.isEmpty() && !m_Broken) {
        const qint64 n = NativeSocket::write(m_Socket, m_Out.constData(), m_Out.size());
        if (n == NativeSocket::WouldBlock)
            break;
        if (n < 0)
            fail();
        else
            m_Out.remove(0, int(n));
    }
    if (m_Closed)
        return;
    m_WriteNotifier->setEnabled(!m_Out.isEmpty() && !m_Broken);
    if (m_Finishing && (m_Out.isEmpty() || m_Broken))
        close();
}

void ClientConnection::fail()
{
    m_Broken = true;
    m_Out.clear();
}

void ClientConnection::finish()
{
    m_Finishing = true;
    if (m_Device) {
        auto *local = qobject_cast<QLocalSocket *>(m_Device.data());
        if (local && !m_Broken)
            local->disconnectFromServer(); // after what is written; disconnected follows
        else
            close();
        return;
    }
    flush();
}

void ClientConnection::close()
{
    if (m_Closed)
        return;
    m_Closed = true;
    if (m_Device) {
        m_Device->close();
    } else {
        m_ReadNotifier->setEnabled(false);
        m_WriteNotifier->setEnabled(false);
        if (!m_Broken)
            NativeSocket::shutdownWrite(m_Socket);
        NativeSocket::close(m_Socket);
    }
    // Told from the event loop: whoever called in here may still use this.
    QMetaObject::invokeMethod(this, &ClientConnection::closed, Qt::QueuedConnection);
}
