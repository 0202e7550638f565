#include "cards/jq/jqframe.h"
#include "cards/klr/klrframe.h"
#include "cards/vn/vnframe.h"
#include "ptypeer.h"

#include <QtTest>

namespace {

QByteArray bytes(const quint8 *data, int size)
{
    return QByteArray(reinterpret_cast<const char *>(data), size);
}

} // namespace

using CardReply::hex;

class TestFrames : public QObject {
    Q_OBJECT

private slots:
    // clang-format off
    void feFramesAreBuiltByteForByte_data()
    {
        QTest::addColumn<bool>("jq");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("code");
        QTest::addColumn<quint32>("value");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("jq set freq ch1") << true << 3 << 2 << 1000000u << 1 << hex("fe 03 02 0f 42 40 00 01 0d fa");
        QTest::newRow("jq query freq ch1") << true << 1 << 2 << 0u << 1 << hex("fe 01 02 00 00 00 00 01 02 fa");
        QTest::newRow("jq set rf att 20") << true << 3 << 8 << 20u << 0 << hex("fe 03 08 14 00 00 00 00 1f fa");
        QTest::newRow("jq query temp ch2") << true << 1 << 128 << 0u << 2 << hex("fe 01 80 00 00 00 00 02 83 fa");
        QTest::newRow("jq set ref 1") << true << 3 << 11 << 1u << 0 << hex("fe 03 0b 01 00 00 00 00 09 fa");
        QTest::newRow("jq freq keeps 24 bits") << true << 3 << 2 << 0x12345678u << 0 << hex("fe 03 02 34 56 78 00 00 1b fa");
        QTest::newRow("jq byte code keeps low byte") << true << 3 << 16 << 0x1FFu << 0 << hex("fe 03 10 ff 00 00 00 00 ec fa");
        QTest::newRow("jq read-only code sends no value") << true << 3 << 13 << 0x55u << 0 << hex("fe 03 0d 00 00 00 00 00 0e fa");
        QTest::newRow("vn set freq") << false << 3 << 2 << 1000000u << 1 << hex("FE 03 02 0F 42 40 00 01 0D FA");
        QTest::newRow("vn set gain 50") << false << 3 << 5 << 50u << 0 << hex("FE 03 05 32 00 00 00 00 34 FA");
        QTest::newRow("vn if output 1 ch2") << false << 3 << 12 << 1u << 2 << hex("FE 03 0C 01 00 00 00 02 0C FA");
        QTest::newRow("vn query temp ch2") << false << 1 << 13 << 0u << 2 << hex("FE 01 0D 00 00 00 00 02 0E FA");
        QTest::newRow("vn query type") << false << 1 << 16 << 0u << 0 << hex("FE 01 10 00 00 00 00 00 11 FA");
        QTest::newRow("vn channel low byte") << false << 1 << 2 << 0u << 0x102 << hex("FE 01 02 00 00 00 00 02 01 FA");
    }
    // clang-format on
    void feFramesAreBuiltByteForByte()
    {
        QFETCH(bool, jq);
        QFETCH(int, command);
        QFETCH(int, code);
        QFETCH(quint32, value);
        QFETCH(int, channel);
        QFETCH(QByteArray, frame);
        const FeFrame::Bytes built = jq
            ? JQFrame::build(quint8(command), quint8(code), value, quint8(channel))
            : VNFrame::build(quint8(command), quint8(code), value, quint8(channel));
        QCOMPARE(bytes(built.data(), FeFrame::Size).toHex(' '), frame.toHex(' '));
    }

    // clang-format off
    void feRepliesAreCheckedAndDecoded_data()
    {
        QTest::addColumn<bool>("jq");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("sentCode");
        QTest::addColumn<int>("check");
        QTest::addColumn<int>("value");
        const int ok = int(FeFrame::Check::Ok);
        QTest::newRow("jq freq") << true << hex("fe 00 02 0f 42 40 00 01 00 fa") << 2 << ok << 1000000;
        QTest::newRow("jq temp 16 bit") << true << hex("fe 00 80 01 2c 00 00 00 00 fa") << 128 << ok << 300;
        QTest::newRow("jq power 16 bit") << true << hex("fe 00 0d fc 18 00 00 00 00 fa") << 13 << ok << 0xFC18;
        QTest::newRow("jq work mode byte") << true << hex("fe 00 07 01 ff ff ff 00 00 fa") << 7 << ok << 1;
        QTest::newRow("vn temp 16 bit") << false << hex("00 00 0d 01 2c 00 00 00 00 00") << 13 << ok << 300;
        QTest::newRow("vn type byte") << false << hex("fe 00 10 02 05 00 00 00 00 fa") << 16 << ok << 2;
        QTest::newRow("vn gain byte") << false << hex("fe 00 05 0a 00 00 00 00 00 fa") << 5 << ok << 10;
        QTest::newRow("wrong code") << true << hex("fe 00 08 00 00 00 00 00 00 fa") << 9 << int(FeFrame::Check::WrongCode) << 0;
        QTest::newRow("short") << true << hex("fe 00 02 00 00 00 00 00 fa") << 2 << int(FeFrame::Check::BadLength) << 0;
        QTest::newRow("long") << false << hex("fe 00 02 00 00 00 00 00 00 fa 00") << 2 << int(FeFrame::Check::BadLength) << 0;
    }
    // clang-format on
    void feRepliesAreCheckedAndDecoded()
    {
        QFETCH(bool, jq);
        QFETCH(QByteArray, reply);
        QFETCH(int, sentCode);
        QFETCH(int, check);
        QFETCH(int, value);
        const auto *r = reinterpret_cast<const quint8 *>(reply.constData());
        const FeFrame::Check c = FeFrame::check(r, quint32(reply.size()), quint8(sentCode));
        QCOMPARE(int(c), check);
        if (c == FeFrame::Check::Ok) {
            const FeFrame::Layout layout
                = jq ? JQFrame::replyLayout(r[2]) : VNFrame::replyLayout(r[2]);
            QCOMPARE(FeFrame::decode(r, layout), value);
        }
    }

    // clang-format off
    void klrFramesAreBuiltByteForByte_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("set freq") << 0xA2 << 1500000 << 1 << hex("7B A2 01 00 16 E3 60 7D");
        QTest::newRow("set band") << 0xA6 << 3 << 0 << hex("7B A6 00 00 00 00 03 7D");
        QTest::newRow("set rf att 200") << 0xA4 << 200 << 0 << hex("7B A4 00 00 00 00 C8 7D");
        QTest::newRow("query freq ch2") << 0xA7 << 0 << 2 << hex("7B A7 02 00 00 00 00 7D");
        QTest::newRow("query warning") << 0xAB << 0 << 0 << hex("7B AB 00 00 00 00 00 7D");
        QTest::newRow("freq is 32 bits") << 0xA2 << -1 << 255 << hex("7B A2 FF FF FF FF FF 7D");
    }
    // clang-format on
    void klrFramesAreBuiltByteForByte()
    {
        QFETCH(int, code);
        QFETCH(int, value);
        QFETCH(int, channel);
        QFETCH(QByteArray, frame);
        const KLRFrame::Bytes built
            = KLRFrame::build(quint8(code), quint32(value), quint8(channel));
        QCOMPARE(bytes(built.data(), KLRFrame::Size).toHex(' '), frame.toHex(' '));
    }

    // clang-format off
    void klrRepliesAreDecodedByTheirCode_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("value");
        QTest::newRow("freq") << hex("7B B2 02 00 16 E3 60 7D") << 1500000;
        QTest::newRow("work mode") << hex("7B B3 00 AA BB CC 01 7D") << 1;
        QTest::newRow("rf att") << hex("7B B4 00 00 00 00 1E 7D") << 30;
        QTest::newRow("if att") << hex("7B B5 00 00 00 00 05 7D") << 5;
        QTest::newRow("band") << hex("7B B6 00 00 00 00 03 7D") << 3;
        QTest::newRow("warning") << hex("7B BA 00 00 00 00 81 7D") << 0x81;
        QTest::newRow("unknown code") << hex("7B B7 00 00 00 00 05 7D") << 0;
        QTest::newRow("query code echoed") << hex("7B A7 00 00 16 E3 60 7D") << 0;
    }
    // clang-format on
    void klrRepliesAreDecodedByTheirCode()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, value);
        QCOMPARE(KLRFrame::decode(reinterpret_cast<const quint8 *>(reply.constData())), value);
    }
};

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
