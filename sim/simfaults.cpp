#include "sim/simfaults.h"

#include "sim/simcard.h"

#include <QStringList>

namespace {

const struct {
    const char *name;
    SimFaults::Kind kind;
} KindNames[] = {
    {"no-reply", SimFaults::Kind::NoReply},
    {"short", SimFaults::Kind::Short},
    {"long", SimFaults::Kind::Long},
    {"wrong-code", SimFaults::Kind::WrongCode},
    {"status51", SimFaults::Kind::Status51},
    {"status53", SimFaults::Kind::Status53},
    {"split", SimFaults::Kind::Split},
    {"garbage", SimFaults::Kind::Garbage},
    {"late", SimFaults::Kind::Late},
    {"keep-old", SimFaults::Kind::KeepOld},
};

// Bytes that look like nothing the host could take for a reply: no frame
// start, no known code.
QByteArray garbage(int size)
{
    QByteArray g(size, '\0');
    quint32 x = 0x2545F491u;
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        g[i] = char((x & 0x3F) | 0x40); // 0x40..0x7F minus the braces below
        if (g[i] == '{' || g[i] == '}')
            g[i] = '@';
    }
    return g;
}

} // namespace

QStringList SimFaults::kindNames()
{
    QStringList names;
    for (const auto &k : KindNames)
        names << QString::fromLatin1(k.name);
    return names;
}

bool SimFaults::add(
    const QString &text, const QString &family, const QList<quint8> &codes, QString *error)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    Fault fault{Kind::NoReply, -1};
    bool known = false;
    for (const auto &k : KindNames) {
        if (parts.at(0) == QLatin1String(k.name)) {
            fault.kind = k.kind;
            known = true;
        }
    }
    if (!known || parts.size() > 2) {
        *error = QStringLiteral("unknown fault \"%1\" (one of %2, optionally :CODE)")
                     .arg(text, kindNames().join(QStringLiteral(", ")));
        return false;
    }
    if (family == QLatin1String("klr")
        && (fault.kind == Kind::Status51 || fault.kind == Kind::Status53)) {
        *error = QStringLiteral("fault \"%1\": KLR620 replies have no status byte").arg(text);
        return false;
    }
    if (parts.size() == 2) {
        bool ok = false;
        fault.code = parts.at(1).toInt(&ok, 0); // 128, 0x80
        if (!ok || fault.code < 0 || fault.code > 255 || !codes.contains(quint8(fault.code))) {
            QStringList names;
            for (quint8 code : codes)
                names << QStringLiteral("0x%1").arg(code, 2, 16, QLatin1Char('0'));
            *error = QStringLiteral("fault \"%1\": the %2 family has the parameter codes %3")
                         .arg(text, family, names.join(QLatin1Char(' ')));
            return false;
        }
    }
    m_Faults.append(fault);
    return true;
}

bool SimFaults::keepsOld(quint8 code) const
{
    for (const Fault &f : m_Faults) {
        if (f.kind == Kind::KeepOld && (f.code < 0 || f.code == code))
            return true;
    }
    return false;
}

SimFaults::Plan SimFaults::apply(quint8 code, const QByteArray &reply, bool fe, int frameSize) const
{
    Plan plan;
    plan.first = reply;
    const Fault *fault = nullptr;
    for (const Fault &f : m_Faults) {
        if (f.kind != Kind::KeepOld && (f.code < 0 || f.code == code)) {
            fault = &f;
            break;
        }
    }
    if (!fault)
        return plan;

    switch (fault->kind) {
    case Kind::NoReply:
        plan.first.clear();
        plan.note = QStringLiteral("fault no-reply");
        break;
    case Kind::Short:
        plan.first.chop(1);
        plan.note = QStringLiteral("fault short");
        break;
    case Kind::Long:
        plan.first.append('\0');
        plan.note = QStringLiteral("fault long");
        break;
    case Kind::WrongCode:
        if (plan.first.size() == frameSize) {
            if (fe) {
                plan.first[2] = char(code ^ 0x01);
                plan.first[8] = char(SimCard::feCheck(plan.first));
            } else {
                plan.first[1] = char(0xB7); // a reply code the host does not know
            }
        }
        plan.note = QStringLiteral("fault wrong-code");
        break;
    case Kind::Status51:
    case Kind::Status53:
        if (fe && plan.first.size() == frameSize) {
            plan.first[1] = char(fault->kind == Kind::Status51 ? 0x51 : 0x53);
            plan.first[8] = char(SimCard::feCheck(plan.first));
        }
        plan.note = QStringLiteral("fault status");
        break;
    case Kind::Split:
        plan.second = plan.first.mid(plan.first.size() / 2);
        plan.first.truncate(plan.first.size() / 2);
        plan.note = QStringLiteral("fault split");
        break;
    case Kind::Garbage:
        plan.first = garbage(frameSize);
        plan.note = QStringLiteral("fault garbage");
        break;
    case Kind::Late:
        plan.delayMs = m_LateMs;
        plan.note = QStringLiteral("fault late, %1 ms").arg(m_LateMs);
        break;
    case Kind::KeepOld:
        break;
    }
    return plan;
}
