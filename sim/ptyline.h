#ifndef PTYLINE_H
#define PTYLINE_H

#include "sim/simline.h"

// A pseudo-terminal: the tool opens its slave side like a serial port. The
// simulator holds a slave descriptor of its own, so the tool may open and
// close the device as often as it likes without the master seeing a hang-up.
class PtyLine : public SimLine {
public:
    PtyLine();
    ~PtyLine() override;

    bool open(QString *error);
    QString deviceName() const override { return m_Name; }
    QByteArray read(int timeoutMs, bool &lost) override;
    bool write(const QByteArray &bytes) override;
    // Closes both sides: to the tool the card is unplugged.
    void unplug() override;

private:
    int m_Master = -1;
    int m_Slave = -1;
    QString m_Name;
};

#endif // PTYLINE_H
