#include "sim/ptyline.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyLine::PtyLine() = default;

PtyLine::~PtyLine()
{
    unplug();
}

bool PtyLine::open(QString *error)
{
    char name[256] = {};
    if (::openpty(&m_Master, &m_Slave, name, nullptr, nullptr) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // Raw line discipline from the start: no echo, no line editing, no
    // translation of CR/LF, so bytes pass as they are before the tool has
    // set the line up (it sets raw mode itself when it opens the port).
    termios tio{};
    ::tcgetattr(m_Slave, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B115200);
    ::tcsetattr(m_Slave, TCSANOW, &tio);
    m_Name = QString::fromLocal8Bit(name);
    return true;
}

QByteArray PtyLine::read(int timeoutMs, bool &lost)
{
    lost = false;
    if (m_Master < 0) {
        lost = true;
        return QByteArray();
    }
    pollfd p{m_Master, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready <= 0)
        return QByteArray();
    if (p.revents & (POLLERR | POLLNVAL)) {
        lost = true;
        return QByteArray();
    }
    char buf[512];
    const ssize_t n = ::read(m_Master, buf, sizeof buf);
    if (n < 0 && errno != EINTR && errno != EAGAIN)
        lost = true;
    return n > 0 ? QByteArray(buf, int(n)) : QByteArray();
}

bool PtyLine::write(const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_Master, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

void PtyLine::unplug()
{
    if (m_Master >= 0)
        ::close(m_Master);
    if (m_Slave >= 0)
        ::close(m_Slave);
    m_Master = m_Slave = -1;
}
