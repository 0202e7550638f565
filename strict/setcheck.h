#ifndef SETCHECK_H
#define SETCHECK_H

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariantMap>

// What a set run asked the card to hold, in the terms of the card's own
// read-back, and whether it holds it. A JQ or VN card's set reply is taken
// on its length and echoed code alone, and a KLR620 answers no set command
// at all, so a card that refused a value, or missed a frame on a noisy line,
// looks exactly like one that took it; only reading the channel back tells.
//
// The expectations follow each model's units and resolution: the centre
// frequency in whole kHz, the gain in the card's steps (half decibels on the
// JQ and VN cards; on the KLR620 what its two attenuations encode), work
// mode, reference, band, and the IF output selection the set value maps to.
class SetCheck {
public:
    struct Difference {
        QString key; // the read-back's name of the parameter
        QString set; // as the read-back would report it, had the card taken it
        QString read;
    };

    // The parameters rfcard applied, from its log line "setAllParams
    // cardname = "M" param = QMap(("band", QVariant(QString, "0"))...)".
    static QVariantMap applied(const QByteArray &line);

    // The read-back texts that a card of `model` holding `params` reports.
    static QMap<QString, QString> expected(const QString &model, const QVariantMap &params);

    // The differences between what is expected and the read-back's report.
    static QList<Difference> compare(
        const QMap<QString, QString> &expected, const QJsonObject &report);
};

#endif // SETCHECK_H
