#ifndef VXI11LINK_H
#define VXI11LINK_H

#include "daemon/cardlocks.h"
#include "daemon/scpisession.h"

#include <QByteArray>
#include <QObject>

// One VXI-11 link (create_link ... destroy_link): a session on the card,
// the program message its device_writes make up (a write with the END flag
// ends it), the answers waiting for device_read, with where each response
// message ends, and what it asked the service request to carry. The link is
// its locks' holder: they die with it.
class Vxi11Link : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxMessage = 64 * 1024;

    Vxi11Link(qint32 id, ScpiSession *engine, QObject *parent = nullptr);

    qint32 id() const { return m_Id; }
    ScpiSession *engine() const { return m_Engine; }
    // The data of a device_write; false when the message grows past
    // MaxMessage (the message is then dropped).
    bool write(const QByteArray &data, bool end);
    // Up to `most` bytes of the answers; `end` when they end a response
    // message, `stop`: a byte that ends the read (termChar; -1: none).
    QByteArray read(int most, int stop, bool *end, bool *stopped);
    // A read of `most` bytes, ended at `stop` (-1: none), can be answered
    // now: a whole response message waits, or that many bytes, or the
    // byte that ends it. Less than that, and the read waits for more.
    bool readable(int most, int stop) const;
    // Drops the message under way, the messages waiting and the answers.
    void clear();

    QByteArray srqHandle;
    bool srqEnabled = false;

signals:
    // Answers came.
    void answered();

private:
    void next();

    const qint32 m_Id;
    ScpiSession *m_Engine;
    QByteArray m_In; // the program message the writes make up
    QList<QByteArray> m_Waiting; // whole messages the session is to take
    QByteArray m_Out; // answers not read yet
    QList<int> m_Ends; // where in m_Out a response message ends
};

#endif // VXI11LINK_H
