#ifndef CORVANEMODULE_H
#define CORVANEMODULE_H

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

namespace Corvane {

class Core;

// A named set of text settings. Every key has a declared default; a text
// loaded from the configuration file overrides it, and a text set during the
// run overrides both. Only what was set during the run counts as "changed".
class Module : public QObject {
    Q_OBJECT

public:
    explicit Module(const QString &name, QObject *parent = nullptr);
    ~Module() override;

    bool init(const QString &key, const QString &defaultText);
    bool set(const QString &key, const QString &text);
    QString val(const QString &key) const;

    QString name() const { return m_Name; }

private:
    friend class Core;

    // Texts read from the file for this module (all keys, declared or not).
    void setStored(const QMap<QString, QString> &stored) { m_Stored = stored; }
    // Everything the next save writes for this module.
    QMap<QString, QString> snapshot() const;
    const QMap<QString, QString> &changed() const { return m_Set; }

    QString m_Name;
    QStringList m_Keys; // declared keys, in declaration order
    QMap<QString, QString> m_Defaults;
    QMap<QString, QString> m_Stored;
    QMap<QString, QString> m_Set;
};

} // namespace Corvane

#endif // CORVANEMODULE_H
