// The cards layer over a real pseudo-terminal: the frame builders, the three
// protocols (the frame each operation puts on the line, how the reply is
// judged, the lines written to standard output and to the log) and the four
// card drivers on top of them (gain splits, range checks, channel bytes, what
// each reports back and logs).

#include "app/cmdagent.h"
#include "capture.h"
#include "cards/jq/jqflmodule.h"
#include "cards/jq/jqframe.h"
#include "cards/klr/klrframe.h"
#include "cards/klr/klrlmodule.h"
#include "cards/vn/vnframe.h"
#include "cards/vn/vnlmodule.h"
#include "ptypeer.h"
#include "serial/runevents.h"

#include <QtTest>

using CardReply::fe;
using CardReply::hex;
using CardReply::klr;
using CardValues = QMap<quint8, QByteArray>;
// A row's operation on its module or card; a card's true is 1, false 0.
using Call = std::function<int(QObject &)>;
Q_DECLARE_METATYPE(Call)
Q_DECLARE_METATYPE(PtyPeer::Script)
Q_DECLARE_METATYPE(CardValues)

namespace {

template <typename Bytes> QByteArray bytes(const Bytes &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
}

QByteArray jqSet(quint8 code, quint32 value, quint8 ch)
{
    return bytes(JQFrame::build(FeFrame::SetCommand, code, value, ch));
}

QByteArray jqQuery(quint8 code, quint8 ch)
{
    return bytes(JQFrame::build(FeFrame::QueryCommand, code, 0, ch));
}

QByteArray vnSet(quint8 code, quint32 value, quint8 ch)
{
    return bytes(VNFrame::build(FeFrame::SetCommand, code, value, ch));
}

QByteArray klrFrame(quint8 code, quint32 value, quint8 ch)
{
    return bytes(KLRFrame::build(code, value, ch));
}

// A card that answers every frame with the same reply.
PtyPeer::Script answer(const QByteArray &reply)
{
    return [=](const QByteArray &) { return PtyPeer::Reply{reply}; };
}
const PtyPeer::Script none = answer({});
// A reply whose rest comes only after the agent has given up waiting for it.
PtyPeer::Script split(const QByteArray &reply)
{
    return [=](const QByteArray &) { return PtyPeer::Reply{reply, 0, 4, 0, 4}; };
}

// A card that answers like the real one: JQ/VN frames are echoed with status
// 0 and the value given for their code; KLR queries get their reply code and
// value, KLR set commands no answer.
PtyPeer::Script echo(int frameSize, const CardValues &values)
{
    return [=](const QByteArray &frame) {
        const auto code = quint8(frame.at(frameSize == 10 ? 2 : 1));
        if (frameSize == 10)
            return PtyPeer::Reply{fe(code, values.value(code))};
        static const QMap<quint8, quint8> replyCodes
            = {{0xA7, 0xB2}, {0xA8, 0xB3}, {0xA9, 0xB4}, {0xAA, 0xB5}, {0xAC, 0xB6}, {0xAB, 0xBA}};
        if (!replyCodes.contains(code))
            return PtyPeer::Reply{};
        return PtyPeer::Reply{klr(replyCodes.value(code), values.value(code))};
    };
}

// The protocol and card tables are QtTest data rows: each row names itself
// (-datatags lists them) and runs on its own with a fresh module or card on a
// fresh pseudo-terminal. A row gives an operation, the frames it must put on
// the line in order (none: nothing may be written), the card that answers,
// the result, texts expected on standard output (none: nothing may be
// printed) and in the log, and the least time it must take (the KLR620 is
// given 100 ms after every set command).
void columns()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<QByteArray>("frames");
    QTest::addColumn<PtyPeer::Script>("card");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("printed");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<int>("atLeastMs");
}

template <typename T, typename F>
void row(const char *name, F call, const QByteArray &frames, const PtyPeer::Script &card,
    int result, const char *printed = nullptr, const char *logged = nullptr, int atLeastMs = 0)
{
    QTest::newRow(name) << Call([call](QObject &t) { return int(call(static_cast<T &>(t))); })
                        << frames << card << result << QByteArray(printed)
                        << QString::fromUtf8(logged) << atLeastMs;
}

template <typename T, typename Open> void runRow(int frameSize, Open open)
{
    QFETCH(Call, call);
    QFETCH(QByteArray, frames);
    QFETCH(PtyPeer::Script, card);
    QFETCH(int, result);
    QFETCH(QByteArray, printed);
    QFETCH(QString, logged);
    QFETCH(int, atLeastMs);
    PtyPeer peer(frameSize, card);
    T target;
    (target.*open)(peer.path());
    QElapsedTimer timer;
    int got = 0;
    QByteArray out;
    QStringList log;
    bool sawLogged = false;
    int applied = 0;
    RunEvents::setSink([&](const RunEvents::Event &e) { applied += e.kind == RunEvents::Applied; });
    {
        LogCapture logCapture;
        StdoutCapture stdoutCapture;
        timer.start();
        got = call(target);
        out = stdoutCapture.text();
        log = logCapture.lines();
        sawLogged = logged.isEmpty() || logCapture.contains(logged);
    }
    RunEvents::setSink(nullptr);
    // What a driver or its module refused never reached the card, and is not
    // reported as a value the card took (rfcard-strict and rfcardd verify
    // those, and would ask the card for a value it was never given).
    if (frames.isEmpty())
        QCOMPARE(applied, 0);
    // A lower bound on the time cannot flake the way an upper bound can.
    QVERIFY2(timer.elapsed() >= atLeastMs, qPrintable(QString::number(timer.elapsed())));
    const QByteArray what = "printed: " + out + ", log: " + log.join(QLatin1String(" | ")).toUtf8();
    QVERIFY2(got == result, (what + ", result " + QByteArray::number(got)).constData());
    QVERIFY2(printed.isEmpty() ? out.isEmpty() : out.contains(printed), what.constData());
    QVERIFY2(sawLogged, what.constData());
    peer.waitForFrames(int(frames.size()) / frameSize);
    QCOMPARE(peer.frames().join().toHex(' '), frames.toHex(' '));
    QCOMPARE(peer.leftover(), QByteArray());
    // A card's protocol module outlives the card: it lets go of the port
    // (and of the port's lock file) before the pseudo-terminal goes away, or
    // another test program that gets the same device name cannot open it.
    (target.*open)(QStringLiteral("/nonexistent/rfcard-closed"));
}

} // namespace

class TestCards : public QObject {
    Q_OBJECT

private slots:
    // What no module call can reach: values wider than their field, a value
    // given with a code that is only read.
    // clang-format off
    void framesAreBuiltByteForByte_data()
    {
        QTest::addColumn<QByteArray>("built");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("jq freq keeps 24 bits") << bytes(JQFrame::build(3, 2, 0x12345678u, 0)) << hex("fe 03 02 34 56 78 00 00 1b fa");
        QTest::newRow("jq byte code keeps low byte") << bytes(JQFrame::build(3, 16, 0x1FFu, 0)) << hex("fe 03 10 ff 00 00 00 00 ec fa");
        QTest::newRow("jq read-only code sends no value") << bytes(JQFrame::build(3, 13, 0x55u, 0)) << hex("fe 03 0d 00 00 00 00 00 0e fa");
        QTest::newRow("klr freq is 32 bits") << bytes(KLRFrame::build(0xA2, 0xFFFFFFFFu, 255)) << hex("7B A2 FF FF FF FF FF 7D");
    }
    // clang-format on
    void framesAreBuiltByteForByte()
    {
        QFETCH(QByteArray, built);
        QFETCH(QByteArray, frame);
        QCOMPARE(built.toHex(' '), frame.toHex(' '));
    }

    // clang-format off
    void jqProtocol_data()
    {
        columns();
        using T = JQFLModule;
        const QByteArray queryFreq0 = hex("fe 01 02 00 00 00 00 00 03 fa");
        row<T>("set freq", [](T &m) { return m.lSetFreq(1000000, 1); }, hex("fe 03 02 0f 42 40 00 01 0d fa"), answer(fe(2)), 1, nullptr, "createCmd ucbuf \"fe 03 02 0f 42 40 00 01 0d fa\"");
        row<T>("query freq", [](T &m) { return m.lGetFreq(1); }, hex("fe 01 02 00 00 00 00 01 02 fa"), answer(fe(2, hex("0f4240"))), 1000000);
        row<T>("set rf att", [](T &m) { return m.lSetRFAtten(20, 0); }, hex("fe 03 08 14 00 00 00 00 1f fa"), answer(fe(8)), 1);
        row<T>("query temperature", [](T &m) { return m.lGetTemperature(2); }, hex("fe 01 80 00 00 00 00 02 83 fa"), answer(fe(0x80, hex("012c"))), 300);
        row<T>("ref goes out on ch 0", [](T &m) { return m.lSetClkSelect(1, 3); }, hex("fe 03 0b 01 00 00 00 00 09 fa"), answer(fe(11)), 1);
        row<T>("query reference", [](T &m) { return m.lGetClkSelect(); }, hex("fe 01 0b 00 00 00 00 00 0a fa"), answer(fe(11, hex("01"))), 1);
        row<T>("freq upper bound", [](T &m) { return m.lSetFreq(2150000, 0); }, hex("fe 03 02 20 ce 70 00 00 9f fa"), answer(fe(2)), 1);
        row<T>("freq above", [](T &m) { return m.lSetFreq(2150001, 0); }, {}, none, -2, nullptr, "error: lSetFreq param val overflow");
        row<T>("freq below", [](T &m) { return m.lSetFreq(94999, 0); }, {}, none, -2, nullptr, "error: lSetFreq param val overflow");
        row<T>("freq lower bound", [](T &m) { return m.lSetFreq(95000, 0); }, hex("fe 03 02 01 73 18 00 00 6b fa"), answer(fe(2)), 1);
        row<T>("work mode 2", [](T &m) { return m.lSetWorkMode(2, 0); }, {}, none, -2);
        row<T>("work mode 1", [](T &m) { return m.lSetWorkMode(1, 2); }, hex("fe 03 07 01 00 00 00 02 07 fa"), answer(fe(7)), 1);
        row<T>("output select -1", [](T &m) { return m.lSetIFOutputSelect(-1, 0); }, {}, none, -2, "error: JQFLModule::lSetIFOutputSelect param val overflow\n");
        row<T>("output band 2", [](T &m) { return m.lSetIFOutBand(2, 0); }, {}, none, -2, "error: JQFLModule::lSetIFOutBand param val overflow\n");
        row<T>("reference 2", [](T &m) { return m.lSetClkSelect(2, 0); }, {}, none, -2, "error: JQFLModule::lSetClkSelect param val overflow\n");
        row<T>("rf att 60", [](T &m) { return m.lSetRFAtten(60, 1); }, hex("fe 03 08 3c 00 00 00 01 36 fa"), answer(fe(8)), 1);
        row<T>("rf att 61", [](T &m) { return m.lSetRFAtten(61, 0); }, {}, none, -2, "error: JQFLModule::lSetRFAtten param val overflow\n");
        row<T>("if att 61", [](T &m) { return m.lSetIFAtten(61, 0); }, {}, none, -2, "error: JQFLModule::lSetIFAtten param val overflow\n");
        row<T>("if att 60", [](T &m) { return m.lSetIFAtten(60, 0); }, hex("fe 03 09 3c 00 00 00 00 36 fa"), answer(fe(9)), 1);
        row<T>("if adjust 51", [](T &m) { return m.lSetIFAdjustAttenuation(51, 0); }, {}, none, -2, "error: JQFLModule::lSetIFAdjustAttenuation param val overflow\n");
        row<T>("if adjust 50", [](T &m) { return m.lSetIFAdjustAttenuation(50, 1); }, hex("fe 03 0a 32 00 00 00 01 3a fa"), answer(fe(10)), 1);
        row<T>("output band 1", [](T &m) { return m.lSetIFOutBand(1, 1); }, hex("fe 03 10 01 00 00 00 01 13 fa"), answer(fe(16)), 1);
        row<T>("short reply", [](T &m) { return m.lGetFreq(0); }, queryFreq0, answer(fe(2).left(9)), -2, nullptr, "LModule::lSetInterface: m_RecvLen error 9");
        row<T>("long reply", [](T &m) { return m.lGetFreq(0); }, queryFreq0, answer(fe(2) + "x"), -2, nullptr, "LModule::lSetInterface: m_RecvLen error 11");
        row<T>("split reply", [](T &m) { return m.lGetFreq(0); }, queryFreq0, split(fe(2)), -2, nullptr, "LModule::lSetInterface: m_RecvLen error 4");
        row<T>("other code echoed", [](T &m) { return m.lGetIFAtten(0); }, hex("fe 01 09 00 00 00 00 00 08 fa"), answer(fe(8)), -3, "LModule::RFInterface: Parameter error 08 09\n");
        row<T>("status 51 still decoded", [](T &m) { return m.lGetFreq(0); }, queryFreq0, answer(fe(2, hex("0f4240"), 0x51)), 1000000, nullptr, "error, uart replay failed code=%02x\n 81");
        row<T>("status 53 on a set", [](T &m) { return m.lSetWorkMode(0, 0); }, hex("fe 03 07 00 00 00 00 00 04 fa"), answer(fe(7, {}, 0x53)), 1);
        row<T>("input power 16 bits", [](T &m) { return m.lGetInputPower(1); }, hex("fe 01 0d 00 00 00 00 01 0d fa"), answer(fe(13, hex("fc18"))), 0xFC18, nullptr, "JQFLModule::lQueryGetParameterValue FC 18 00 00");
        row<T>("frame edges not checked", [](T &m) { return m.lGetFreq(0); }, queryFreq0, answer(hex("00 00 02 0f 42 40 00 09 77 00")), 1000000);
        row<T>("work mode is one byte", [](T &m) { return m.lGetWorkMode(0); }, hex("fe 01 07 00 00 00 00 00 06 fa"), answer(fe(7, hex("01ffffff"))), 1);
    }
    // clang-format on
    void jqProtocol() { runRow<JQFLModule>(10, &JQFLModule::lOpenUart); }

    // clang-format off
    void vnProtocol_data()
    {
        columns();
        using T = VNLModule;
        const QByteArray queryFreq0 = hex("FE 01 02 00 00 00 00 00 03 FA");
        row<T>("set freq", [](T &m) { return m.lSetFreq(1000000, 1); }, hex("FE 03 02 0F 42 40 00 01 0D FA"), answer(fe(2)), 1);
        row<T>("set gain code", [](T &m) { return m.lSetGain(50, 0); }, hex("FE 03 05 32 00 00 00 00 34 FA"), answer(fe(5)), 1, nullptr, "111111111 lSetGain val  50");
        row<T>("gain code low byte", [](T &m) { return m.lSetGain(300, 0); }, hex("FE 03 05 2C 00 00 00 00 2A FA"), answer(fe(5)), 1);
        row<T>("output select", [](T &m) { return m.lSetIFOutputSelect(1, 2); }, hex("FE 03 0C 01 00 00 00 02 0C FA"), answer(fe(12)), 1, nullptr, "11111111111 lSetIFOutputSelect val =  1");
        row<T>("output select 2", [](T &m) { return m.lSetIFOutputSelect(2, 0); }, {}, none, -2, "error: VNLModule::lSetIFOutputSelect param val overflow\n");
        row<T>("temperature", [](T &m) { return m.lGetTemperature(2); }, hex("FE 01 0D 00 00 00 00 02 0E FA"), answer(fe(13, hex("012c"))), 300, nullptr, "VNLModule::lQueryGetParameterValue 01 2C 00 00");
        row<T>("type", [](T &m) { return m.lGetType(0); }, hex("FE 01 10 00 00 00 00 00 11 FA"), answer(fe(16, hex("05ff"))), 5);
        row<T>("gain", [](T &m) { return m.lGetGain(3); }, hex("FE 01 05 00 00 00 00 03 07 FA"), answer(fe(5, hex("0a"))), 10);
        row<T>("freq upper bound", [](T &m) { return m.lSetFreq(3600000, 0); }, hex("FE 03 02 36 EE 80 00 00 59 FA"), answer(fe(2)), 1);
        row<T>("freq above", [](T &m) { return m.lSetFreq(3600001, 0); }, {}, none, -2, "error: lSetFreq param val overflow\n");
        row<T>("freq below", [](T &m) { return m.lSetFreq(19999, 0); }, {}, none, -2, "error: lSetFreq param val overflow\n");
        row<T>("freq negative", [](T &m) { return m.lSetFreq(-1, 0); }, {}, none, -2, "error: lSetFreq param val overflow\n");
        row<T>("9-byte reply", [](T &m) { return m.lGetFreq(0); }, queryFreq0, answer(fe(2).left(9)), -2, nullptr, "LModule::lSetInterface: m_RecvLen error 9");
        row<T>("11-byte reply", [](T &m) { return m.lGetFreq(0); }, queryFreq0, answer(fe(2) + "x"), -2, nullptr, "LModule::lSetInterface: m_RecvLen error 11");
        row<T>("other code echoed", [](T &m) { return m.lGetGain(0); }, hex("FE 01 05 00 00 00 00 00 04 FA"), answer(fe(12)), -3, "LModule::RFInterface: Parameter error 0C 05\n");
        row<T>("status 53 printed, kept", [](T &m) { return m.lGetIFOutputSelect(1); }, hex("FE 01 0C 00 00 00 00 01 0C FA"), answer(fe(12, hex("01"), 0x53)), 1, "error, uart replay failed code=53\n");
        row<T>("frame edges not checked", [](T &m) { return m.lGetFreq(0); }, queryFreq0, answer(hex("AA 00 02 0f 42 40 00 07 00 BB")), 1000000);
        row<T>("channel low byte", [](T &m) { return m.lGetFreq(0x102); }, hex("FE 01 02 00 00 00 00 02 01 FA"), answer(fe(2, hex("0f4240"))), 1000000);
    }
    // clang-format on
    void vnProtocol() { runRow<VNLModule>(10, &VNLModule::lOpenUart); }

    // clang-format off
    void klrProtocol_data()
    {
        columns();
        using T = KLRLModule;
        row<T>("set freq", [](T &m) { return m.lSetFreq(1500000, 1); }, hex("7B A2 01 00 16 E3 60 7D"), none, 1, nullptr, "ready1 =  true");
        row<T>("band 2", [](T &m) { return m.lSetIFBand(2, 1); }, hex("7B A6 01 00 00 00 02 7D"), none, 1);
        row<T>("set band", [](T &m) { return m.lSetIFBand(3, 0); }, hex("7B A6 00 00 00 00 03 7D"), none, 1, nullptr, "createCmd ucbuf \"7b a6 00 00 00 00 03 7d\"");
        row<T>("query freq", [](T &m) { return m.lGetFreq(2); }, hex("7B A7 02 00 00 00 00 7D"), answer(klr(0xB2, hex("0016E360"))), 1500000, nullptr, "lSetInterface cmd =  0  param_code = 167  param_val =  0 ch = 2");
        row<T>("query warning", [](T &m) { return m.lGetWarning(0); }, hex("7B AB 00 00 00 00 00 7D"), answer(klr(0xBA, hex("00000081"))), 0x81);
        row<T>("unknown reply code", [](T &m) { return m.lGetWorkMode(0); }, hex("7B A8 00 00 00 00 00 7D"), answer(klr(0xB7, hex("00000005"))), 0);
        row<T>("freq upper bound", [](T &m) { return m.lSetFreq(6000000, 0); }, hex("7B A2 00 00 5B 8D 80 7D"), none, 1);
        row<T>("freq above", [](T &m) { return m.lSetFreq(6000001, 0); }, {}, none, -2, nullptr, "error: lSetFreq param val overflow");
        row<T>("freq below", [](T &m) { return m.lSetFreq(19999, 0); }, {}, none, -2, nullptr, "error: lSetFreq param val overflow");
        row<T>("band 1", [](T &m) { return m.lSetIFBand(1, 0); }, {}, none, -2, nullptr, "error: KLRLModule::lSetIFBand param val overflow");
        row<T>("band 4", [](T &m) { return m.lSetIFBand(4, 0); }, {}, none, -2, nullptr, "error: KLRLModule::lSetIFBand param val overflow");
        row<T>("work mode 2", [](T &m) { return m.lSetWorkMode(2, 0); }, {}, none, -2, nullptr, "error: KLRLModule::lSetWorkMode param val overflow");
        row<T>("work mode 1", [](T &m) { return m.lSetWorkMode(1, 3); }, hex("7B A3 03 00 00 00 01 7D"), none, 1);
        row<T>("rf att unchecked", [](T &m) { return m.lSetRFAtten(200, 0); }, hex("7B A4 00 00 00 00 C8 7D"), none, 1);
        row<T>("if att", [](T &m) { return m.lSetIFAtten(5, 1); }, hex("7B A5 01 00 00 00 05 7D"), none, 1);
        row<T>("query if att", [](T &m) { return m.lGetIFAtten(1); }, hex("7B AA 01 00 00 00 00 7D"), answer(klr(0xB5, hex("00000005"))), 5);
        row<T>("query band", [](T &m) { return m.lGetBandwidth(0); }, hex("7B AC 00 00 00 00 00 7D"), answer(klr(0xB6, hex("00000003"))), 3);
        row<T>("7-byte reply", [](T &m) { return m.lGetRFAtten(0); }, hex("7B A9 00 00 00 00 00 7D"), answer(klr(0xB4).left(7)), -2, nullptr, "LModule::lSetInterface: m_RecvLen error 7");
        row<T>("9-byte reply", [](T &m) { return m.lGetRFAtten(0); }, hex("7B A9 00 00 00 00 00 7D"), answer(klr(0xB4) + "}"), -2, nullptr, "LModule::lSetInterface: m_RecvLen error 9");
        row<T>("query work mode: byte 6 only", [](T &m) { return m.lGetWorkMode(0); }, hex("7B A8 00 00 00 00 00 7D"), answer(klr(0xB3, hex("AABBCC01"))), 1);
        row<T>("query rf att", [](T &m) { return m.lGetRFAtten(0); }, hex("7B A9 00 00 00 00 00 7D"), answer(klr(0xB4, hex("0000001E"))), 30);
        row<T>("query code echoed", [](T &m) { return m.lGetFreq(0); }, hex("7B A7 00 00 00 00 00 7D"), answer(klr(0xA7, hex("0016E360"))), 0);
    }
    // clang-format on
    void klrProtocol() { runRow<KLRLModule>(8, &KLRLModule::lOpenUart); }

    // The only rows here that wait out the 1000 ms reply time-out.
    void silentCards()
    {
        PtyPeer fe10(10);
        JQFLModule jq;
        VNLModule vn;
        jq.lOpenUart(fe10.path());
        QCOMPARE(jq.lGetFreq(0), -1);
        vn.lOpenUart(fe10.path());
        QCOMPARE(vn.lGetType(0), -1);

        PtyPeer card(8);
        KLRLModule klr;
        klr.lOpenUart(card.path());
        card.answer({CardReply::klr(0xB2, hex("0016E360"))});
        QCOMPARE(klr.lGetFreq(0), 1500000);
        card.answer({});
        LogCapture log;
        // No reply: the previous reply must not be decoded again.
        QCOMPARE(klr.lGetFreq(0), -2);
        QVERIFY(log.contains(QStringLiteral("LModule::lSetInterface: m_RecvLen error 0")));
    }

    // clang-format off
    void jqCardFour_data()
    {
        columns();
        using T = JQCardFour;
        const auto card = echo(10, {{JQFrame::InputPower, hex("fc18")}, {JQFrame::RFAtten, hex("15")}, {JQFrame::IFAdjustAtten, hex("0a")}});
        row<T>("freq lower bound", [](T &c) { return c.SetFreq(0, 950000); }, jqSet(2, 950000, 0), card, 1);
        row<T>("freq upper bound", [](T &c) { return c.SetFreq(3, 2150000); }, jqSet(2, 2150000, 3), card, 1);
        row<T>("freq below", [](T &c) { return c.SetFreq(0, 949999); }, {}, card, 0, nullptr, "error: JQCardFour SetFreq,freq overflow, freq_KHz =  949999");
        row<T>("freq above", [](T &c) { return c.SetFreq(0, 2150001); }, {}, card, 0, nullptr, "error: JQCardFour SetFreq,freq overflow, freq_KHz =  2150001");
        row<T>("gain 40 mode 0: RF 20", [](T &c) { return c.SetGain(1, 40, 0); }, jqSet(8, 20, 1), card, 1);
        row<T>("gain 40 mode 1: IF adjust 30", [](T &c) { return c.SetGain(1, 40, 1); }, jqSet(10, 30, 1), card, 1);
        row<T>("gain 41 mode 1 truncates", [](T &c) { return c.SetGain(1, 41, 1); }, jqSet(10, 30, 1), card, 1);
        row<T>("gain 61 mode 0", [](T &c) { return c.SetGain(1, 61, 0); }, {}, card, 1, nullptr, "rfAtt overflow");
        row<T>("gain 100 mode 1: IF adjust 0", [](T &c) { return c.SetGain(1, 100, 1); }, jqSet(10, 0, 1), card, 1);
        row<T>("gain 101", [](T &c) { return c.SetGain(1, 101, 1); }, {}, card, 0);
        row<T>("gain -1", [](T &c) { return c.SetGain(1, -1, 0); }, {}, card, 0);
        row<T>("gain mode 2 sends nothing", [](T &c) { return c.SetGain(1, 40, 2); }, {}, card, 1);
        row<T>("reference on channel byte 0", [](T &c) { return c.SetRefType(2, 1); }, jqSet(11, 1, 0), card, 1);
        row<T>("reference 7 refused below", [](T &c) { return c.SetRefType(2, 7); }, {}, card, 1, "error: JQFLModule::lSetClkSelect param val overflow\n");
        row<T>("work mode 5 refused below", [](T &c) { return c.SetWorkMode(0, 5); }, {}, card, 1);
        row<T>("work mode 1", [](T &c) { return c.SetWorkMode(2, 1); }, jqSet(7, 1, 2), card, 1);
        row<T>("output select 1", [](T &c) { return c.SetIFOutputSelect(3, 1); }, jqSet(12, 1, 3), card, 1);
        row<T>("output select 2", [](T &c) { return c.SetIFOutputSelect(3, 2); }, {}, card, 0, nullptr, "outFreq overflow");
        row<T>("output select -1", [](T &c) { return c.SetIFOutputSelect(3, -1); }, {}, card, 0, nullptr, "outFreq overflow");
        row<T>("power in hundredths", [](T &c) { int v = 0; return c.GetInputPower(1, v) && v == -10; }, jqQuery(13, 1), card, 1);
        row<T>("rf att is code 8", [](T &c) { int v = 0; return c.GetRFAttenuation(2, v) && v == 21; }, jqQuery(8, 2), card, 1);
        row<T>("if att is code 10", [](T &c) { int v = 0; return c.GetIFAttenuation(2, v) && v == 10; }, jqQuery(10, 2), card, 1);
        row<T>("ref read on ch 0", [](T &c) { int v = 0; return c.GetRefType(3, v); }, jqQuery(11, 0), card, 1);
    }
    // clang-format on
    void jqCardFour() { runRow<JQCardFour>(10, &JQCardFour::Open); }

    // clang-format off
    void jqCardTwo_data()
    {
        columns();
        using T = JQCardTwo;
        const auto card = echo(10, {{JQFrame::RFAtten, hex("28")}, {JQFrame::IFAtten, hex("27")}});
        row<T>("gain 0", [](T &c) { return c.SetGain(0, 0, 0); }, jqSet(9, 60, 0) + jqSet(8, 60, 0), card, 1);
        row<T>("gain 40: RF only", [](T &c) { return c.SetGain(0, 40, 0); }, jqSet(9, 60, 0) + jqSet(8, 20, 0), card, 1);
        row<T>("gain 41: IF takes over", [](T &c) { return c.SetGain(0, 41, 0); }, jqSet(9, 39, 0) + jqSet(8, 40, 0), card, 1);
        row<T>("mode is ignored", [](T &c) { return c.SetGain(1, 41, 7); }, jqSet(9, 39, 1) + jqSet(8, 40, 1), card, 1);
        row<T>("gain 80", [](T &c) { return c.SetGain(0, 80, 1); }, jqSet(9, 0, 0) + jqSet(8, 40, 0), card, 1);
        row<T>("gain 81", [](T &c) { return c.SetGain(0, 81, 0); }, {}, card, 0, nullptr, "error: JQCardTwo SetGain,freq overflow, ifAtt =  -1");
        row<T>("gain 101", [](T &c) { return c.SetGain(0, 101, 0); }, {}, card, 0);
        row<T>("freq below", [](T &c) { return c.SetFreq(0, 949999); }, {}, card, 0, nullptr, "error: JQCardTwo SetFreq,freq overflow, freq_KHz =  949999");
        row<T>("select is code 16", [](T &c) { return c.SetIFOutputSelect(1, 1); }, jqSet(16, 1, 1), card, 1);
        row<T>("output select 2", [](T &c) { return c.SetIFOutputSelect(1, 2); }, {}, card, 0, nullptr, "outFreq overflow");
        row<T>("ref read on ch 0", [](T &c) { int v = 0; return c.GetRefType(1, v); }, jqQuery(11, 0), card, 1);
        row<T>("gain of RF 40, IF 39", [](T &c) { int v = 0; return c.GetGain(1, v) && v == 41; }, jqQuery(8, 1) + jqQuery(9, 1), card, 1);
        row<T>("band read is code 16", [](T &c) { int v = 0; return c.GetIFOutputSelect(1, v); }, jqQuery(16, 1), card, 1);
    }
    // clang-format on
    void jqCardTwo() { runRow<JQCardTwo>(10, &JQCardTwo::Open); }

    // clang-format off
    void vnCard_data()
    {
        columns();
        using T = VNCard;
        const auto card = echo(10, {{VNFrame::Gain, hex("0a")}, {VNFrame::Temperature, hex("00fd")}});
        row<T>("freq lower bound", [](T &c) { return c.SetFreq(0, 20000); }, vnSet(2, 20000, 0), card, 1);
        row<T>("freq upper bound", [](T &c) { return c.SetFreq(1, 3000000); }, vnSet(2, 3000000, 1), card, 1);
        row<T>("freq below", [](T &c) { return c.SetFreq(0, 19999); }, {}, card, 0, nullptr, "error: VNCard SetFreq,freq overflow, freq_KHz =  19999");
        row<T>("freq above", [](T &c) { return c.SetFreq(0, 3000001); }, {}, card, 0, nullptr, "error: VNCard SetFreq,freq overflow, freq_KHz =  3000001");
        row<T>("gain 0 is code 90", [](T &c) { return c.SetGain(0, 0); }, vnSet(5, 90, 0), card, 1);
        row<T>("gain 80 is code 10", [](T &c) { return c.SetGain(2, 80); }, vnSet(5, 10, 2), card, 1);
        row<T>("gain 81", [](T &c) { return c.SetGain(0, 81); }, {}, card, 0, nullptr, "error: VNCard SetGain,freq overflow, gain =  81");
        row<T>("output select 1", [](T &c) { return c.SetIFOutputSelect(0, 1); }, vnSet(12, 1, 0), card, 1, nullptr, "1111111111 SetIFOutputSelect outfreq = 1");
        row<T>("output select 2", [](T &c) { return c.SetIFOutputSelect(0, 2); }, {}, card, 0, nullptr, "outFreq overflow");
        row<T>("gain read back", [](T &c) { unsigned u = 0; return c.GetGain(0, u) && u == 80; }, hex("fe 01 05 00 00 00 00 00 04 fa"), card, 1);
        row<T>("temp raw", [](T &c) { double t = 0; return c.GetTemperature(0, t) && t == 253.0; }, hex("fe 01 0d 00 00 00 00 00 0c fa"), card, 1);
    }
    // clang-format on
    void vnCard() { runRow<VNCard>(10, &VNCard::Open); }

    // clang-format off
    void klrCard_data()
    {
        columns();
        using T = KLRCard;
        const auto card = echo(8, {{KLRFrame::GetFreq, hex("0016e360")}});
        // Every set command is followed by the card's 100 ms: a gain is two.
        row<T>("gain 10 mode 0", [](T &c) { return c.SetGain(0, 10, 0); }, klrFrame(0xA4, 20, 0) + klrFrame(0xA5, 0, 0), card, 1, nullptr, nullptr, 200);
        row<T>("gain 20 mode 1", [](T &c) { return c.SetGain(1, 20, 1); }, klrFrame(0xA4, 25, 1) + klrFrame(0xA5, 0, 1), card, 1);
        row<T>("gain 10 mode 1", [](T &c) { return c.SetGain(1, 10, 1); }, klrFrame(0xA4, 30, 1) + klrFrame(0xA5, 5, 1), card, 1);
        row<T>("gain 14 mode 1: RF 30 and IF 1", [](T &c) { return c.SetGain(1, 14, 1); }, klrFrame(0xA4, 30, 1) + klrFrame(0xA5, 1, 1), card, 1);
        row<T>("gain 31 mode 0", [](T &c) { return c.SetGain(0, 31, 0); }, klrFrame(0xA5, 0, 0), card, 1, nullptr, "error: KLRCard SetRFAttenuation,freq overflow, rfAtt =  -1");
        row<T>("gain -6 mode 1", [](T &c) { return c.SetGain(0, -6, 1); }, klrFrame(0xA4, 30, 0), card, 1, nullptr, "error: KLRCard SetIFAttenuation,freq overflow, ifAtt =  21");
        row<T>("gain mode 2", [](T &c) { return c.SetGain(0, 10, 2); }, {}, card, 1);
        row<T>("freq upper bound", [](T &c) { return c.SetFreq(2, 6000000); }, klrFrame(0xA2, 6000000, 2), card, 1, nullptr, nullptr, 100);
        row<T>("freq lower bound", [](T &c) { return c.SetFreq(2, 20000); }, klrFrame(0xA2, 20000, 2), card, 1, nullptr, nullptr, 100);
        row<T>("freq below", [](T &c) { return c.SetFreq(2, 19999); }, {}, card, 0, nullptr, "error: KLRCard SetFreq,freq overflow, freq_KHz =  19999");
        row<T>("rf att 30", [](T &c) { return c.SetRFAttenuation(1, 30); }, klrFrame(0xA4, 30, 1), card, 1, nullptr, nullptr, 100);
        row<T>("rf att 31", [](T &c) { return c.SetRFAttenuation(1, 31); }, {}, card, 0, nullptr, "error: KLRCard SetRFAttenuation,freq overflow, rfAtt =  31");
        row<T>("if att 20", [](T &c) { return c.SetIFAttenuation(1, 20); }, klrFrame(0xA5, 20, 1), card, 1, nullptr, nullptr, 100);
        row<T>("if att 21", [](T &c) { return c.SetIFAttenuation(1, 21); }, {}, card, 0, nullptr, "error: KLRCard SetIFAttenuation,freq overflow, ifAtt =  21");
        row<T>("freq above", [](T &c) { return c.SetFreq(2, 6000001); }, {}, card, 0, nullptr, "error: KLRCard SetFreq,freq overflow, freq_KHz =  6000001");
        row<T>("band 1 refused below", [](T &c) { return c.SetBandWidth(0, 1); }, {}, card, 1, nullptr, "SetBandWidth bw =  1");
        row<T>("work mode 2 refused below", [](T &c) { return c.SetWorkMode(0, 2); }, {}, card, 1, nullptr, "SetWorkMode ret = true");
        row<T>("work mode 1", [](T &c) { return c.SetWorkMode(3, 1); }, klrFrame(0xA3, 1, 3), card, 1, nullptr, "SetWorkMode mode =  1");
        row<T>("freq read", [](T &c) { unsigned u = 0; return c.GetFreq(1, u) && u == 1500000; }, klrFrame(0xA7, 0, 1), card, 1, nullptr, "GetFreq val =  1500000");
    }
    // clang-format on
    void klrCard() { runRow<KLRCard>(8, &KLRCard::Open); }

    // What the read-back flow makes of each model's answers: keys, 'f' and
    // 'g' formats, units, the gain each model computes, and the input power,
    // which the card gives in hundredths of a dB and the driver truncates.
    // clang-format off
    void readBackReport_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<CardValues>("values");
        QTest::addColumn<QString>("report");
        const QByteArray mhz1500 = hex("16e360"); // kHz, from byte 3
        const QByteArray klr1500 = hex("0016e360"); // kHz in bytes 3..6
        QTest::newRow("VN2810") << "VN2810" << CardValues{{2, mhz1500}, {5, hex("0a")}, {13, hex("00fd")}, {12, hex("01")}, {16, hex("02")}} << "ch=1 freq=1500.000 gain=40.0 temp=25.3 outfreq=1 hardch=2";
        QTest::newRow("JQ5140 mode 0: RF attenuation in half dB") << "JQ5140" << CardValues{{2, mhz1500}, {0x80, hex("012c")}, {8, hex("15")}, {13, hex("fc18")}, {11, hex("01")}, {12, hex("01")}} << "ch=1 freq=1500.000 temp=30 workmode=0 ref=1 power=-10 gain=19.5 outfreq=1";
        QTest::newRow("JQ5140 mode 1: IF adjust in dB") << "JQ5140" << CardValues{{7, hex("01")}, {10, hex("0a")}, {0x80, hex("0131")}, {13, hex("0096")}} << "ch=1 freq=0.000 temp=30.5 workmode=1 ref=0 power=1 gain=40 outfreq=0";
        QTest::newRow("JQ5120") << "JQ5120" << CardValues{{2, hex("0e7ef0")}, {8, hex("28")}, {9, hex("27")}, {16, hex("01")}} << "freq=950.000 ref=0 band=1 gain=20.5";
        QTest::newRow("KLR620 mode 0: 30 less both attenuations") << "KLR620" << CardValues{{0xA7, klr1500}, {0xA9, hex("0000000a")}, {0xAA, hex("00000005")}, {0xAC, hex("00000003")}, {0xAB, hex("00000081")}} << "ch=1 freq=1500.000 workmode=0 gain=15 band=3 warning=129";
        QTest::newRow("KLR620 mode 1: 45 less both attenuations") << "KLR620" << CardValues{{0xA8, hex("00000001")}, {0xA9, hex("0000001e")}, {0xAA, hex("00000014")}} << "ch=1 freq=0.000 workmode=1 gain=-5 band=0 warning=0";
    }
    // clang-format on
    void readBackReport()
    {
        QFETCH(QString, model);
        QFETCH(CardValues, values);
        QFETCH(QString, report);
        const int frameSize = model == QLatin1String("KLR620") ? 8 : 10;
        PtyPeer card(frameSize, echo(frameSize, values));
        CmdAgent *agent = CmdAgent::instance();
        agent->openCard(model, card.path());
        const QVariantMap got = agent->readAllParams(model, 1);
        QStringList keys;
        for (const QString &item : report.split(QLatin1Char(' '))) {
            const QString key = item.section(QLatin1Char('='), 0, 0);
            keys << key;
            QCOMPARE(key + QLatin1Char('=') + got.value(key).toString(), item);
        }
        keys.sort();
        QCOMPARE(got.keys(), keys);
        agent->openCard(model, QStringLiteral("/nonexistent/rfcard-closed"));
    }

    // The two reads without a failure branch hand rfcard a number also when
    // the exchange failed (the JQ5140's input power 0, the VN2810's gain 91
    // to 93 half-dB steps); a program that judges the run hears of the
    // failure and of a value no field or card holds. The field's own extremes
    // are values.
    // clang-format off
    void readsWithoutAFailureBranch_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<double>("reading");
        QTest::addColumn<QString>("events"); // kind parameter value, of the faults
        QTest::newRow("power, short reply") << "JQ5140" << "power" << fe(13).left(9) << 0.0 << "BadLength power 9, Implausible power -2";
        QTest::newRow("power, another code") << "JQ5140" << "power" << fe(12) << 0.0 << "WrongCode power 12, Implausible power -3";
        QTest::newRow("power -0.01 dB") << "JQ5140" << "power" << fe(13, hex("ffff")) << 0.0 << "";
        QTest::newRow("power -327.68 dB") << "JQ5140" << "power" << fe(13, hex("8000")) << -327.0 << "";
        QTest::newRow("gain, short reply") << "VN2810" << "gain" << fe(5).left(9) << 92.0 << "BadLength gain 9, Implausible gain 92";
        QTest::newRow("gain, another code") << "VN2810" << "gain" << fe(12) << 93.0 << "WrongCode gain 12, Implausible gain 93";
        QTest::newRow("gain 40 dB") << "VN2810" << "gain" << fe(5, hex("0a")) << 80.0 << "";
    }
    // clang-format on
    void readsWithoutAFailureBranch()
    {
        QFETCH(QString, model);
        QFETCH(QString, key);
        QFETCH(QByteArray, reply);
        QFETCH(double, reading);
        QFETCH(QString, events);
        PtyPeer card(10, answer(reply));
        CmdAgent *agent = CmdAgent::instance();
        agent->openCard(model, card.path());
        QStringList heard;
        RunEvents::setSink([&](const RunEvents::Event &e) {
            static const char *const kinds[]
                = {"PortOpened", "PortFailed", "Refused", "WriteFailed", "NoReply", "BadLength",
                    "WrongCode", "StatusFailed", "UnknownReply", "Applied", "Implausible"};
            if (e.kind != RunEvents::PortOpened)
                heard << QStringLiteral("%1 %2 %3").arg(kinds[e.kind], e.parameter).arg(e.value);
        });
        const CmdAgent::Readings r = agent->takeReadings(model, 1, {key});
        RunEvents::setSink(nullptr);
        QCOMPARE(r.value(key, -1), reading);
        QCOMPARE(heard.join(QLatin1String(", ")), events);
        agent->openCard(model, QStringLiteral("/nonexistent/rfcard-closed"));
    }

    // What rfcard-strict takes for the options a model's driver sends is
    // what the apply flow sends: another value of such an option changes a
    // value sent, another value of any other option changes nothing.
    void optionsSentAreWhatTheFlowSends_data()
    {
        QTest::addColumn<QString>("model");
        for (const char *model : {"JQ5140", "JQ5120", "VN2810", "KLR620"})
            QTest::newRow(model) << QString::fromLatin1(model);
    }
    void optionsSentAreWhatTheFlowSends()
    {
        QFETCH(QString, model);
        const bool klr = model == QLatin1String("KLR620");
        PtyPeer card(klr ? 8 : 10, echo(klr ? 8 : 10, {}));
        CmdAgent *agent = CmdAgent::instance();
        agent->openCard(model, card.path());
        QList<QPair<QString, qint64>> sent;
        RunEvents::setSink([&](const RunEvents::Event &e) {
            if (e.kind == RunEvents::Applied)
                sent << qMakePair(e.parameter, e.value);
        });
        const auto sends = [&](const QVariantMap &params) {
            sent.clear();
            agent->setAllParams(model, 1, params);
            return sent;
        };
        const QVariantMap base{{"freq", "1500000.000"}, {"gain", "10"}, {"gain2", "20"},
            {"outfreq", "70000"}, {"band", klr ? "2" : "0"}, {"ref", "0"}, {"workmode", "0"},
            {"gainmode", "0"}, {"upfreq", "1e+06"}, {"upgain", "0"}};
        const QVariantMap other{{"freq", "1600000.000"}, {"gain", "12"}, {"gain2", "24"},
            {"outfreq", model == QLatin1String("JQ5140") ? "140000" : "21400"},
            {"band", klr ? "3" : "1"}, {"ref", "1"}, {"workmode", "1"}, {"gainmode", "1"},
            {"upfreq", "2e+06"}, {"upgain", "5"}};
        const auto before = sends(base);
        QVERIFY(!before.isEmpty());
        for (const QString &option : CmdAgent::channelOptions()) {
            QVariantMap changed = base;
            for (const QString &key : {option, option + QLatin1Char('2')}) // gain: and gain2
                changed.insert(key, other.value(key, base.value(key)));
            QVERIFY2((sends(changed) != before) == CmdAgent::optionsSent(model).contains(option),
                qPrintable(option));
        }
        RunEvents::setSink(nullptr);
        agent->openCard(model, QStringLiteral("/nonexistent/rfcard-closed"));
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
        // clang-format off
        const std::pair<std::function<bool()>, const char *> rows[] = {
            {[&] { return four.SetWorkMode(0, 0); }, "error: JQCardFour SetWorkMode, card not opened"},
            {[&] { return four.SetGain(0, 0, 0); }, "error: JQCardFour SetGain, card not opened"},
            {[&] { return four.GetInputPower(0, i); }, "error: JQCardFour GetInputPower, card not opened"},
            {[&] { return four.GetTemperature(0, d); }, "error: JQCardFour GetTemperature, card not opened"},
            {[&] { return two.SetIFOutputSelect(0, 0); }, "error: JQCardTwo SetIFOutputSelect, card not opened"},
            {[&] { return two.GetGain(0, i); }, "error: JQCardTwo GetGain, card not opened"},
            {[&] { return vn.SetFreq(0, 1000000); }, "error: VNCard SetFreq, card not opened"},
            {[&] { return vn.GetGain(0, u); }, "error: VNCard GetGain, card not opened"},
            {[&] { return vn.GetType(0, u); }, "error: VNCard GetType, card not opened"},
            {[&] { return klr.SetBandWidth(0, 2); }, "error: KLRCard SetBandWidth, card not opened"},
            {[&] { return klr.GetWarning(0, u); }, "error: KLRCard GetWarning, card not opened"},
            {[&] { return klr.GetFreq(0, u); }, "error: KLRCard GetFreq, card not opened"},
        };
        // clang-format on
        for (const auto &row : rows) {
            LogCapture log;
            QVERIFY2(!row.first(), row.second);
            QVERIFY2(log.critical() == QStringList{QString::fromUtf8(row.second)}, row.second);
        }
        LogCapture log;
        QVERIFY(!klr.GetFreq(0, u));
        QCOMPARE(log.lines().value(0), QStringLiteral("GetFreq 111111111111 false"));
        // The KLR gain is two setters, each with its own line; it still says true.
        QVERIFY(klr.SetGain(0, 10, 0));
        QVERIFY(log.contains(QStringLiteral("error: KLRCard SetRFAttenuation, card not opened")));
        QVERIFY(log.contains(QStringLiteral("error: KLRCard SetIFAttenuation, card not opened")));
    }

    // A card opened on a port that is not there: every exchange fails at the
    // write (-4), setters still say true, reads fail with their lines, and
    // the two reads without a failure branch hand back what the failure code
    // makes of them. A KLR620 set command passes the write's -4 on.
    void deadPort()
    {
        JQCardFour four;
        VNCard vn;
        KLRLModule klr;
        four.Open(QStringLiteral("/nonexistent/rfcard-card-port"));
        vn.Open(QStringLiteral("/nonexistent/rfcard-card-port"));
        LogCapture log;
        int i = 7;
        unsigned u = 7;
        double d = 7;
        QVERIFY(four.SetFreq(0, 1500000));
        QVERIFY(!four.GetFreq(0, i));
        QCOMPARE(i, 7);
        QVERIFY(log.contains(QStringLiteral("JQFLModule::lSetInterface Ret error: -4")));
        QVERIFY(log.contains(QStringLiteral("error: JQCardFour GetFreq Query failed, val =   -1")));
        QCOMPARE(klr.lGetFreq(0), -1);
        QCOMPARE(klr.lSetFreq(1000000, 0), -4);
        QVERIFY(log.contains(QStringLiteral("KLRLModule::lSetInterface Ret error: -4")));
        QVERIFY(four.GetInputPower(0, i));
        QCOMPARE(i, 0);
        QVERIFY(!four.GetTemperature(0, d));
        QVERIFY(log.contains(
            QStringLiteral("error: JQCardFour GetTemperature Query failed, val =   -1")));
        QVERIFY(vn.SetFreq(0, 1500000));
        QVERIFY(log.contains(QStringLiteral("VNLModule::lSetInterface Ret error: -4")));
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
