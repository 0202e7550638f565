#include "serial/uartagent.h"

#include "serial/linecheck.h"
#include "serial/linesettings.h"
#include "serial/lowlatency.h"
#include "serial/portname.h"
#include "serial/runevents.h"

#include <QDebug>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {
bool g_GuardSettings = false;
UartAgent::OpenGate g_OpenGate;
} // namespace

UartAgent::UartAgent() = default;

UartAgent::~UartAgent()
{
    qDebug() << "~UartAgent close";
    if (m_IsOpen) {
        restoreLatency();
        m_SerialPort.close();
        m_IsOpen = false;
        m_RecvData = QByteArray();
        qDebug() << "close uart" << m_PortName << " sucess";
    }
}

void UartAgent::openPort(
    QString portName, int baudRate, int dataBits, int parity, int stopBits, int flowControl)
{
    if (portName.isEmpty())
        return;
    m_PortName = portName;
    if (baudRate < 1 || baudRate > 460800)
        return;

    m_BaudRate = baudRate;
    m_DataBits = dataBits;
    m_Parity = parity;
    m_StopBits = stopBits;
    m_FlowControl = flowControl;

    if (m_SerialPort.isOpen()) {
        m_SerialPort.clear(QSerialPort::AllDirections);
        restoreLatency();
        m_SerialPort.close();
    }

    m_SerialPort.setPortName(PortName::normalized(m_PortName));
    if (!m_SerialPort.open(QIODevice::ReadWrite)) {
        qDebug() << "open uart" << m_PortName << "failed";
        m_IsOpen = false;
        RunEvents::report({RunEvents::PortFailed,
            RunEvents::logLine("open uart", m_PortName, "failed"), 0, m_SerialPort.errorString()});
        return;
    }
    const QString refused = g_OpenGate ? g_OpenGate(m_SerialPort) : QString();
    if (!refused.isEmpty()) {
        m_SerialPort.close();
        m_IsOpen = false;
        qDebug() << "open uart" << m_PortName << "refused";
        RunEvents::report({RunEvents::PortFailed,
            RunEvents::logLine("open uart", m_PortName, "refused"), 0, refused});
        return;
    }
    RunEvents::report({RunEvents::PortOpened, QString(), 0, m_PortName});

    const bool configured = m_SerialPort.setBaudRate(m_BaudRate, QSerialPort::AllDirections)
        && m_SerialPort.setDataBits(static_cast<QSerialPort::DataBits>(m_DataBits))
        && m_SerialPort.setParity(static_cast<QSerialPort::Parity>(m_Parity))
        && m_SerialPort.setStopBits(static_cast<QSerialPort::StopBits>(m_StopBits))
        && m_SerialPort.setFlowControl(static_cast<QSerialPort::FlowControl>(m_FlowControl));
    if (configured)
        qDebug() << "open uart" << m_PortName << "sucess";
    m_IsOpen = true;
    m_LowLatency = LowLatency::request(m_SerialPort, &m_SavedSerialFlags);
    if (g_GuardSettings)
        m_Settings = LineSettings::take(m_SerialPort);
}

void UartAgent::guardSettings(bool on)
{
    g_GuardSettings = on;
}

void UartAgent::setOpenGate(OpenGate gate)
{
    g_OpenGate = std::move(gate);
}

void UartAgent::restoreLatency()
{
    if (m_LowLatency)
        LowLatency::restore(m_SerialPort, m_SavedSerialFlags);
    m_LowLatency = false;
}

bool UartAgent::lineLost() const
{
    return !m_IsOpen
        || LineCheck::lost(
            m_SerialPort, PortName::systemLocation(PortName::normalized(m_PortName)));
}

void UartAgent::openCardLine(const QString &portName)
{
    openPort(portName, 115200, QSerialPort::Data8, QSerialPort::NoParity, QSerialPort::OneStop,
        QSerialPort::NoFlowControl);
}

bool UartAgent::writeRequest(const quint8 *request, int count)
{
    // A port that is not open cannot take the request; report it as an
    // incomplete write without making QIODevice complain on its own.
    if (!m_SerialPort.isOpen()) {
        writeFailed();
        return false;
    }
    const qint64 written = send(request, count);
    if (written != count) {
        writeFailed();
        return false;
    }
    return true;
}

qint64 UartAgent::send(const quint8 *request, int count)
{
    if (g_GuardSettings && LineSettings::restore(m_SerialPort, m_Settings))
        RunEvents::report({RunEvents::SettingsRestored});
    // Whatever is waiting on the line now (a reply that came after its
    // command had timed out, an unasked-for answer to a set command) belongs
    // to no request; left there it would be read as the answer to this one.
    m_SerialPort.clear(QSerialPort::Input);
    return m_SerialPort.write(reinterpret_cast<const char *>(request), count);
}

bool UartAgent::sendQuietly(const quint8 *request, int count)
{
    return m_SerialPort.isOpen() && send(request, count) == count;
}

QByteArray UartAgent::receive(int waitMs)
{
    if (!m_SerialPort.isOpen())
        return QByteArray();
    if (m_SerialPort.bytesAvailable() == 0 && !m_SerialPort.waitForReadyRead(std::max(waitMs, 0)))
        return QByteArray();
    return m_SerialPort.readAll();
}

void UartAgent::writeFailed()
{
    qDebug() << "error: uart send not finished\n.";
    RunEvents::report({RunEvents::WriteFailed, QStringLiteral("error: uart send not finished"), 0,
        m_SerialPort.isOpen() ? m_SerialPort.errorString() : QString()});
}

bool UartAgent::readReply(int expected, const QElapsedTimer &sinceRequest, quint32 timeoutMs)
{
    // Until the first byte the whole time-out may pass; after it, a pause of
    // ReplyGapMs ends the reply. QSerialPort also flushes the pending request
    // while it waits.
    m_RecvData.clear();
    while (m_RecvData.size() < expected) {
        const qint64 left = qint64(timeoutMs) - sinceRequest.elapsed();
        if (left <= 0)
            break;
        const qint64 wait = m_RecvData.isEmpty() ? left : std::min<qint64>(left, ReplyGapMs);
        if (!m_SerialPort.waitForReadyRead(int(std::min<qint64>(wait, INT_MAX))))
            break;
        m_RecvData += m_SerialPort.readAll();
    }
    return !m_RecvData.isEmpty();
}

void UartAgent::nothingReceived(const char *line)
{
    if (line)
        qDebug() << line;
    RunEvents::report({RunEvents::NoReply, QString::fromLatin1(line)});
}

int UartAgent::sendRecv(const quint8 *request, int count, quint8 (&recvBuf)[RecvBufSize],
    quint32 *recvLen, quint32 timeoutMs)
{
    QElapsedTimer sinceRequest;
    sinceRequest.start();
    if (!writeRequest(request, count))
        return WriteIncomplete;
    if (timeoutMs == 0)
        return Success;

    if (readReply(count, sinceRequest, timeoutMs)) {
        const int n = std::min(int(m_RecvData.size()), int(RecvBufSize));
        std::memcpy(recvBuf, m_RecvData.constData(), size_t(n));
    }
    if (m_RecvData.isEmpty()) {
        nothingReceived("error: uart RF recv error, recv len == 0");
        return NothingReceived;
    }
    if (recvLen)
        *recvLen = quint32(m_RecvData.size());
    return Success;
}

int UartAgent::sendRecvCapped(const quint8 *request, int count, quint8 *recvBuf, quint32 capacity,
    quint32 *recvLen, quint32 timeoutMs)
{
    QElapsedTimer sinceRequest;
    sinceRequest.start();
    if (!writeRequest(request, count))
        return WriteIncomplete;
    if (timeoutMs == 0) {
        const bool ready1 = m_SerialPort.waitForBytesWritten(1000);
        qDebug() << "ready1 = " << ready1;
        // Written into the driver is not written out: a device that went
        // away keeps the command, and the card never sees it.
        if (!ready1)
            RunEvents::report({RunEvents::WriteFailed, QStringLiteral("ready1 =  false"), 0,
                m_SerialPort.errorString()});
        return Success;
    }

    if (readReply(count, sinceRequest, timeoutMs)) {
        const quint32 n = std::min(quint32(m_RecvData.size()), capacity);
        if (n > 0 && recvBuf)
            std::memcpy(recvBuf, m_RecvData.constData(), n);
        if (recvLen)
            *recvLen = quint32(m_RecvData.size());
    } else {
        nothingReceived(nullptr);
    }
    return Success;
}
