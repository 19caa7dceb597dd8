// The board-clock controls on the configuration page, on the simulated board.

#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSlider>

#include "channel_test_harness.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::Bytes;
using quelvan::test::ChannelHarness;

namespace {

void PrepareBoard(sim::SimulatedBoard& board) {
    LiveState& live = board.Live();
    live.ClockHour = 10;
    live.ClockMinute = 20;
    live.ClockSecond = 30;
    live.ClockTick = 7;
    for (auto& value : live.ChannelValue) value = 1234;
}

// A live-state write that sets the clock only; returns "HH:MM".
QString ClockWrite(const Bytes& buffer) {
    if (buffer.size() != 42) return QStringLiteral("wrong length");
    for (int at = 13; at <= 20; ++at)
        if (buffer[static_cast<std::size_t>(at)] != 0xFF) return QStringLiteral("channels not marked");
    if (buffer[11] != 0xFF) return QStringLiteral("moon transit not marked");
    return QStringLiteral("%1:%2")
        .arg(static_cast<std::int8_t>(buffer[8]), 2, 10, QLatin1Char('0'))
        .arg(static_cast<std::int8_t>(buffer[7]), 2, 10, QLatin1Char('0'));
}

QStringList ClockWrites(const ChannelHarness& h) {
    QStringList times;
    for (const Bytes& buffer : h.Sets(1)) times << ClockWrite(buffer);
    return times;
}

}  // namespace

class ClockControlTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ChannelHarness> h;
    QSlider* trbTime = nullptr;
    QLineEdit* edtTime = nullptr;

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void init() {
        h = std::make_unique<ChannelHarness>(PrepareBoard);
        QVERIFY(h->connected);
        QVERIFY(h->windowActive);
        trbTime = h->Find<QSlider>(QStringLiteral("trbTime"));
        edtTime = h->Find<QLineEdit>(QStringLiteral("edtTime"));
        QVERIFY(trbTime && edtTime);
        QCOMPARE(trbTime->parentWidget(), h->config);
    }
    void cleanup() { h.reset(); }

    void pollShowsClockAndNeverWrites() {
        QCOMPARE(edtTime->text(), QStringLiteral("10:20"));
        QCOMPARE(trbTime->value(), 620);

        h->backend.Board().Live().ClockHour = 7;
        h->backend.Board().Live().ClockMinute = 5;
        h->Poll();
        QCOMPARE(edtTime->text(), QStringLiteral("07:05"));
        QCOMPARE(trbTime->value(), 425);

        // A focused edit keeps its text; the focused bar still follows the board, also to a
        // time it can only show limited to its range.
        QVERIFY(h->Focus(edtTime));
        edtTime->setText(QStringLiteral("typed"));
        struct Time {
            int hour, minute, position;
        };
        for (Time t : {Time{8, 0, 480}, Time{24, 30, 1440}, Time{-1, 10, 0}}) {
            h->backend.Board().Live().ClockHour = static_cast<std::int8_t>(t.hour);
            h->backend.Board().Live().ClockMinute = static_cast<std::int8_t>(t.minute);
            h->Poll();
            QCOMPARE(trbTime->value(), t.position);
        }
        QCOMPARE(edtTime->text(), QStringLiteral("typed"));
        QVERIFY(h->Focus(trbTime));
        h->Poll();
        QCOMPARE(edtTime->text(), QStringLiteral("-01:10"));
        QVERIFY(h->Sets(1).empty());
    }

    void trackBarEndSendsMidnight() {
        QVERIFY(h->Focus(trbTime));
        QTest::keyClick(trbTime, Qt::Key_End);
        QCOMPARE(trbTime->value(), 1440);
        const std::vector<Bytes> sets = h->Sets(1);
        QCOMPARE(sets.size(), std::size_t{1});
        QCOMPARE(ClockWrite(sets[0]), QStringLiteral("24:00"));
        QCOMPARE(int(sets[0][6]), 30);  // seconds and tick as last read
        QCOMPARE(int(sets[0][5]), 7);
        QCOMPARE(edtTime->text(), QStringLiteral("24:00"));

        // Only a position that differs from the clock in the record is sent.
        h->backend.ClearTransfers();
        trbTime->setValue(1439);
        h->board.live.ClockHour = 24;
        h->board.live.ClockMinute = 0;
        trbTime->setValue(1440);
        QCOMPARE(ClockWrites(*h), QStringList{"23:59"});
    }

    void typedTimeSendsClock_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("hour and minute") << "7:5" << QStringList{"07:05"};
        QTest::newRow("leading zeros") << "07:05" << QStringList{"07:00", "07:05"};
        QTest::newRow("no colon") << "715" << QStringList{};
        QTest::newRow("minute missing") << "7:" << QStringList{};
        QTest::newRow("letters") << "ab:cd" << QStringList{};
        // The bar limits 25:00 to its end and sends the 24:00 it shows; the last keystroke
        // gives 25:00 again, which the bar already shows at its end.
        QTest::newRow("beyond the day") << "25:00" << QStringList{"25:00", "24:00", "25:00"};
    }
    void typedTimeSendsClock() {
        QFETCH(QString, typed);
        QFETCH(QStringList, sent);
        QVERIFY(h->Focus(edtTime));
        edtTime->selectAll();
        QTest::keyClicks(edtTime, typed);
        QCOMPARE(ClockWrites(*h), sent);
        QCOMPARE(edtTime->text(), typed);
    }

    void typedTimeShowsAfterFocusLeaves() {
        QVERIFY(h->Focus(edtTime));
        edtTime->selectAll();
        QTest::keyClicks(edtTime, "7:5");
        QCOMPARE(trbTime->value(), 425);
        QVERIFY(h->Focus(trbTime));
        h->backend.Board().Live().ClockHour = 7;  // the board took the time
        h->backend.Board().Live().ClockMinute = 5;
        h->Poll();
        QCOMPARE(edtTime->text(), QStringLiteral("07:05"));
    }

    void nowSendsComputerTime() {
        h->clock.SetTimeOfDay(12, 34, 56, 500);
        QTest::mouseClick(h->Find<QPushButton>(QStringLiteral("btnNow")), Qt::LeftButton);
        const std::vector<Bytes> sets = h->Sets(1);
        QCOMPARE(sets.size(), std::size_t{1});
        QCOMPARE(ClockWrite(sets[0]), QStringLiteral("12:34"));
        QCOMPARE(int(sets[0][6]), 56);
        QCOMPARE(int(sets[0][5]), 12);  // 500 ms is 12.5 ticks: halves go to even
    }
};

QUELVAN_WINDOW_TEST(ClockControlTest)
#include "clock_control_test.moc"
