// The simulated card on its own: what it accepts as a request, what it
// refuses to answer, how the faults bend an answer, and the USB adapter it
// can play.

#include "ptypeer.h"
#include "sim/simcard.h"
#include "sim/simfaults.h"
#include "simprocess.h"
#include "toolrun.h"

#include <QtTest>

#include <tuple>

using CardReply::hex;

class TestSimCard : public QObject {
    Q_OBJECT

private slots:
    // clang-format off
    void requests_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("jq set freq echoed") << "jq" << hex("fe 03 02 0f 42 40 00 01 0d fa") << hex("fe 00 02 0f 42 40 00 01 0e fa");
        QTest::newRow("jq bad check byte") << "jq" << hex("fe 03 02 0f 42 40 00 01 0c fa") << QByteArray();
        QTest::newRow("jq bad tail") << "jq" << hex("fe 03 02 0f 42 40 00 01 0d fb") << QByteArray();
        QTest::newRow("jq unknown code") << "jq" << hex("fe 01 03 00 00 00 00 00 02 fa") << QByteArray();
        QTest::newRow("jq read-only code cannot be set") << "jq" << hex("fe 03 80 01 00 00 00 00 82 fa") << QByteArray();
        QTest::newRow("jq no such channel") << "jq" << hex("fe 01 02 00 00 00 00 05 06 fa") << hex("fe 51 02 00 00 00 00 05 56 fa");
        QTest::newRow("vn temperature") << "vn" << hex("fe 01 0d 00 00 00 00 02 0e fa") << hex("fe 00 0d 00 fa 00 00 02 f5 fa");
        QTest::newRow("vn jq code unknown") << "vn" << hex("fe 01 07 00 00 00 00 00 06 fa") << QByteArray();
        QTest::newRow("klr set unanswered") << "klr" << hex("7b a2 01 00 16 e3 60 7d") << QByteArray();
        QTest::newRow("klr query") << "klr" << hex("7b ac 02 00 00 00 00 7d") << hex("7b b6 02 00 00 00 02 7d");
        QTest::newRow("klr bad end") << "klr" << hex("7b ac 02 00 00 00 00 7e") << QByteArray();
    }
    // clang-format on
    void requests()
    {
        QFETCH(QString, family);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        SimCard::Family f;
        QVERIFY(SimCard::parseFamily(family, f));
        SimCard card(f);
        QCOMPARE(card.handle(request).reply.toHex(' '), reply.toHex(' '));
    }

    void setIsKeptPerChannelAndInTheState()
    {
        SimCard card(SimCard::Family::KLR);
        QVERIFY(card.handle(hex("7b a2 01 00 16 e3 60 7d")).changed);
        QCOMPARE(card.value("freq", 1), 1500000u);
        QCOMPARE(card.value("freq", 0), 1000000u);
        SimCard again(SimCard::Family::KLR);
        QString error;
        QVERIFY(again.fromJson(card.toJson(), &error));
        QCOMPARE(again.value("freq", 1), 1500000u);
        SimCard other(SimCard::Family::VN);
        QVERIFY(!other.fromJson(card.toJson(), &error));
    }

    void bytesBeforeAFrameAreSetApart()
    {
        SimCard card(SimCard::Family::VN);
        QByteArray buffer = hex("00 11 fe 01 02 00 00 00 00 00 03 fa fe 01");
        QByteArray frame;
        bool garbage = false;
        QVERIFY(card.takeFrame(buffer, frame, garbage));
        QVERIFY(garbage);
        QCOMPARE(frame, hex("00 11"));
        QVERIFY(card.takeFrame(buffer, frame, garbage));
        QVERIFY(!garbage);
        QCOMPARE(frame, hex("fe 01 02 00 00 00 00 00 03 fa"));
        QVERIFY(!card.takeFrame(buffer, frame, garbage));
        QCOMPARE(buffer, hex("fe 01"));
    }

    // clang-format off
    void faultsBendTheAnswer_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        const QByteArray reply = hex("fe 00 02 0f 42 40 00 01 0e fa");
        QTest::newRow("other code untouched") << "no-reply:5" << reply << QByteArray();
        QTest::newRow("no-reply") << "no-reply" << QByteArray() << QByteArray();
        QTest::newRow("short") << "short:2" << reply.left(9) << QByteArray();
        QTest::newRow("long") << "long:0x02" << reply + hex("00") << QByteArray();
        QTest::newRow("wrong-code") << "wrong-code" << hex("fe 00 03 0f 42 40 00 01 0f fa") << QByteArray();
        QTest::newRow("status51") << "status51" << hex("fe 51 02 0f 42 40 00 01 5f fa") << QByteArray();
        QTest::newRow("split") << "split" << reply.left(5) << reply.mid(5);
    }
    // clang-format on
    void faultsBendTheAnswer()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        SimFaults faults;
        QString error;
        QVERIFY(
            faults.add(fault, QStringLiteral("vn"), SimCard(SimCard::Family::VN).codes(), &error));
        const SimFaults::Plan plan
            = faults.apply(2, hex("fe 00 02 0f 42 40 00 01 0e fa"), true, 10);
        QCOMPARE(plan.first.toHex(' '), first.toHex(' '));
        QCOMPARE(plan.second.toHex(' '), second.toHex(' '));
    }

    // clang-format off
    void badFaultsAreRefused_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("fault");
        QTest::newRow("unknown kind") << "vn" << "noreply";
        QTest::newRow("empty code") << "vn" << "short:";
        QTest::newRow("code past a byte") << "vn" << "short:300";
        QTest::newRow("two codes") << "vn" << "split:2:3";
        QTest::newRow("nothing") << "vn" << "";
        QTest::newRow("a code of another family") << "vn" << "short:7";
        QTest::newRow("klr has no status byte") << "klr" << "status51";
        QTest::newRow("klr has no status byte, coded") << "klr" << "status53:0xa7";
    }
    // clang-format on
    void badFaultsAreRefused()
    {
        QFETCH(QString, family);
        QFETCH(QString, fault);
        SimCard::Family f;
        QVERIFY(SimCard::parseFamily(family, f));
        SimFaults faults;
        QString error;
        QVERIFY(!faults.add(fault, family, SimCard(f).codes(), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(faults.isEmpty());
    }

    // A card with keep-old answers a set command exactly as usual (or, a
    // KLR620, not at all) and keeps the value it had; queries are untouched.
    void keepOldAnswersButKeeps()
    {
        for (const auto &c : {std::make_tuple(SimCard::Family::VN, "fe 03 02 0f 42 40 00 01 0d fa",
                                  "fe 01 02 00 00 00 00 01 02 fa"),
                 std::make_tuple(
                     SimCard::Family::KLR, "7b a2 01 00 16 e3 60 7d", "7b a7 01 00 00 00 00 7d")}) {
            SimCard card(std::get<0>(c));
            const QByteArray before = card.handle(hex(std::get<2>(c))).reply;
            const SimCard::Response set = card.handle(hex(std::get<1>(c)), true);
            QVERIFY(set.valid && !set.changed);
            QCOMPARE(set.reply, SimCard(std::get<0>(c)).handle(hex(std::get<1>(c))).reply);
            QCOMPARE(card.handle(hex(std::get<2>(c))).reply, before);
        }
    }

    // --latency plays an adapter whose timer passes replies on only at its
    // ticks: a query asked after one reply came is answered at a later tick,
    // so the replies of a read-back leave at least about a period apart
    // (without it, 2 ms apart). 10 ms are allowed for a late wake-up.
    void latencyHoldsEveryReplyToTheNextTick()
    {
        SimProcess sim(words(QStringLiteral("--family vn --latency 40")));
        ToolRun tool;
        tool.run(QStringList{QStringLiteral("--com"), sim.device()}
            + words(QStringLiteral("--card vn2810 --part 1")));
        QList<int> sent; // milliseconds of the day
        for (const QByteArray &line : sim.stop().split('\n')) {
            if (line.contains(" tx ")) {
                const QTime at = QTime::fromString(
                    QString::fromLatin1(line.left(12)), QStringLiteral("HH:mm:ss.zzz"));
                sent.append(at.msecsSinceStartOfDay());
            }
        }
        QCOMPARE(sent.size(), 5);
        for (int i = 1; i < sent.size(); ++i) {
            const int apart = (sent.at(i) - sent.at(i - 1) + 86400000) % 86400000;
            QVERIFY2(apart >= 30, qPrintable(QStringLiteral("reply %1: %2 ms").arg(i).arg(apart)));
        }
    }
};

QTEST_GUILESS_MAIN(TestSimCard)
#include "tst_simcard.moc"
