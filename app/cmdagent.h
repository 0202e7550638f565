#ifndef CMDAGENT_H
#define CMDAGENT_H

#include "cards/cardlimits.h"
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
#include <QStringList>
#include <QVariantMap>

#include <cstdio>

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

    // The card model and port the run will use, before anything is merged:
    // --card upper-cased and --com normalized, or the ones stored.
    QString cardOfRun() const;
    QString portOfRun() const;
    // The first option this run would store whose value is longer than
    // MaxValueLength (its name and length), or an empty name.
    QString overlongOption(int *length) const;
    // The options whose values a model's driver sends, in the order of the
    // apply flow; the other channel options of a set run are stored only.
    // Empty for a model without a driver.
    static QStringList optionsSent(const QString &model);
    // The channel options a set run merges, in their order.
    static QStringList channelOptions();
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

    // The values a set run hands to the cards, converted from the channel's
    // map as the apply flow converts them: the frequencies and the KLR620's
    // gain truncated toward zero, everything else rounded.
    struct CardValues {
        int freq = 0; // kHz
        int gain = 0; // whole dB (the KLR620's)
        int gain2 = 0; // half-dB steps (the JQ and VN cards')
        int workmode = 0;
        int ref = 0;
        int outfreq = 0; // kHz
        int band = 0;
    };
    static CardValues cardValues(const QVariantMap &params);
    // Sends one option's value to the opened card of `model`, as the apply
    // flow does in its turn: false when the driver refused it.
    bool applyOption(const QString &model, int ch, const QString &option, const CardValues &v);
    // What the driver of `model` takes for an option, in the card's units
    // of its CardValues member (the outputs by their index); the gain of the
    // models whose work mode chooses the gain path, for that work mode.
    static CardLimits::Range limitOf(const QString &model, const QString &option, int workmode);
    // The index of an IF output (kHz) among the model's two; 2: none of them.
    static int outputIndex(const QString &model, int outFreqKHz);
    // The readings a key of the read-back's report is made of.
    static QStringList readingsFor(const QString &model, const QString &key);
    QVariantMap readAllParams(QString cardName, int ch);

    // What a model's getters gave, by the read-back's names ("freq",
    // "rfatt", ...), in the card's own units; a reading that failed is
    // absent. takeReadings reads the model's readings in their order on the
    // line, all of them or those named; reportOf turns readings into the
    // read-back's texts (a complete report has every key, empty where its
    // readings failed; otherwise only the keys its readings give).
    using Readings = QMap<QString, double>;
    Readings takeReadings(const QString &model, int ch, const QStringList &only = QStringList());
    static QVariantMap reportOf(const QString &model, int ch, const Readings &r, bool complete);

    // Whether a card holds what a set run's commands gave it (`applied`, the
    // values the drivers sent): only those readings are taken, on the port
    // that is open, and compared in the card's units; what differs is told
    // in the read-back's own words.
    struct Difference {
        QString key;
        QString set;
        QString read; // empty: could not be read
    };
    QList<Difference> verify(const QString &model, int ch, const Readings &applied);

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

    // The text of an option as this run uses it, in the option's own units:
    // as given (`given` true), or as an earlier run stored it for channel
    // `ch` (frequencies stored in kHz are shown in MHz again).
    QString optionText(const QString &name, int ch, bool *given) const;
    // A card's value of a parameter in the units of the option that sets it
    // (82 half-dB steps of a VN2810's gain: "41"; its output 1: "21.4"), and
    // a temperature, which none sets, in degrees as the report gives it.
    static QString userValue(const QString &model, const QString &parameter, qint64 value);

    // Map values to card integers. Frequencies (and the KLR620 gain) are
    // truncated toward zero; everything else goes through QVariant::toInt,
    // which rounds a double and takes a text only when it is a whole number.
    // Values beyond the int range saturate, so a card's range check refuses
    // them.
    static int truncatedInt(const QVariant &value);
    static int roundedInt(const QVariant &value);

    QCommandLineParser parser;
    // Where a read-back's report goes (rfcard-strict keeps its standard
    // output for the report alone).
    FILE *reportOut = stdout;
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
};

#endif // CMDAGENT_H
