#ifndef SERIALLINE_H
#define SERIALLINE_H

#include "sim/simline.h"

#include <QSerialPort>

// A real serial device (for instance one end of a null-modem pair), at the
// line settings the cards use: 115200 baud, 8N1, no flow control.
class SerialLine : public SimLine {
public:
    explicit SerialLine(const QString &name);
    bool open(QString *error);
    QString deviceName() const override { return m_Port.portName(); }
    QByteArray read(int timeoutMs, bool &lost) override;
    bool write(const QByteArray &bytes) override;

private:
    QSerialPort m_Port;
};

#endif // SERIALLINE_H
