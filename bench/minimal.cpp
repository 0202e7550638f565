// The least a tool of this kind must do in one run, measured beside rfcard by
// bench/run.sh: start Qt, write one line through Qt's message log (which sets
// the log up), parse the tool's options, read the JSON settings file, merge
// the options given into it and write it back, and make the serial exchanges
// of the run it is compared with, through Qt Serial Port, against the same
// simulator. Nothing more: no lock, no sync, no checks beyond what the
// exchanges need to wait for their replies.
//   minimal --settings FILE --com PORT [--exchange HEX:BYTES[:PAUSE_MS]]... [RFCARD OPTIONS]
// Each exchange writes the request HEX and reads a reply of BYTES bytes (up
// to one second), or with BYTES 0 waits for the request to leave and then
// PAUSE_MS, as a KLR620 set command is given.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPort>
#include <QThread>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qDebug() << "minimal:" << QCoreApplication::arguments().size() << "arguments";

    QCommandLineParser parser;
    const char *const toolOptions[] = {"card", "com", "part", "ch", "freq", "gain", "outfreq",
        "ref", "workmode", "band", "gainmode", "upfreq", "upgain", "gch"};
    for (const char *name : toolOptions)
        parser.addOption({QString::fromLatin1(name), QString(), QStringLiteral("value")});
    parser.addOption({QStringLiteral("settings"), QString(), QStringLiteral("file")});
    parser.addOption({QStringLiteral("exchange"), QString(), QStringLiteral("hex:bytes")});
    parser.process(app);

    // The settings: one object per channel, the options given merged in.
    QFile file(parser.value(QStringLiteral("settings")));
    QJsonObject settings;
    if (file.open(QIODevice::ReadOnly))
        settings = QJsonDocument::fromJson(file.readAll()).object();
    file.close();
    const QString module = QStringLiteral("ch") + parser.value(QStringLiteral("ch"));
    QJsonObject channel = settings.value(module).toObject();
    for (const char *name : toolOptions) {
        const QString key = QString::fromLatin1(name);
        if (parser.isSet(key))
            channel.insert(key, parser.value(key));
    }
    settings.insert(module, channel);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QJsonDocument(settings).toJson());
    file.close();

    QSerialPort port(parser.value(QStringLiteral("com")));
    if (!port.open(QIODevice::ReadWrite) || !port.setBaudRate(QSerialPort::Baud115200)
        || !port.setDataBits(QSerialPort::Data8) || !port.setParity(QSerialPort::NoParity)
        || !port.setStopBits(QSerialPort::OneStop)
        || !port.setFlowControl(QSerialPort::NoFlowControl))
        return 1;
    for (const QString &exchange : parser.values(QStringLiteral("exchange"))) {
        const QStringList parts = exchange.split(QLatin1Char(':'));
        const QByteArray request = QByteArray::fromHex(parts.value(0).toLatin1());
        const int expected = parts.value(1).toInt();
        port.write(request);
        if (expected == 0) {
            port.waitForBytesWritten(1000);
            QThread::msleep(parts.value(2).toULong());
            continue;
        }
        QElapsedTimer sinceRequest;
        sinceRequest.start();
        QByteArray reply;
        while (reply.size() < expected && sinceRequest.elapsed() < 1000
            && port.waitForReadyRead(int(1000 - sinceRequest.elapsed())))
            reply += port.readAll();
    }
    return 0;
}
