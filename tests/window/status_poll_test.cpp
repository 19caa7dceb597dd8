// The status poll on the simulated board: status panels, the channel pages by mode, the
// correction of the board's clock, and a tick without a board.

#include <QLabel>
#include <QLocale>
#include <stdexcept>

#include "window_fixture.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::Bytes;
using quelvan::test::WindowFixture;

namespace {

// Report-1 writes that set the clock (its minute byte is not the "leave unchanged" mark).
std::vector<Bytes> ClockWrites(const WindowFixture& f) {
    std::vector<Bytes> writes;
    for (const Bytes& b : f.Sets("board", report::kLiveState))
        if (b[report::kClockMinuteByte] != report::kKeepMinute) writes.push_back(b);
    return writes;
}

}  // namespace

class StatusPollTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void panelsShowClockModeAndPower_data() {
        QTest::addColumn<QList<int>>("time");  // hour, minute, second
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("millivolts");
        QTest::addColumn<int>("temperature");  // 0.1 °C; 0x7FFF: no sensor
        QTest::addColumn<QStringList>("panels");
        QTest::newRow("manual") << QList<int>{7, 5, 9} << 0 << 11850 << 253
                                << QStringList{"07:05:09 Uhr", "Manuell", "11,85 Volt, 25,3 °C"};
        QTest::newRow("no sensor") << QList<int>{23, 59, 0} << 1 << 12000 << 0x7FFF
                                   << QStringList{"23:59:00 Uhr", "Auto", "12 Volt"};
        QTest::newRow("whole degrees") << QList<int>{0, 0, 0} << 2 << 12000 << 250
                                       << QStringList{"00:00:00 Uhr", "Demo", "12 Volt, 25,0 °C"};
        QTest::newRow("below zero") << QList<int>{12, 30, 45} << 3 << 9870 << -45
                                    << QStringList{"12:30:45 Uhr", "Flash", "9,87 Volt, -4,5 °C"};
        QTest::newRow("slave") << QList<int>{9, 9, 9} << 4 << 5500 << 1000
                               << QStringList{"09:09:09 Uhr", "Slave", "5,5 Volt, 100,0 °C"};
    }
    void panelsShowClockModeAndPower() {
        QFETCH(QList<int>, time);
        QFETCH(int, mode);
        QFETCH(int, millivolts);
        QFETCH(int, temperature);
        QFETCH(QStringList, panels);
        WindowFixture f;
        sim::SimulatedBoard& board = f.backend.Board();
        board.MutableSettings().temperatureSensor = temperature != kNoTemperatureSensor;
        board.Config().TimeLapse = 2;  // no clock correction here
        board.Config().Mode = static_cast<std::uint8_t>(mode);
        board.Live().ClockHour = static_cast<std::int8_t>(time[0]);
        board.Live().ClockMinute = static_cast<std::int8_t>(time[1]);
        board.Live().ClockSecond = static_cast<std::int8_t>(time[2]);
        board.Live().SupplyVoltage = static_cast<std::uint16_t>(millivolts);
        board.Live().Temperature = static_cast<std::int16_t>(temperature);
        f.Discover();
        for (int panel = 1; panel <= 3; ++panel) QCOMPARE(f.Panel(panel), panels[panel - 1]);
        QCOMPARE(f.Page("tsChannelsAF")->isEnabled(), mode == 0);
        QCOMPARE(f.Page("tsChannelsGL")->isEnabled(), mode == 0);
        // Feedback: greyed-out channel pages say why and how to change it, in text that is
        // not greyed out itself.
        for (const char* name : {"lblModeHintAF", "lblModeHintGL"}) {
            auto* note = f.window->findChild<QLabel*>(name);
            QVERIFY2(note, name);
            QCOMPARE(!note->isHidden(), mode != 0);
            QCOMPARE(note->text(), QStringLiteral("Nur im Modus „Manuell“ änderbar (Menü „Optionen“ › „Manuell“)"));
            QCOMPARE(note->palette().color(QPalette::Disabled, QPalette::WindowText),
                     note->palette().color(QPalette::Active, QPalette::WindowText));
        }
    }

    void unknownModeKeepsPanelAndLocksChannelPages() {
        WindowFixture f;
        f.backend.Board().Config().Mode = 0;
        f.Discover();
        QCOMPARE(f.Panel(2), QStringLiteral("Manuell"));
        QVERIFY(f.Page("tsChannelsAF")->isEnabled());

        f.backend.Board().Config().Mode = 7;
        f.window->tmrQuelvanTimer();
        QCOMPARE(f.Panel(2), QStringLiteral("Manuell"));
        QVERIFY(!f.Page("tsChannelsAF")->isEnabled());
        QVERIFY(!f.Page("tsChannelsGL")->isEnabled());
        // The rows keep their own state: usable again as soon as the mode is 0 again.
        QWidget* trb0 = f.window->findChild<QWidget*>("trb0");
        QVERIFY(!trb0->isEnabled());
        auto* note = f.window->findChild<QLabel*>("lblModeHintAF");
        QVERIFY(!note->isHidden());
        f.backend.Board().Config().Mode = 0;
        f.window->tmrQuelvanTimer();
        QVERIFY(trb0->isEnabled());
        QCOMPARE(f.Panel(2), QStringLiteral("Manuell"));
        QVERIFY(note->isHidden());
        // Without a board the note would not hold.
        f.backend.Board().Config().Mode = 1;
        f.window->tmrQuelvanTimer();
        QVERIFY(!note->isHidden());
        f.backend.Unplug();
        f.Discover();
        QVERIFY(!f.window->BoardDevice());
        QVERIFY(note->isHidden());
    }

    // The board's clock against the computer's 12:00:00 (plus the given milliseconds).
    void clockIsCorrectedOnlyInItsWindow_data() {
        QTest::addColumn<QList<int>>("board");
        QTest::addColumn<QList<int>>("computer");  // hour, minute, second, millisecond
        QTest::addColumn<int>("timeLapse");
        QTest::addColumn<bool>("corrected");
        QTest::newRow("4 s ahead") << QList<int>{12, 0, 4} << QList<int>{12, 0, 0, 0} << 1 << false;
        QTest::newRow("5 s ahead") << QList<int>{12, 0, 5} << QList<int>{12, 0, 0, 0} << 1 << true;
        QTest::newRow("8 s ahead") << QList<int>{12, 0, 8} << QList<int>{12, 0, 0, 0} << 1 << true;
        QTest::newRow("8 s behind") << QList<int>{11, 59, 52} << QList<int>{12, 0, 0, 0} << 1 << true;
        QTest::newRow("4 s behind") << QList<int>{11, 59, 56} << QList<int>{12, 0, 0, 0} << 1 << false;
        QTest::newRow("60 s ahead") << QList<int>{12, 1, 0} << QList<int>{12, 0, 0, 0} << 1 << true;
        QTest::newRow("61 s ahead") << QList<int>{12, 1, 1} << QList<int>{12, 0, 0, 0} << 1 << false;
        QTest::newRow("61 s behind") << QList<int>{11, 58, 59} << QList<int>{12, 0, 0, 0} << 1 << false;
        QTest::newRow("time lapse 2") << QList<int>{12, 0, 8} << QList<int>{12, 0, 0, 0} << 2 << false;
        QTest::newRow("time lapse 0") << QList<int>{12, 0, 8} << QList<int>{12, 0, 0, 0} << 0 << false;
        QTest::newRow("across midnight") << QList<int>{23, 59, 58} << QList<int>{0, 0, 3, 0} << 1 << false;
        // 12:00:03.500 rounds to 12:00:04 (half to even): the board at :08 is 4 s off.
        QTest::newRow("half second to even") << QList<int>{12, 0, 8} << QList<int>{12, 0, 3, 500} << 1 << false;
        // 12:00:02.500 rounds to 12:00:02: the board at :07 is 5 s off.
        QTest::newRow("half second down") << QList<int>{12, 0, 7} << QList<int>{12, 0, 2, 500} << 1 << true;
    }
    void clockIsCorrectedOnlyInItsWindow() {
        QFETCH(QList<int>, board);
        QFETCH(QList<int>, computer);
        QFETCH(int, timeLapse);
        QFETCH(bool, corrected);
        WindowFixture f;
        f.clock.SetTimeOfDay(computer[0], computer[1], computer[2], computer[3]);
        sim::SimulatedBoard& b = f.backend.Board();
        b.Config().TimeLapse = static_cast<std::uint8_t>(timeLapse);
        b.Live().ClockHour = static_cast<std::int8_t>(board[0]);
        b.Live().ClockMinute = static_cast<std::int8_t>(board[1]);
        b.Live().ClockSecond = static_cast<std::int8_t>(board[2]);
        f.Discover();  // runs the first tick

        const std::vector<Bytes> writes = ClockWrites(f);
        QCOMPARE(f.Sets("board", report::kLiveState).size(), writes.size());  // no other live-state writes
        QCOMPARE(writes.size(), std::size_t{corrected ? 1u : 0u});
        if (!corrected) return;
        const Bytes& w = writes.front();
        // Tick (1/25 s), second, minute, hour from the computer; moon transit left alone.
        QCOMPARE(int(w[5]), computer[3] / 40);
        QCOMPARE(int(w[6]), computer[2]);
        QCOMPARE(int(w[7]), computer[1]);
        QCOMPARE(int(w[8]), computer[0]);
        QCOMPARE(int(w[report::kMoonTransitMinuteByte]), 0xFF);
        QCOMPARE(int(b.Live().ClockSecond), computer[2]);
    }

    void tickWithoutBoardEndsQuietly() {
        WindowFixture f;
        f.backend.Board().Config().TimeLapse = 2;
        f.Discover();
        const QStringList panels = {f.Panel(1), f.Panel(2), f.Panel(3)};
        f.backend.Unplug();  // gone, but not yet noticed by discovery
        f.backend.ClearTransfers();
        f.window->tmrQuelvanTimer();
        // Report 1 with its three attempts, then the first configuration read that fails ends
        // that read; the tick goes on and the panels keep their texts.
        QCOMPARE(f.TransferSummary(), (QStringList{"get 1 42", "get 1 42", "get 1 42", "get 2 28"}));
        for (const sim::SimTransfer& t : f.backend.Transfers()) QVERIFY(!t.ok);
        QCOMPARE((QStringList{f.Panel(1), f.Panel(2), f.Panel(3)}), panels);
        QVERIFY(f.window->StatusTimer().isActive());
    }

    void errorInATickEndsOnlyThatTick() {
        WindowFixture f;
        f.Discover();
        const QString before = f.Panel(1);
        int ticks = 0;
        f.window->hooks.refreshSettings = [&] {
            if (++ticks == 1) throw std::runtime_error("a control is missing");
        };
        sim::SimulatedBoard& b = f.backend.Board();
        b.Live().ClockSecond = static_cast<std::int8_t>((b.Live().ClockSecond + 20) % 60);  // 20 s off
        f.backend.ClearTransfers();

        f.window->tmrQuelvanTimer();  // the steps after the error are skipped: no panels, no correction
        QCOMPARE(f.Panel(1), before);
        QVERIFY(ClockWrites(f).empty());
        QVERIFY(f.window->StatusTimer().isActive());

        f.window->tmrQuelvanTimer();  // the next tick runs whole
        QVERIFY(f.Panel(1) != before);
        QCOMPARE(ClockWrites(f).size(), std::size_t{1});
    }

    void timerTicksThroughTheEventLoop() {
        WindowFixture f;
        f.Discover();
        f.backend.ClearTransfers();
        f.backend.Board().Live().ClockSecond = 33;
        QTRY_VERIFY_WITH_TIMEOUT(f.backend.CountTransfers(false, report::kLiveState) >= 1, 3000);
        QTRY_VERIFY(f.Panel(1).endsWith(":33 Uhr"));
    }
};

QUELVAN_WINDOW_TEST(StatusPollTest)
#include "status_poll_test.moc"
