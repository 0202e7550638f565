#include "serial/runevents.h"

namespace {

RunEvents::Sink &sink()
{
    static RunEvents::Sink s;
    return s;
}

// The parameter and channel of the Scope in force (the innermost).
const char *g_Parameter = nullptr;
int g_Channel = -1;

} // namespace

RunEvents::Scope::Scope(const char *parameter, int channel)
    : m_Parameter(g_Parameter)
    , m_Channel(g_Channel)
{
    g_Parameter = parameter;
    g_Channel = channel;
}

RunEvents::Scope::~Scope()
{
    g_Parameter = m_Parameter;
    g_Channel = m_Channel;
}

RunEvents::Sink RunEvents::setSink(Sink s)
{
    std::swap(sink(), s);
    return s;
}

void RunEvents::report(Event event)
{
    if (!sink())
        return;
    if (event.parameter.isEmpty() && g_Parameter) {
        event.parameter = QString::fromLatin1(g_Parameter);
        event.channel = g_Channel;
    }
    sink()(event);
}

namespace {

void ranged(RunEvents::Kind kind, const QString &line, qint64 value, qint64 low, qint64 high)
{
    RunEvents::Event e(kind, line, value);
    e.low = low;
    e.high = high;
    RunEvents::report(e);
}

} // namespace

void RunEvents::refused(const QString &line, qint64 value, qint64 low, qint64 high)
{
    ranged(Refused, line, value, low, high);
}

void RunEvents::implausible(qint64 value, qint64 low, qint64 high)
{
    ranged(Implausible, QString(), value, low, high);
}
