#ifndef CARDMODELS_H
#define CARDMODELS_H

#include <QString>

// The card models rfcard drives, as the settings store them (upper case);
// the card merge upper-cases what the operator typed. A first run, with
// nothing stored, takes the VN2810.
namespace CardModels {
inline const QString Vn2810 = QStringLiteral("VN2810");
inline const QString Jq5140 = QStringLiteral("JQ5140");
inline const QString Jq5120 = QStringLiteral("JQ5120");
inline const QString Klr620 = QStringLiteral("KLR620");
inline const QString &Default = Vn2810;
inline bool isKnown(const QString &model)
{
    return model == Vn2810 || model == Jq5140 || model == Jq5120 || model == Klr620;
}
} // namespace CardModels

#endif // CARDMODELS_H
