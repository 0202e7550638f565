#ifndef PTYPEER_H
#define PTYPEER_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// Plays a card on the master side of a pseudo-terminal: every request frame
// the tool writes to the slave is recorded and answered by a script or, for a
// peer without one, by the reply last given to answer().
class PtyPeer {
public:
    // How the card writes its answer: after delayMs, in one write or, the
    // way a serial driver may deliver it, in pieces of pieceSize bytes with
    // gapUs between them. From byte heldFrom on, nothing is written before
    // release(): a reply that comes after the tool has given up on it, for
    // certain, however slow the machine.
    struct Reply {
        QByteArray bytes; // nothing: no answer
        int delayMs = 0;
        int pieceSize = 0; // 0: one write
        int gapUs = 0;
        int heldFrom = -1;
    };
    using Script = std::function<Reply(const QByteArray &frame)>;

    explicit PtyPeer(int frameSize, Script script = {});
    ~PtyPeer();

    void answer(const Reply &reply);
    QString path() const { return m_Path; }
    QList<QByteArray> frames() const;
    // Bytes written to the line outside whole frames (should stay empty).
    QByteArray leftover() const;
    // Waits until n frames were seen (or the time is up).
    bool waitForFrames(int n, int timeoutMs = 3000) const;
    // Lets a held reply go on, and waits until it is written whole.
    void release();
    // Waits until n replies were written whole.
    void waitForReplies(int n) const;
    // The longest pause between two pieces of the last reply, as it was
    // (the thread may sleep longer than asked on a busy machine).
    int longestGapMs() const { return m_LongestGapMs; }

private:
    void serve();

    int m_FrameSize;
    Script m_Script;
    Reply m_Next;
    int m_Master = -1;
    int m_Slave = -1;
    QString m_Path;
    mutable std::mutex m_Mutex;
    QList<QByteArray> m_Frames;
    QByteArray m_Pending;
    std::atomic<bool> m_Stop{false};
    std::atomic<bool> m_Released{false};
    std::atomic<int> m_Releases{0};
    std::atomic<int> m_HeldWritten{0};
    std::atomic<int> m_Written{0};
    std::atomic<int> m_LongestGapMs{0};
    std::thread m_Thread;
};

// Reply frames as the cards write them.
namespace CardReply {
// A 10-byte JQ/VN reply: status, echoed code and value bytes 3..6.
QByteArray fe(quint8 code, QByteArray value = QByteArray(4, '\0'), quint8 status = 0);
// An 8-byte KLR reply with its reply code and value bytes 3..6.
QByteArray klr(quint8 code, QByteArray value = QByteArray(4, '\0'));
QByteArray hex(const char *text);
} // namespace CardReply

#endif // PTYPEER_H
