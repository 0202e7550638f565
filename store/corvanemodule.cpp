#include "store/corvanemodule.h"

namespace Corvane {

Module::Module(const QString &name, QObject *parent)
    : QObject(parent)
    , m_Name(name)
{
}

Module::~Module() = default;

bool Module::init(const QString &key, const QString &defaultText)
{
    if (key.isEmpty())
        return false;
    if (!m_Defaults.contains(key))
        m_Keys.append(key);
    m_Defaults.insert(key, defaultText);
    return true;
}

bool Module::set(const QString &key, const QString &text)
{
    if (key.isEmpty())
        return false;
    m_Set.insert(key, text);
    return true;
}

QString Module::val(const QString &key) const
{
    const auto setIt = m_Set.constFind(key);
    if (setIt != m_Set.constEnd())
        return setIt.value();
    const auto storedIt = m_Stored.constFind(key);
    if (storedIt != m_Stored.constEnd())
        return storedIt.value();
    return m_Defaults.value(key);
}

QMap<QString, QString> Module::snapshot() const
{
    // Keys found in the file but never declared are kept: a user's own notes
    // or a newer version's settings must survive a save by this version.
    QMap<QString, QString> all = m_Stored;
    for (const QString &key : m_Keys)
        all.insert(key, val(key));
    for (auto it = m_Set.constBegin(); it != m_Set.constEnd(); ++it)
        all.insert(it.key(), it.value());
    return all;
}

} // namespace Corvane
