// The four card drivers on top of their protocol modules: what each operation
// sends for a value (gain splits, range checks, channel bytes), what it
// reports back, and the lines it logs.

#include "app/cmdagent.h"
#include "cards/protocolmodules.h"
#include "capture.h"
#include "cards/jq/jqcardfour.h"
#include "cards/jq/jqcardtwo.h"
#include "cards/jq/jqframe.h"
#include "cards/klr/klrcard.h"
#include "cards/klr/klrframe.h"
#include "cards/vn/vncard.h"
#include "cards/vn/vnframe.h"
#include "protocolcase.h"

#include <QtTest>

using CardReply::hex;

namespace {

QByteArray jqSet(quint8 code, quint32 value, quint8 ch)
{
    const FeFrame::Bytes f = JQFrame::build(FeFrame::SetCommand, code, value, ch);
    return QByteArray(reinterpret_cast<const char *>(f.data()), FeFrame::Size);
}

QByteArray jqQuery(quint8 code, quint8 ch)
{
    const FeFrame::Bytes f = JQFrame::build(FeFrame::QueryCommand, code, 0, ch);
    return QByteArray(reinterpret_cast<const char *>(f.data()), FeFrame::Size);
}

QByteArray vnSet(quint8 code, quint32 value, quint8 ch)
{
    const FeFrame::Bytes f = VNFrame::build(FeFrame::SetCommand, code, value, ch);
    return QByteArray(reinterpret_cast<const char *>(f.data()), FeFrame::Size);
}

QByteArray klrFrame(quint8 code, quint32 value, quint8 ch)
{
    const KLRFrame::Bytes f = KLRFrame::build(code, value, ch);
    return QByteArray(reinterpret_cast<const char *>(f.data()), KLRFrame::Size);
}

const QString DeadPort = QStringLiteral("/nonexistent/rfcard-card-port");

using CardValues = QMap<quint8, QByteArray>;

} // namespace

Q_DECLARE_METATYPE(CardValues)

class TestCards : public QObject {
    Q_OBJECT

private slots:
    // clang-format off
    void jqCardFour_data()
    {
        cardColumns();
        using T = JQCardFour;
        cardRow<T>("freq lower bound", [](T &c) { return c.SetFreq(0, 950000); },
            {jqSet(2, 950000, 0)}, true);
        cardRow<T>("freq upper bound", [](T &c) { return c.SetFreq(3, 2150000); },
            {jqSet(2, 2150000, 3)}, true);
        cardRow<T>("freq below", [](T &c) { return c.SetFreq(0, 949999); },
            {}, false, "error: JQCardFour SetFreq,freq overflow, freq_KHz =  949999");
        cardRow<T>("freq above", [](T &c) { return c.SetFreq(0, 2150001); },
            {}, false, "error: JQCardFour SetFreq,freq overflow, freq_KHz =  2150001");
        cardRow<T>("gain 40 mode 0: RF 20", [](T &c) { return c.SetGain(1, 40, 0); },
            {jqSet(8, 20, 1)}, true);
        cardRow<T>("gain 40 mode 1: IF adjust 30", [](T &c) { return c.SetGain(1, 40, 1); },
            {jqSet(10, 30, 1)}, true);
        cardRow<T>("gain 41 mode 1 truncates", [](T &c) { return c.SetGain(1, 41, 1); },
            {jqSet(10, 30, 1)}, true);
        cardRow<T>("gain 61 mode 0", [](T &c) { return c.SetGain(1, 61, 0); },
            {}, true, "rfAtt overflow");
        cardRow<T>("gain 100 mode 1: IF adjust 0", [](T &c) { return c.SetGain(1, 100, 1); },
            {jqSet(10, 0, 1)}, true);
        cardRow<T>("gain 101", [](T &c) { return c.SetGain(1, 101, 1); }, {}, false);
        cardRow<T>("gain -1", [](T &c) { return c.SetGain(1, -1, 0); }, {}, false);
        cardRow<T>("gain mode 2 sends nothing", [](T &c) { return c.SetGain(1, 40, 2); }, {}, true);
        cardRow<T>("reference on channel byte 0", [](T &c) { return c.SetRefType(2, 1); },
            {jqSet(11, 1, 0)}, true);
        cardRow<T>("reference 7 refused below", [](T &c) { return c.SetRefType(2, 7); }, {}, true);
        cardRow<T>("work mode 5 refused below", [](T &c) { return c.SetWorkMode(0, 5); }, {}, true);
        cardRow<T>("work mode 1", [](T &c) { return c.SetWorkMode(2, 1); }, {jqSet(7, 1, 2)}, true);
        cardRow<T>("output select 1", [](T &c) { return c.SetIFOutputSelect(3, 1); },
            {jqSet(12, 1, 3)}, true);
        cardRow<T>("output select 2", [](T &c) { return c.SetIFOutputSelect(3, 2); },
            {}, false, "outFreq overflow");
        cardRow<T>("output select -1", [](T &c) { return c.SetIFOutputSelect(3, -1); },
            {}, false, "outFreq overflow");
        cardRow<T>("power in hundredths",
            [](T &c) { int v = 0; return c.GetInputPower(1, v) && v == -10; },
            {jqQuery(13, 1)}, true);
        cardRow<T>("rf att is code 8",
            [](T &c) { int v = 0; return c.GetRFAttenuation(2, v) && v == 21; },
            {jqQuery(8, 2)}, true);
        cardRow<T>("if att is code 10",
            [](T &c) { int v = 0; return c.GetIFAttenuation(2, v) && v == 10; },
            {jqQuery(10, 2)}, true);
        cardRow<T>("ref read on ch 0", [](T &c) { int v = 0; return c.GetRefType(3, v); },
            {jqQuery(11, 0)}, true);
    }
    // clang-format on
    void jqCardFour()
    {
        runCardRow<JQCardFour>(10,
            {{JQFrame::InputPower, hex("fc18")}, {JQFrame::RFAtten, hex("15")},
                {JQFrame::IFAdjustAtten, hex("0a")}});
    }

    // The card reports hundredths of a dB; the driver keeps whole dB.
    void inputPowerIsTruncated()
    {
        EchoCard card(10, {{JQFrame::InputPower, hex("0096")}});
        JQCardFour c;
        c.Open(card.peer().path());
        int v = 0;
        QVERIFY(c.GetInputPower(0, v));
        QCOMPARE(v, 1);
    }

    // clang-format off
    void jqCardTwo_data()
    {
        cardColumns();
        using T = JQCardTwo;
        cardRow<T>("gain 0", [](T &c) { return c.SetGain(0, 0, 0); },
            {jqSet(9, 60, 0), jqSet(8, 60, 0)}, true);
        cardRow<T>("gain 40: RF only", [](T &c) { return c.SetGain(0, 40, 0); },
            {jqSet(9, 60, 0), jqSet(8, 20, 0)}, true);
        cardRow<T>("gain 41: IF takes over", [](T &c) { return c.SetGain(0, 41, 0); },
            {jqSet(9, 39, 0), jqSet(8, 40, 0)}, true);
        cardRow<T>("mode is ignored", [](T &c) { return c.SetGain(1, 41, 7); },
            {jqSet(9, 39, 1), jqSet(8, 40, 1)}, true);
        cardRow<T>("gain 80", [](T &c) { return c.SetGain(0, 80, 1); },
            {jqSet(9, 0, 0), jqSet(8, 40, 0)}, true);
        cardRow<T>("gain 81", [](T &c) { return c.SetGain(0, 81, 0); },
            {}, false, "error: JQCardTwo SetGain,freq overflow, ifAtt =  -1");
        cardRow<T>("gain 101", [](T &c) { return c.SetGain(0, 101, 0); }, {}, false);
        cardRow<T>("freq below", [](T &c) { return c.SetFreq(0, 949999); },
            {}, false, "error: JQCardTwo SetFreq,freq overflow, freq_KHz =  949999");
        cardRow<T>("select is code 16", [](T &c) { return c.SetIFOutputSelect(1, 1); },
            {jqSet(16, 1, 1)}, true);
        cardRow<T>("output select 2", [](T &c) { return c.SetIFOutputSelect(1, 2); },
            {}, false, "outFreq overflow");
        cardRow<T>("ref read on ch 0", [](T &c) { int v = 0; return c.GetRefType(1, v); },
            {jqQuery(11, 0)}, true);
        cardRow<T>("gain of RF 40, IF 39",
            [](T &c) { int v = 0; return c.GetGain(1, v) && v == 41; },
            {jqQuery(8, 1), jqQuery(9, 1)}, true);
        cardRow<T>("band read is code 16", [](T &c) { int v = 0; return c.GetIFOutputSelect(1, v);
            },
            {jqQuery(16, 1)}, true);
    }
    // clang-format on
    void jqCardTwo()
    {
        runCardRow<JQCardTwo>(10, {{JQFrame::RFAtten, hex("28")}, {JQFrame::IFAtten, hex("27")}});
    }

    // clang-format off
    void vnCard_data()
    {
        cardColumns();
        using T = VNCard;
        cardRow<T>("freq lower bound", [](T &c) { return c.SetFreq(0, 20000); },
            {vnSet(2, 20000, 0)}, true);
        cardRow<T>("freq upper bound", [](T &c) { return c.SetFreq(1, 3000000); },
            {vnSet(2, 3000000, 1)}, true);
        cardRow<T>("freq below", [](T &c) { return c.SetFreq(0, 19999); },
            {}, false, "error: VNCard SetFreq,freq overflow, freq_KHz =  19999");
        cardRow<T>("freq above", [](T &c) { return c.SetFreq(0, 3000001); },
            {}, false, "error: VNCard SetFreq,freq overflow, freq_KHz =  3000001");
        cardRow<T>("gain 0 is code 90", [](T &c) { return c.SetGain(0, 0); },
            {vnSet(5, 90, 0)}, true);
        cardRow<T>("gain 80 is code 10", [](T &c) { return c.SetGain(2, 80); },
            {vnSet(5, 10, 2)}, true);
        cardRow<T>("gain 81", [](T &c) { return c.SetGain(0, 81); },
            {}, false, "error: VNCard SetGain,freq overflow, gain =  81");
        cardRow<T>("output select 1", [](T &c) { return c.SetIFOutputSelect(0, 1); },
            {vnSet(12, 1, 0)}, true, "1111111111 SetIFOutputSelect outfreq = 1");
        cardRow<T>("output select 2", [](T &c) { return c.SetIFOutputSelect(0, 2); },
            {}, false, "outFreq overflow");
        cardRow<T>("gain read back",
            [](T &c) { unsigned u = 0; return c.GetGain(0, u) && u == 80; },
            {hex("fe 01 05 00 00 00 00 00 04 fa")}, true);
        cardRow<T>("temp raw",
            [](T &c) { double t = 0; return c.GetTemperature(0, t) && t == 253.0; },
            {hex("fe 01 0d 00 00 00 00 00 0c fa")}, true);
    }
    // clang-format on
    void vnCard()
    {
        runCardRow<VNCard>(10, {{VNFrame::Gain, hex("0a")}, {VNFrame::Temperature, hex("00fd")}});
    }

    // clang-format off
    void klrCard_data()
    {
        cardColumns();
        using T = KLRCard;
        // Every set command is followed by the card's 100 ms: a gain is two.
        cardRow<T>("gain 10 mode 0", [](T &c) { return c.SetGain(0, 10, 0); },
            {klrFrame(0xA4, 20, 0), klrFrame(0xA5, 0, 0)}, true, nullptr, 200);
        cardRow<T>("gain 20 mode 1", [](T &c) { return c.SetGain(1, 20, 1); },
            {klrFrame(0xA4, 25, 1), klrFrame(0xA5, 0, 1)}, true);
        cardRow<T>("gain 10 mode 1", [](T &c) { return c.SetGain(1, 10, 1); },
            {klrFrame(0xA4, 30, 1), klrFrame(0xA5, 5, 1)}, true);
        cardRow<T>("gain 14 mode 1: RF 30 and IF 1", [](T &c) { return c.SetGain(1, 14, 1); },
            {klrFrame(0xA4, 30, 1), klrFrame(0xA5, 1, 1)}, true);
        cardRow<T>("gain 31 mode 0", [](T &c) { return c.SetGain(0, 31, 0); },
            {klrFrame(0xA5, 0, 0)}, true,
            "error: KLRCard SetRFAttenuation,freq overflow, rfAtt =  -1");
        cardRow<T>("gain -6 mode 1", [](T &c) { return c.SetGain(0, -6, 1); },
            {klrFrame(0xA4, 30, 0)}, true,
            "error: KLRCard SetIFAttenuation,freq overflow, ifAtt =  21");
        cardRow<T>("gain mode 2", [](T &c) { return c.SetGain(0, 10, 2); }, {}, true);
        cardRow<T>("freq upper bound", [](T &c) { return c.SetFreq(2, 6000000); },
            {klrFrame(0xA2, 6000000, 2)}, true, nullptr, 100);
        cardRow<T>("freq lower bound", [](T &c) { return c.SetFreq(2, 20000); },
            {klrFrame(0xA2, 20000, 2)}, true, nullptr, 100);
        cardRow<T>("freq below", [](T &c) { return c.SetFreq(2, 19999); },
            {}, false, "error: KLRCard SetFreq,freq overflow, freq_KHz =  19999");
        cardRow<T>("rf att 30", [](T &c) { return c.SetRFAttenuation(1, 30); },
            {klrFrame(0xA4, 30, 1)}, true, nullptr, 100);
        cardRow<T>("rf att 31", [](T &c) { return c.SetRFAttenuation(1, 31); },
            {}, false, "error: KLRCard SetRFAttenuation,freq overflow, rfAtt =  31");
        cardRow<T>("if att 20", [](T &c) { return c.SetIFAttenuation(1, 20); },
            {klrFrame(0xA5, 20, 1)}, true, nullptr, 100);
        cardRow<T>("if att 21", [](T &c) { return c.SetIFAttenuation(1, 21); },
            {}, false, "error: KLRCard SetIFAttenuation,freq overflow, ifAtt =  21");
        cardRow<T>("freq above", [](T &c) { return c.SetFreq(2, 6000001); },
            {}, false, "error: KLRCard SetFreq,freq overflow, freq_KHz =  6000001");
        cardRow<T>("band 1 refused below", [](T &c) { return c.SetBandWidth(0, 1); },
            {}, true, "SetBandWidth bw =  1");
        cardRow<T>("work mode 2 refused below", [](T &c) { return c.SetWorkMode(0, 2); },
            {}, true, "SetWorkMode ret = true");
        cardRow<T>("work mode 1", [](T &c) { return c.SetWorkMode(3, 1); },
            {klrFrame(0xA3, 1, 3)}, true, "SetWorkMode mode =  1");
        cardRow<T>("freq read",
            [](T &c) { unsigned u = 0; return c.GetFreq(1, u) && u == 1500000; },
            {klrFrame(0xA7, 0, 1)}, true, "GetFreq val =  1500000");
    }
    // clang-format on
    void klrCard() { runCardRow<KLRCard>(8, {{KLRFrame::GetFreq, hex("0016e360")}}); }

    // What the read-back flow makes of each model's answers: keys, 'f' and
    // 'g' formats, units and the gain each model computes.
    // clang-format off
    void readBackReport_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<CardValues>("values");
        QTest::addColumn<QString>("report");
        const QByteArray mhz1500 = hex("16e360"); // kHz, from byte 3
        const QByteArray klr1500 = hex("0016e360"); // kHz in bytes 3..6
        QTest::newRow("VN2810") << "VN2810"
                                << CardValues{{2, mhz1500}, {5, hex("0a")}, {13, hex("00fd")},
                                       {12, hex("01")}, {16, hex("02")}}
                                << "ch=1 freq=1500.000 gain=40.0 temp=25.3 outfreq=1 hardch=2";
        QTest::newRow("JQ5140 mode 0: RF attenuation in half dB")
            << "JQ5140"
            << CardValues{{2, mhz1500}, {0x80, hex("012c")}, {8, hex("15")}, {13, hex("fc18")},
                   {11, hex("01")}, {12, hex("01")}}
            << "ch=1 freq=1500.000 temp=30 workmode=0 ref=1 power=-10 gain=19.5 outfreq=1";
        QTest::newRow("JQ5140 mode 1: IF adjust in dB")
            << "JQ5140" << CardValues{{7, hex("01")}, {10, hex("0a")}, {0x80, hex("0131")}}
            << "ch=1 freq=0.000 temp=30.5 workmode=1 ref=0 power=0 gain=40 outfreq=0";
        QTest::newRow("JQ5120") << "JQ5120"
                                << CardValues{{2, hex("0e7ef0")}, {8, hex("28")}, {9, hex("27")},
                                       {16, hex("01")}}
                                << "freq=950.000 ref=0 band=1 gain=20.5";
        QTest::newRow("KLR620 mode 0: 30 less both attenuations")
            << "KLR620"
            << CardValues{{0xA7, klr1500}, {0xA9, hex("0000000a")}, {0xAA, hex("00000005")},
                   {0xAC, hex("00000003")}, {0xAB, hex("00000081")}}
            << "ch=1 freq=1500.000 workmode=0 gain=15 band=3 warning=129";
        QTest::newRow("KLR620 mode 1: 45 less both attenuations")
            << "KLR620"
            << CardValues{{0xA8, hex("00000001")}, {0xA9, hex("0000001e")}, {0xAA, hex("00000014")}}
            << "ch=1 freq=0.000 workmode=1 gain=-5 band=0 warning=0";
    }
    // clang-format on

    void readBackReport()
    {
        QFETCH(QString, model);
        QFETCH(CardValues, values);
        QFETCH(QString, report);
        EchoCard card(model == QLatin1String("KLR620") ? 8 : 10, values);
        CmdAgent *agent = CmdAgent::instance();
        agent->openCard(model, card.peer().path());
        const QVariantMap got = agent->readAllParams(model, 1);
        QStringList keys;
        for (const QString &item : report.split(QLatin1Char(' '))) {
            const QString key = item.section(QLatin1Char('='), 0, 0);
            keys << key;
            QCOMPARE(key + QLatin1Char('=') + got.value(key).toString(), item);
        }
        keys.sort();
        QCOMPARE(got.keys(), keys);
    }

    // Every operation refuses to touch the line before Open, with its own line.
    void unopenedCardsSayWhichOperation()
    {
        JQCardFour four;
        JQCardTwo two;
        VNCard vn;
        KLRCard klr;
        int i = 0;
        unsigned u = 0;
        double d = 0;
        const struct {
            std::function<bool()> call;
            const char *line;
        } rows[] = {
            {[&] { return four.SetWorkMode(0, 0); },
                "error: JQCardFour SetWorkMode, card not opened"},
            {[&] { return four.SetGain(0, 0, 0); }, "error: JQCardFour SetGain, card not opened"},
            {[&] { return four.GetInputPower(0, i); },
                "error: JQCardFour GetInputPower, card not opened"},
            {[&] { return four.GetTemperature(0, d); },
                "error: JQCardFour GetTemperature, card not opened"},
            {[&] { return two.SetIFOutputSelect(0, 0); },
                "error: JQCardTwo SetIFOutputSelect, card not opened"},
            {[&] { return two.GetGain(0, i); }, "error: JQCardTwo GetGain, card not opened"},
            {[&] { return vn.SetFreq(0, 1000000); }, "error: VNCard SetFreq, card not opened"},
            {[&] { return vn.GetGain(0, u); }, "error: VNCard GetGain, card not opened"},
            {[&] { return vn.GetType(0, u); }, "error: VNCard GetType, card not opened"},
            {[&] { return klr.SetBandWidth(0, 2); },
                "error: KLRCard SetBandWidth, card not opened"},
            {[&] { return klr.GetWarning(0, u); }, "error: KLRCard GetWarning, card not opened"},
            {[&] { return klr.GetFreq(0, u); }, "error: KLRCard GetFreq, card not opened"},
        };
        for (const auto &row : rows) {
            LogCapture log;
            QVERIFY2(!row.call(), row.line);
            QVERIFY2(log.critical() == QStringList{QString::fromUtf8(row.line)}, row.line);
        }
        LogCapture log;
        QVERIFY(!klr.GetFreq(0, u));
        QCOMPARE(log.lines().value(0), QStringLiteral("GetFreq 111111111111 false"));
        // The KLR gain is two setters, each with its own line; it still says true.
        QVERIFY(klr.SetGain(0, 10, 0));
        QVERIFY(log.contains(QStringLiteral("error: KLRCard SetRFAttenuation, card not opened")));
        QVERIFY(log.contains(QStringLiteral("error: KLRCard SetIFAttenuation, card not opened")));
    }

    // A card opened on a port that is not there: setters still say true,
    // reads fail with their lines, and the two reads without a failure branch
    // hand back what the failure code makes of them.
    void deadPort()
    {
        JQCardFour four;
        VNCard vn;
        four.Open(DeadPort);
        vn.Open(DeadPort);
        LogCapture log;
        int i = 7;
        unsigned u = 7;
        double d = 7;
        QVERIFY(four.SetFreq(0, 1500000));
        QVERIFY(!four.GetFreq(0, i));
        QCOMPARE(i, 7);
        QVERIFY(log.contains(QStringLiteral("error: JQCardFour GetFreq Query failed, val =   -1")));
        QVERIFY(four.GetInputPower(0, i));
        QCOMPARE(i, 0);
        QVERIFY(!four.GetTemperature(0, d));
        QVERIFY(log.contains(
            QStringLiteral("error: JQCardFour GetTemperature Query failed, val =   -1")));
        QVERIFY(vn.SetFreq(0, 1500000));
        QVERIFY(vn.GetGain(0, u));
        QCOMPARE(u, 91u);
        QVERIFY(!vn.GetType(0, u));
        const int typeLine = log.indexOf(QStringLiteral("111111111111111 GetType val= -1"));
        QVERIFY(typeLine >= 0);
        QVERIFY(
            log.indexOf(QStringLiteral("error: VNCard GetType Query failed, val =   -1"), typeLine)
            > typeLine);
    }
};

QTEST_GUILESS_MAIN(TestCards)
#include "tst_cards.moc"
