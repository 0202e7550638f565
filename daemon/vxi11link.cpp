#include "daemon/vxi11link.h"

Vxi11Link::Vxi11Link(qint32 id, ScpiSession *engine, QObject *parent)
    : QObject(parent)
    , m_Id(id)
    , m_Engine(engine)
{
    m_Engine->setParent(this);
    m_Engine->setBacklog([this] { return qint64(m_Out.size()); });
    connect(m_Engine, &ScpiSession::output, this, [this](const QByteArray &bytes, bool end) {
        m_Out += bytes;
        if (end)
            m_Ends << int(m_Out.size());
        emit answered();
    });
    connect(m_Engine, &ScpiSession::done, this, &Vxi11Link::next);
}

bool Vxi11Link::write(const QByteArray &data, bool end)
{
    if (m_In.size() + data.size() > MaxMessage) {
        m_In.clear();
        return false;
    }
    m_In += data;
    if (!end)
        return true;
    QByteArray message;
    message.swap(m_In);
    // The message ends with END; a line end a client sends as well belongs
    // to no unit.
    while (message.endsWith('\n') || message.endsWith('\r'))
        message.chop(1);
    m_Waiting << message;
    next();
    return true;
}

void Vxi11Link::next()
{
    if (m_Engine->ready() && !m_Waiting.isEmpty())
        m_Engine->take(m_Waiting.takeFirst());
}

QByteArray Vxi11Link::read(int most, int stop, bool *end, bool *stopped)
{
    int count = int(qMin<qint64>(most, m_Out.size()));
    const int boundary = m_Ends.isEmpty() ? -1 : m_Ends.first();
    if (boundary >= 0 && boundary <= count)
        count = boundary;
    *stopped = false;
    if (stop >= 0) {
        const int at = m_Out.indexOf(char(stop));
        if (at >= 0 && at < count) {
            count = at + 1;
            *stopped = true;
        }
    }
    *end = boundary == count;
    const QByteArray data = m_Out.left(count);
    m_Out.remove(0, count);
    for (int &e : m_Ends)
        e -= count;
    if (*end)
        m_Ends.removeFirst();
    m_Engine->resume(); // room for more answers
    return data;
}

bool Vxi11Link::readable(int most, int stop) const
{
    return !m_Ends.isEmpty() || m_Out.size() >= most || (stop >= 0 && m_Out.contains(char(stop)));
}

void Vxi11Link::clear()
{
    m_Engine->clear();
    m_In.clear();
    m_Waiting.clear();
    m_Out.clear();
    m_Ends.clear();
}
