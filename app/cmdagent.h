#ifndef CMDAGENT_H
#define CMDAGENT_H

#include "cards/jq/jqcardfour.h"
#include "cards/jq/jqcardtwo.h"
#include "cards/klr/klrcard.h"
#include "cards/vn/vncard.h"
#include "store/rfcardparser.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QCoreApplication;

// The command-line agent: reads one command line, merges it with the stored
// settings and performs one set run or one read-back run.
class CmdAgent : public QObject {
    Q_OBJECT

public:
    static constexpr int ChannelCount = RFCardParser::ChannelCount;
    // The longest option value a run accepts.
    static constexpr int MaxValueLength = 1000;

    static CmdAgent *instance();
    ~CmdAgent() override;

    void init();
    void process(QCoreApplication &app);
    // One run on a parsed command line that holds at least one option; the
    // exit status the process should end with when not 0.
    int dispatch();
    void openCard(QString cardName, QString portName);

    QString mergeCard();
    QString mergeCom();
    void mergeFreq(int ch);
    void mergeGain(int ch);
    void mergeOutFreq(int ch);
    void mergeBand(int ch);
    void mergeRef(int ch);
    void mergeWorkMode(int ch);
    void mergeGainMode(int ch);
    void mergeUpFreq(int ch);
    void mergeUpGain(int ch);

    void setAllParams(QString cardName, int ch, QVariantMap params);
    QVariantMap readAllParams(QString cardName, int ch);

    static QCommandLineOption cardOption();
    static QCommandLineOption comOption();
    static QCommandLineOption partOption();
    static QCommandLineOption chOption();
    static QCommandLineOption freqOption();
    static QCommandLineOption gainOption();
    static QCommandLineOption outFreqOption();
    static QCommandLineOption refOption();
    static QCommandLineOption workModeOption();
    static QCommandLineOption bandOption();
    static QCommandLineOption gainModeOption();
    static QCommandLineOption upFreqOption();
    static QCommandLineOption upGainOption();
    static QCommandLineOption gchOption();

    // Map values to card integers. Frequencies (and the KLR620 gain) are
    // truncated toward zero; everything else goes through QVariant::toInt,
    // which rounds a double and takes a text only when it is a whole number.
    // Values beyond the int range saturate, so a card's range check refuses
    // them.
    static int truncatedInt(const QVariant &value);
    static int roundedInt(const QVariant &value);

    QCommandLineParser parser;
    QMap<QString, QString> systemParams;
    QVariantMap channelParams[ChannelCount];
    KLRCard klrCard;
    JQCardFour jqCardFour;
    VNCard vnCard;
    JQCardTwo jqCardTwo;

private:
    CmdAgent();

    enum class Form { Text, FixedKHz, KHzNumber };
    void mergeChannelKey(int ch, const QCommandLineOption &option, const QString &key, Form form);
    QString mergeSystemKey(const QCommandLineOption &option, const QString &storeKey,
        const QString &mapKey, QString (*normalize)(const QString &));
    void printReport(const QVariantMap &report) const;

    void applyKlr620(unsigned ch, const QVariantMap &params);
    void applyJq5140(int ch, const QVariantMap &params);
    void applyVn2810(unsigned ch, const QVariantMap &params);
    void applyJq5120(int ch, const QVariantMap &params);
    QVariantMap readKlr620(int ch);
    QVariantMap readJq5140(int ch);
    QVariantMap readVn2810(int ch);
    QVariantMap readJq5120(int ch);
};

#endif // CMDAGENT_H
