// The three card protocols over a real pseudo-terminal, row by row: the frame
// each operation puts on the line, how the reply is judged, and the lines it
// writes to standard output and to the log.

#include "capture.h"
#include "cards/jq/jqflmodule.h"
#include "cards/klr/klrlmodule.h"
#include "cards/vn/vnlmodule.h"
#include "protocolcase.h"

#include <QtTest>

using CardReply::fe;
using CardReply::hex;
using CardReply::klr;

namespace {

PtyPeer::Reply answer(const QByteArray &bytes)
{
    return PtyPeer::answer(bytes);
}

// A reply whose card pauses far longer than the agent waits for the rest.
PtyPeer::Reply split(const QByteArray &bytes)
{
    return PtyPeer::pieces(bytes, 4, 150000);
}

const PtyPeer::Reply none;

} // namespace

class TestProtocols : public QObject {
    Q_OBJECT

private slots:
    // clang-format off
    void jqProtocol_data()
    {
        protocolColumns();
        using T = JQFLModule;
        const QByteArray queryFreq0 = hex("fe 01 02 00 00 00 00 00 03 fa");
        protocolRow<T>("set freq", [](T &m) { return m.lSetFreq(1000000, 1); },
            hex("fe 03 02 0f 42 40 00 01 0d fa"), answer(fe(2)), 1, nullptr,
            "createCmd ucbuf \"fe 03 02 0f 42 40 00 01 0d fa\"");
        protocolRow<T>("query freq", [](T &m) { return m.lGetFreq(1); },
            hex("fe 01 02 00 00 00 00 01 02 fa"), answer(fe(2, hex("0f4240"))), 1000000);
        protocolRow<T>("set rf att", [](T &m) { return m.lSetRFAtten(20, 0); },
            hex("fe 03 08 14 00 00 00 00 1f fa"), answer(fe(8)), 1);
        protocolRow<T>("query temperature", [](T &m) { return m.lGetTemperature(2); },
            hex("fe 01 80 00 00 00 00 02 83 fa"), answer(fe(0x80, hex("012c"))), 300);
        protocolRow<T>("ref goes out on ch 0", [](T &m) { return m.lSetClkSelect(1, 3); },
            hex("fe 03 0b 01 00 00 00 00 09 fa"), answer(fe(11)), 1);
        protocolRow<T>("query reference", [](T &m) { return m.lGetClkSelect(); },
            hex("fe 01 0b 00 00 00 00 00 0a fa"), answer(fe(11, hex("01"))), 1);
        protocolRow<T>("freq upper bound", [](T &m) { return m.lSetFreq(2150000, 0); },
            hex("fe 03 02 20 ce 70 00 00 9f fa"), answer(fe(2)), 1);
        protocolRow<T>("freq above", [](T &m) { return m.lSetFreq(2150001, 0); },
            {}, none, -2, nullptr, "error: lSetFreq param val overflow");
        protocolRow<T>("freq below", [](T &m) { return m.lSetFreq(94999, 0); },
            {}, none, -2, nullptr, "error: lSetFreq param val overflow");
        protocolRow<T>("freq lower bound", [](T &m) { return m.lSetFreq(95000, 0); },
            hex("fe 03 02 01 73 18 00 00 6b fa"), answer(fe(2)), 1);
        protocolRow<T>("work mode 2", [](T &m) { return m.lSetWorkMode(2, 0); }, {}, none, -2);
        protocolRow<T>("work mode 1", [](T &m) { return m.lSetWorkMode(1, 2); },
            hex("fe 03 07 01 00 00 00 02 07 fa"), answer(fe(7)), 1);
        protocolRow<T>("output select -1", [](T &m) { return m.lSetIFOutputSelect(-1, 0); },
            {}, none, -2, "error: JQFLModule::lSetIFOutputSelect param val overflow\n");
        protocolRow<T>("output band 2", [](T &m) { return m.lSetIFOutBand(2, 0); },
            {}, none, -2, "error: JQFLModule::lSetIFOutBand param val overflow\n");
        protocolRow<T>("reference 2", [](T &m) { return m.lSetClkSelect(2, 0); },
            {}, none, -2, "error: JQFLModule::lSetClkSelect param val overflow\n");
        protocolRow<T>("rf att 60", [](T &m) { return m.lSetRFAtten(60, 1); },
            hex("fe 03 08 3c 00 00 00 01 36 fa"), answer(fe(8)), 1);
        protocolRow<T>("rf att 61", [](T &m) { return m.lSetRFAtten(61, 0); },
            {}, none, -2, "error: JQFLModule::lSetRFAtten param val overflow\n");
        protocolRow<T>("if att 61", [](T &m) { return m.lSetIFAtten(61, 0); },
            {}, none, -2, "error: JQFLModule::lSetIFAtten param val overflow\n");
        protocolRow<T>("if att 60", [](T &m) { return m.lSetIFAtten(60, 0); },
            hex("fe 03 09 3c 00 00 00 00 36 fa"), answer(fe(9)), 1);
        protocolRow<T>("if adjust 51", [](T &m) { return m.lSetIFAdjustAttenuation(51, 0); },
            {}, none, -2, "error: JQFLModule::lSetIFAdjustAttenuation param val overflow\n");
        protocolRow<T>("if adjust 50", [](T &m) { return m.lSetIFAdjustAttenuation(50, 1); },
            hex("fe 03 0a 32 00 00 00 01 3a fa"), answer(fe(10)), 1);
        protocolRow<T>("output band 1", [](T &m) { return m.lSetIFOutBand(1, 1); },
            hex("fe 03 10 01 00 00 00 01 13 fa"), answer(fe(16)), 1);
        protocolRow<T>("short reply", [](T &m) { return m.lGetFreq(0); },
            queryFreq0, answer(fe(2).left(9)), -2, nullptr,
            "LModule::lSetInterface: m_RecvLen error 9");
        protocolRow<T>("long reply", [](T &m) { return m.lGetFreq(0); },
            queryFreq0, answer(fe(2) + "x"), -2, nullptr,
            "LModule::lSetInterface: m_RecvLen error 11");
        protocolRow<T>("split reply", [](T &m) { return m.lGetFreq(0); },
            queryFreq0, split(fe(2)), -2, nullptr, "LModule::lSetInterface: m_RecvLen error 4");
        protocolRow<T>("other code echoed", [](T &m) { return m.lGetIFAtten(0); },
            hex("fe 01 09 00 00 00 00 00 08 fa"), answer(fe(8)), -3,
            "LModule::RFInterface: Parameter error 08 09\n");
        protocolRow<T>("status 51 still decoded", [](T &m) { return m.lGetFreq(0); },
            queryFreq0, answer(fe(2, hex("0f4240"), 0x51)), 1000000, nullptr,
            "error, uart replay failed code=%02x\n 81");
        protocolRow<T>("status 53 on a set", [](T &m) { return m.lSetWorkMode(0, 0); },
            hex("fe 03 07 00 00 00 00 00 04 fa"), answer(fe(7, {}, 0x53)), 1);
        protocolRow<T>("input power 16 bits", [](T &m) { return m.lGetInputPower(1); },
            hex("fe 01 0d 00 00 00 00 01 0d fa"), answer(fe(13, hex("fc18"))), 0xFC18, nullptr,
            "JQFLModule::lQueryGetParameterValue FC 18 00 00");
        protocolRow<T>("frame edges not checked", [](T &m) { return m.lGetFreq(0); },
            queryFreq0, answer(hex("00 00 02 0f 42 40 00 09 77 00")), 1000000);
    }
    // clang-format on
    void jqProtocol() { runProtocolRow<JQFLModule>(10); }

    // clang-format off
    void vnProtocol_data()
    {
        protocolColumns();
        using T = VNLModule;
        const QByteArray queryFreq0 = hex("FE 01 02 00 00 00 00 00 03 FA");
        protocolRow<T>("set freq", [](T &m) { return m.lSetFreq(1000000, 1); },
            hex("FE 03 02 0F 42 40 00 01 0D FA"), answer(fe(2)), 1);
        protocolRow<T>("set gain code", [](T &m) { return m.lSetGain(50, 0); },
            hex("FE 03 05 32 00 00 00 00 34 FA"), answer(fe(5)), 1, nullptr,
            "111111111 lSetGain val  50");
        protocolRow<T>("gain code low byte", [](T &m) { return m.lSetGain(300, 0); },
            hex("FE 03 05 2C 00 00 00 00 2A FA"), answer(fe(5)), 1);
        protocolRow<T>("output select", [](T &m) { return m.lSetIFOutputSelect(1, 2); },
            hex("FE 03 0C 01 00 00 00 02 0C FA"), answer(fe(12)), 1, nullptr,
            "11111111111 lSetIFOutputSelect val =  1");
        protocolRow<T>("output select 2", [](T &m) { return m.lSetIFOutputSelect(2, 0); },
            {}, none, -2, "error: VNLModule::lSetIFOutputSelect param val overflow\n");
        protocolRow<T>("temperature", [](T &m) { return m.lGetTemperature(2); },
            hex("FE 01 0D 00 00 00 00 02 0E FA"), answer(fe(13, hex("012c"))), 300, nullptr,
            "VNLModule::lQueryGetParameterValue 01 2C 00 00");
        protocolRow<T>("type", [](T &m) { return m.lGetType(0); },
            hex("FE 01 10 00 00 00 00 00 11 FA"), answer(fe(16, hex("05ff"))), 5);
        protocolRow<T>("gain", [](T &m) { return m.lGetGain(3); },
            hex("FE 01 05 00 00 00 00 03 07 FA"), answer(fe(5, hex("0a"))), 10);
        protocolRow<T>("freq upper bound", [](T &m) { return m.lSetFreq(3600000, 0); },
            hex("FE 03 02 36 EE 80 00 00 59 FA"), answer(fe(2)), 1);
        protocolRow<T>("freq above", [](T &m) { return m.lSetFreq(3600001, 0); },
            {}, none, -2, "error: lSetFreq param val overflow\n");
        protocolRow<T>("freq below", [](T &m) { return m.lSetFreq(19999, 0); },
            {}, none, -2, "error: lSetFreq param val overflow\n");
        protocolRow<T>("freq negative", [](T &m) { return m.lSetFreq(-1, 0); },
            {}, none, -2, "error: lSetFreq param val overflow\n");
        protocolRow<T>("9-byte reply", [](T &m) { return m.lGetFreq(0); },
            queryFreq0, answer(fe(2).left(9)), -2, nullptr,
            "LModule::lSetInterface: m_RecvLen error 9");
        protocolRow<T>("11-byte reply", [](T &m) { return m.lGetFreq(0); },
            queryFreq0, answer(fe(2) + "x"), -2, nullptr,
            "LModule::lSetInterface: m_RecvLen error 11");
        protocolRow<T>("other code echoed", [](T &m) { return m.lGetGain(0); },
            hex("FE 01 05 00 00 00 00 00 04 FA"), answer(fe(12)), -3,
            "LModule::RFInterface: Parameter error 0C 05\n");
        protocolRow<T>("status 53 printed, kept", [](T &m) { return m.lGetIFOutputSelect(1); },
            hex("FE 01 0C 00 00 00 00 01 0C FA"), answer(fe(12, hex("01"), 0x53)), 1,
            "error, uart replay failed code=53\n");
        protocolRow<T>("frame edges not checked", [](T &m) { return m.lGetFreq(0); },
            queryFreq0, answer(hex("AA 00 02 0f 42 40 00 07 00 BB")), 1000000);
    }
    // clang-format on
    void vnProtocol() { runProtocolRow<VNLModule>(10); }

    // clang-format off
    void klrProtocol_data()
    {
        protocolColumns();
        using T = KLRLModule;
        protocolRow<T>("set freq", [](T &m) { return m.lSetFreq(1500000, 1); },
            hex("7B A2 01 00 16 E3 60 7D"), none, 1, nullptr, "ready1 =  true");
        protocolRow<T>("band 2", [](T &m) { return m.lSetIFBand(2, 1); },
            hex("7B A6 01 00 00 00 02 7D"), none, 1);
        protocolRow<T>("set band", [](T &m) { return m.lSetIFBand(3, 0); },
            hex("7B A6 00 00 00 00 03 7D"), none, 1, nullptr,
            "createCmd ucbuf \"7b a6 00 00 00 00 03 7d\"");
        protocolRow<T>("query freq", [](T &m) { return m.lGetFreq(2); },
            hex("7B A7 02 00 00 00 00 7D"), answer(klr(0xB2, hex("0016E360"))), 1500000, nullptr,
            "lSetInterface cmd =  0  param_code = 167  param_val =  0 ch = 2");
        protocolRow<T>("query warning", [](T &m) { return m.lGetWarning(0); },
            hex("7B AB 00 00 00 00 00 7D"), answer(klr(0xBA, hex("00000081"))), 0x81);
        protocolRow<T>("unknown reply code", [](T &m) { return m.lGetWorkMode(0); },
            hex("7B A8 00 00 00 00 00 7D"), answer(klr(0xB7, hex("00000005"))), 0);
        protocolRow<T>("freq upper bound", [](T &m) { return m.lSetFreq(6000000, 0); },
            hex("7B A2 00 00 5B 8D 80 7D"), none, 1);
        protocolRow<T>("freq above", [](T &m) { return m.lSetFreq(6000001, 0); },
            {}, none, -2, nullptr, "error: lSetFreq param val overflow");
        protocolRow<T>("freq below", [](T &m) { return m.lSetFreq(19999, 0); },
            {}, none, -2, nullptr, "error: lSetFreq param val overflow");
        protocolRow<T>("band 1", [](T &m) { return m.lSetIFBand(1, 0); },
            {}, none, -2, nullptr, "error: KLRLModule::lSetIFBand param val overflow");
        protocolRow<T>("band 4", [](T &m) { return m.lSetIFBand(4, 0); },
            {}, none, -2, nullptr, "error: KLRLModule::lSetIFBand param val overflow");
        protocolRow<T>("work mode 2", [](T &m) { return m.lSetWorkMode(2, 0); },
            {}, none, -2, nullptr, "error: KLRLModule::lSetWorkMode param val overflow");
        protocolRow<T>("work mode 1", [](T &m) { return m.lSetWorkMode(1, 3); },
            hex("7B A3 03 00 00 00 01 7D"), none, 1);
        protocolRow<T>("rf att unchecked", [](T &m) { return m.lSetRFAtten(200, 0); },
            hex("7B A4 00 00 00 00 C8 7D"), none, 1);
        protocolRow<T>("if att", [](T &m) { return m.lSetIFAtten(5, 1); },
            hex("7B A5 01 00 00 00 05 7D"), none, 1);
        protocolRow<T>("query if att", [](T &m) { return m.lGetIFAtten(1); },
            hex("7B AA 01 00 00 00 00 7D"), answer(klr(0xB5, hex("00000005"))), 5);
        protocolRow<T>("query band", [](T &m) { return m.lGetBandwidth(0); },
            hex("7B AC 00 00 00 00 00 7D"), answer(klr(0xB6, hex("00000003"))), 3);
        protocolRow<T>("7-byte reply", [](T &m) { return m.lGetRFAtten(0); },
            hex("7B A9 00 00 00 00 00 7D"), answer(klr(0xB4).left(7)), -2, nullptr,
            "LModule::lSetInterface: m_RecvLen error 7");
        protocolRow<T>("9-byte reply", [](T &m) { return m.lGetRFAtten(0); },
            hex("7B A9 00 00 00 00 00 7D"), answer(klr(0xB4) + "}"), -2, nullptr,
            "LModule::lSetInterface: m_RecvLen error 9");
    }
    // clang-format on
    void klrProtocol() { runProtocolRow<KLRLModule>(8); }

    void closedPortFailsEveryExchange()
    {
        JQFLModule jq;
        VNLModule vn;
        KLRLModule klr;
        LogCapture log;
        QCOMPARE(jq.lGetFreq(0), -1);
        QVERIFY(log.contains(QStringLiteral("JQFLModule::lSetInterface Ret error: -4")));
        QCOMPARE(vn.lSetFreq(1000000, 0), -1);
        QVERIFY(log.contains(QStringLiteral("VNLModule::lSetInterface Ret error: -4")));
        QCOMPARE(klr.lGetFreq(0), -1);
        QVERIFY(log.contains(QStringLiteral("KLRLModule::lSetInterface Ret error: -4")));
        QCOMPARE(klr.lSetFreq(1000000, 0), -4);
        QCOMPARE(log.critical().size(), 2); // JQ and VN report exchange failures as critical
    }

    // The only rows here that wait out the 1000 ms reply time-out.
    void silentCards()
    {
        ScriptedCard fe10(10);
        JQFLModule jq;
        VNLModule vn;
        jq.lOpenUart(fe10.peer().path());
        QCOMPARE(jq.lGetFreq(0), -1);
        vn.lOpenUart(fe10.peer().path());
        QCOMPARE(vn.lGetType(0), -1);

        ScriptedCard card(8);
        KLRLModule klr;
        klr.lOpenUart(card.peer().path());
        card.answer(PtyPeer::answer(CardReply::klr(0xB2, hex("0016E360"))));
        QCOMPARE(klr.lGetFreq(0), 1500000);
        card.answer(none);
        LogCapture log;
        // No reply: the previous reply must not be decoded again.
        QCOMPARE(klr.lGetFreq(0), -2);
        QVERIFY(log.contains(QStringLiteral("LModule::lSetInterface: m_RecvLen error 0")));
    }
};

QTEST_GUILESS_MAIN(TestProtocols)
#include "tst_protocols.moc"
