#include "ptypeer.h"

#include <QElapsedTimer>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

PtyPeer::PtyPeer(int frameSize, Script script)
    : m_FrameSize(frameSize)
    , m_Script(script ? std::move(script) : Script([this](const QByteArray &) {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Next;
    }))
{
    char name[256] = {};
    if (openpty(&m_Master, &m_Slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    // Raw from the start, so nothing is echoed before the tool sets the line
    // up. The slave descriptor stays open for the peer's whole life, so the
    // master never sees a hang-up when the tool closes its side.
    termios tio{};
    tcgetattr(m_Slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_Slave, TCSANOW, &tio);
    m_Path = QString::fromLocal8Bit(name);
    m_Thread = std::thread([this] { serve(); });
}

PtyPeer::~PtyPeer()
{
    m_Stop = true;
    m_Thread.join();
    ::close(m_Master);
    ::close(m_Slave);
}

void PtyPeer::answer(const Reply &reply)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Next = reply;
}

QList<QByteArray> PtyPeer::frames() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Frames;
}

QByteArray PtyPeer::leftover() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Pending;
}

bool PtyPeer::waitForFrames(int n, int timeoutMs) const
{
    QElapsedTimer timer;
    timer.start();
    while (frames().size() < n) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(5);
    }
    return true;
}

void PtyPeer::serve()
{
    while (!m_Stop) {
        pollfd p{m_Master, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
            continue;
        char buf[256];
        const ssize_t n = ::read(m_Master, buf, sizeof buf);
        if (n <= 0) {
            QThread::msleep(5);
            continue;
        }
        QList<QByteArray> complete;
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Pending.append(buf, int(n));
            while (m_Pending.size() >= m_FrameSize) {
                complete.append(m_Pending.left(m_FrameSize));
                m_Pending.remove(0, m_FrameSize);
            }
        }
        for (const QByteArray &frame : complete) {
            const Reply reply = m_Script(frame);
            {
                std::lock_guard<std::mutex> lock(m_Mutex);
                m_Frames.append(frame);
            }
            if (reply.delayMs > 0)
                QThread::msleep(ulong(reply.delayMs));
            const int step = reply.pieceSize > 0 ? reply.pieceSize : int(reply.bytes.size());
            QElapsedTimer sincePiece;
            m_LongestGapMs = 0;
            for (int at = 0; at < reply.bytes.size(); at += step) {
                if (at > 0)
                    QThread::usleep(ulong(reply.gapUs));
                if (at == reply.heldFrom) {
                    while (!m_Released && !m_Stop)
                        QThread::msleep(1);
                    m_Released = false;
                }
                if (at > 0)
                    m_LongestGapMs = std::max(int(m_LongestGapMs), int(sincePiece.elapsed()));
                const QByteArray piece = reply.bytes.mid(at, step);
                (void)::write(m_Master, piece.constData(), size_t(piece.size()));
                sincePiece.start();
            }
            if (reply.heldFrom >= 0 && reply.heldFrom < reply.bytes.size())
                ++m_HeldWritten;
            ++m_Written;
        }
    }
}

void PtyPeer::release()
{
    const int done = ++m_Releases;
    m_Released = true;
    while (m_HeldWritten < done && !m_Stop)
        QThread::msleep(1);
}

void PtyPeer::waitForReplies(int n) const
{
    while (m_Written < n && !m_Stop)
        QThread::msleep(1);
}

namespace CardReply {

QByteArray fe(quint8 code, QByteArray value, quint8 status)
{
    value = value.leftJustified(4, '\0', true);
    QByteArray r;
    r.append(char(0xFE)).append(char(status)).append(char(code)).append(value);
    r.append(char(0)).append(char(0)).append(char(0xFA));
    return r;
}

QByteArray klr(quint8 code, QByteArray value)
{
    value = value.leftJustified(4, '\0', true);
    QByteArray r;
    r.append('{').append(char(code)).append(char(0)).append(value).append('}');
    return r;
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

} // namespace CardReply
