#include "sim/serialline.h"

SerialLine::SerialLine(const QString &name)
{
    m_Port.setPortName(name);
}

bool SerialLine::open(QString *error)
{
    if (!m_Port.open(QIODevice::ReadWrite) || !m_Port.setBaudRate(QSerialPort::Baud115200)
        || !m_Port.setDataBits(QSerialPort::Data8) || !m_Port.setParity(QSerialPort::NoParity)
        || !m_Port.setStopBits(QSerialPort::OneStop)
        || !m_Port.setFlowControl(QSerialPort::NoFlowControl)) {
        *error = m_Port.errorString();
        return false;
    }
    return true;
}

QByteArray SerialLine::read(int timeoutMs, bool &lost)
{
    lost = false;
    if (m_Port.bytesAvailable() == 0 && !m_Port.waitForReadyRead(timeoutMs)) {
        lost = m_Port.error() == QSerialPort::ResourceError;
        return QByteArray();
    }
    return m_Port.readAll();
}

bool SerialLine::write(const QByteArray &bytes)
{
    return m_Port.write(bytes) == bytes.size() && m_Port.waitForBytesWritten(1000);
}
