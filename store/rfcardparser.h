#ifndef RFCARDPARSER_H
#define RFCARDPARSER_H

#include <QObject>
#include <QString>

namespace Corvane {
class Module;
}

// The settings kept between runs: card model and port in the framework's
// "system" module, and ten texts for each of the four channels.
class RFCardParser : public QObject {
    Q_OBJECT

public:
    static constexpr int ChannelCount = 4;

    static RFCardParser *instance();
    ~RFCardParser() override;

    void init();
    // What a stored key means in English, for the keys not named in it
    // (the card model and port keys are Chinese); empty for the others.
    static QString englishName(const QString &key);
    // The text a channel's key holds before any run stored one.
    static QString channelDefault(const QString &key);

    Corvane::Module *channelModules[ChannelCount] = {};
    Corvane::Module *systemModule = nullptr;

private:
    RFCardParser() = default;
    void initChannelDefaults();
};

#endif // RFCARDPARSER_H
