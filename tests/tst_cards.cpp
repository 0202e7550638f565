// The four card drivers on top of their protocol modules: what each operation
// sends for a value (gain splits, range checks, channel bytes), what it
// reports back, and the lines it logs.

#include "app/protocolmodules.h"
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

} // namespace

class TestCards : public QObject {
    Q_OBJECT

private slots:
    void jqCardFour()
    {
        EchoCard card(10);
        card.setValue(JQFrame::InputPower, hex("fc18"));
        card.setValue(JQFrame::RFAtten, hex("15"));
        card.setValue(JQFrame::IFAdjustAtten, hex("0a"));
        JQCardFour c;
        c.Open(card.peer().path());
        int v = 0;
        // clang-format off
        runCardTable(card.peer(), {
            { "freq lower bound", [&] { return c.SetFreq(0, 950000); }, { jqSet(2, 950000, 0) }, true },
            { "freq upper bound", [&] { return c.SetFreq(3, 2150000); }, { jqSet(2, 2150000, 3) }, true },
            { "freq below", [&] { return c.SetFreq(0, 949999); }, {}, false, "error: JQCardFour SetFreq,freq overflow, freq_KHz =  949999" },
            { "freq above", [&] { return c.SetFreq(0, 2150001); }, {}, false, "error: JQCardFour SetFreq,freq overflow, freq_KHz =  2150001" },
            { "gain 40 mode 0: RF 20", [&] { return c.SetGain(1, 40, 0); }, { jqSet(8, 20, 1) }, true },
            { "gain 40 mode 1: IF adjust 30", [&] { return c.SetGain(1, 40, 1); }, { jqSet(10, 30, 1) }, true },
            { "gain 41 mode 1 truncates", [&] { return c.SetGain(1, 41, 1); }, { jqSet(10, 30, 1) }, true },
            { "gain 61 mode 0", [&] { return c.SetGain(1, 61, 0); }, {}, true, "rfAtt overflow" },
            { "gain 100 mode 1: IF adjust 0", [&] { return c.SetGain(1, 100, 1); }, { jqSet(10, 0, 1) }, true },
            { "gain 101", [&] { return c.SetGain(1, 101, 1); }, {}, false },
            { "gain -1", [&] { return c.SetGain(1, -1, 0); }, {}, false },
            { "gain mode 2 sends nothing", [&] { return c.SetGain(1, 40, 2); }, {}, true },
            { "reference on channel byte 0", [&] { return c.SetRefType(2, 1); }, { jqSet(11, 1, 0) }, true },
            { "reference 7 refused below", [&] { return c.SetRefType(2, 7); }, {}, true },
            { "work mode 5 refused below", [&] { return c.SetWorkMode(0, 5); }, {}, true },
            { "work mode 1", [&] { return c.SetWorkMode(2, 1); }, { jqSet(7, 1, 2) }, true },
            { "output select 1", [&] { return c.SetIFOutputSelect(3, 1); }, { jqSet(12, 1, 3) }, true },
            { "output select 2", [&] { return c.SetIFOutputSelect(3, 2); }, {}, false, "outFreq overflow" },
            { "output select -1", [&] { return c.SetIFOutputSelect(3, -1); }, {}, false, "outFreq overflow" },
            { "input power signed hundredths", [&] { return c.GetInputPower(1, v) && v == -10; }, { jqQuery(13, 1) }, true },
            { "rf attenuation is code 8", [&] { return c.GetRFAttenuation(2, v) && v == 21; }, { jqQuery(8, 2) }, true },
            { "if attenuation is the adjust code 10", [&] { return c.GetIFAttenuation(2, v) && v == 10; }, { jqQuery(10, 2) }, true },
            { "reference read on channel byte 0", [&] { return c.GetRefType(3, v); }, { jqQuery(11, 0) }, true },
        });
        // clang-format on
        card.setValue(JQFrame::InputPower, hex("0096"));
        QVERIFY(c.GetInputPower(0, v));
        QCOMPARE(v, 1);
    }

    void jqCardTwo()
    {
        EchoCard card(10);
        card.setValue(JQFrame::RFAtten, hex("28"));
        card.setValue(JQFrame::IFAtten, hex("27"));
        JQCardTwo c;
        c.Open(card.peer().path());
        int v = 0;
        // clang-format off
        runCardTable(card.peer(), {
            { "gain 0", [&] { return c.SetGain(0, 0, 0); }, { jqSet(9, 60, 0), jqSet(8, 60, 0) }, true },
            { "gain 40: RF only", [&] { return c.SetGain(0, 40, 0); }, { jqSet(9, 60, 0), jqSet(8, 20, 0) }, true },
            { "gain 41: IF takes over", [&] { return c.SetGain(0, 41, 0); }, { jqSet(9, 39, 0), jqSet(8, 40, 0) }, true },
            { "mode is ignored", [&] { return c.SetGain(1, 41, 7); }, { jqSet(9, 39, 1), jqSet(8, 40, 1) }, true },
            { "gain 80", [&] { return c.SetGain(0, 80, 1); }, { jqSet(9, 0, 0), jqSet(8, 40, 0) }, true },
            { "gain 81", [&] { return c.SetGain(0, 81, 0); }, {}, false, "error: JQCardTwo SetGain,freq overflow, ifAtt =  -1" },
            { "gain 101", [&] { return c.SetGain(0, 101, 0); }, {}, false },
            { "freq below", [&] { return c.SetFreq(0, 949999); }, {}, false, "error: JQCardTwo SetFreq,freq overflow, freq_KHz =  949999" },
            { "output select is the band code 16", [&] { return c.SetIFOutputSelect(1, 1); }, { jqSet(16, 1, 1) }, true },
            { "output select 2", [&] { return c.SetIFOutputSelect(1, 2); }, {}, false, "outFreq overflow" },
            { "reference read on channel byte 0", [&] { return c.GetRefType(1, v); }, { jqQuery(11, 0) }, true },
            { "gain from RF 40 and IF 39", [&] { return c.GetGain(1, v) && v == 41; }, { jqQuery(8, 1), jqQuery(9, 1) }, true },
            { "band read is code 16", [&] { return c.GetIFOutputSelect(1, v); }, { jqQuery(16, 1) }, true },
        });
        // clang-format on
    }

    void vnCard()
    {
        EchoCard card(10);
        card.setValue(VNFrame::Gain, hex("0a"));
        card.setValue(VNFrame::Temperature, hex("00fd"));
        VNCard c;
        c.Open(card.peer().path());
        unsigned u = 0;
        double t = 0;
        // clang-format off
        runCardTable(card.peer(), {
            { "freq lower bound", [&] { return c.SetFreq(0, 20000); }, { vnSet(2, 20000, 0) }, true },
            { "freq upper bound", [&] { return c.SetFreq(1, 3000000); }, { vnSet(2, 3000000, 1) }, true },
            { "freq below", [&] { return c.SetFreq(0, 19999); }, {}, false, "error: VNCard SetFreq,freq overflow, freq_KHz =  19999" },
            { "freq above", [&] { return c.SetFreq(0, 3000001); }, {}, false, "error: VNCard SetFreq,freq overflow, freq_KHz =  3000001" },
            { "gain 0 is code 90", [&] { return c.SetGain(0, 0); }, { vnSet(5, 90, 0) }, true },
            { "gain 80 is code 10", [&] { return c.SetGain(2, 80); }, { vnSet(5, 10, 2) }, true },
            { "gain 81", [&] { return c.SetGain(0, 81); }, {}, false, "error: VNCard SetGain,freq overflow, gain =  81" },
            { "output select 1", [&] { return c.SetIFOutputSelect(0, 1); }, { vnSet(12, 1, 0) }, true, "1111111111 SetIFOutputSelect outfreq = 1" },
            { "output select 2", [&] { return c.SetIFOutputSelect(0, 2); }, {}, false, "outFreq overflow" },
            { "gain read back", [&] { return c.GetGain(0, u) && u == 80; }, { hex("fe 01 05 00 00 00 00 00 04 fa") }, true },
            { "temperature raw", [&] { return c.GetTemperature(0, t) && t == 253.0; }, { hex("fe 01 0d 00 00 00 00 00 0c fa") }, true },
        });
        // clang-format on
    }

    void klrCard()
    {
        EchoCard card(8);
        card.setValue(KLRFrame::GetFreq, hex("0016e360"));
        KLRCard c;
        c.Open(card.peer().path());
        unsigned u = 0;
        // clang-format off
        runCardTable(card.peer(), {
            { "gain 10 mode 0", [&] { return c.SetGain(0, 10, 0); }, { klrFrame(0xA4, 20, 0), klrFrame(0xA5, 0, 0) }, true },
            { "gain 20 mode 1", [&] { return c.SetGain(1, 20, 1); }, { klrFrame(0xA4, 25, 1), klrFrame(0xA5, 0, 1) }, true },
            { "gain 10 mode 1", [&] { return c.SetGain(1, 10, 1); }, { klrFrame(0xA4, 30, 1), klrFrame(0xA5, 5, 1) }, true },
            { "gain 31 mode 0", [&] { return c.SetGain(0, 31, 0); }, { klrFrame(0xA5, 0, 0) }, true, "error: KLRCard SetRFAttenuation,freq overflow, rfAtt =  -1" },
            { "gain -6 mode 1", [&] { return c.SetGain(0, -6, 1); }, { klrFrame(0xA4, 30, 0) }, true, "error: KLRCard SetIFAttenuation,freq overflow, ifAtt =  21" },
            { "gain mode 2", [&] { return c.SetGain(0, 10, 2); }, {}, true },
            { "freq upper bound", [&] { return c.SetFreq(2, 6000000); }, { klrFrame(0xA2, 6000000, 2) }, true },
            { "freq above", [&] { return c.SetFreq(2, 6000001); }, {}, false, "error: KLRCard SetFreq,freq overflow, freq_KHz =  6000001" },
            { "band 1 refused below", [&] { return c.SetBandWidth(0, 1); }, {}, true, "SetBandWidth bw =  1" },
            { "work mode 2 refused below", [&] { return c.SetWorkMode(0, 2); }, {}, true, "SetWorkMode ret = true" },
            { "work mode 1", [&] { return c.SetWorkMode(3, 1); }, { klrFrame(0xA3, 1, 3) }, true, "SetWorkMode mode =  1" },
            { "freq read", [&] { return c.GetFreq(1, u) && u == 1500000; }, { klrFrame(0xA7, 0, 1) }, true, "GetFreq val =  1500000" },
        });
        // clang-format on
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
