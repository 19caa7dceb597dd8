// The settings pages in the connection sequence and the poll: what ShowDeviceConfig shows, the
// radio groups checked by the program, the enabling rules, and a window left alone that sends
// nothing once its first second is over.

#include <QLocale>
#include <QRadioButton>

#include "settings_fixture.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::SettingsFixture;
using quelvan::test::WindowFixture;

namespace {

using Prepare = std::function<void(sim::SimulatedBoard&)>;

}  // namespace

class SettingsConnectionTest : public QObject {
    Q_OBJECT

    static bool Checked(const SettingsFixture& f, const char* name) {
        return f.Control<QRadioButton>(name)->isChecked();
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void leftAloneSendsNothingAfterTheFirstSecond_data() {
        QTest::addColumn<Prepare>("prepare");
        QTest::addColumn<bool>("sensor");
        QTest::newRow("a new board") << Prepare([](sim::SimulatedBoard&) {}) << true;
        QTest::newRow("low stages above high, high panel values") << Prepare([](sim::SimulatedBoard& b) {
            b.Config().FanLow = 200;
            b.Config().FanHigh = 100;
            b.Config().LCDBLMin = 255;
            b.Config().LCDBLMax = 0;
        }) << true;
        QTest::newRow("cooler pin, water fans, no sensor") << Prepare([](sim::SimulatedBoard& b) {
            b.Config().JMPMode = 2;
            b.Config().FanMode = 1;
        }) << false;
        QTest::newRow("values beyond the controls") << Prepare([](sim::SimulatedBoard& b) {
            b.Config().Mode = 7;
            b.Config().JMPMode = 7;
            b.Config().FanMode = 9;
            b.Config().TimeLapse = 255;
            b.Config().CloudP = 65535;
            b.Config().CloudD = 0;
            b.Config().StormD = 1;
            b.Config().FullmoonTransitHour = 200;
            b.Live().MoonTransitHour = 25;  // the track bar can show no more than 24:00
            b.Live().MoonTransitMinute = 30;
        }) << true;
        QTest::newRow("moon transit before midnight") << Prepare([](sim::SimulatedBoard& b) {
            b.Live().MoonTransitHour = -1;
            b.Live().MoonTransitMinute = 10;
        }) << true;
    }
    void leftAloneSendsNothingAfterTheFirstSecond() {
        QFETCH(Prepare, prepare);
        QFETCH(bool, sensor);
        sim::BoardSettings settings;
        settings.temperatureSensor = sensor;
        SettingsFixture f(prepare, settings);
        QVERIFY(f.active);
        f.Tick();  // the tick at 500 ms: the first second is over
        f.backend.ClearTransfers();
        for (int tick = 0; tick < 8; ++tick) f.Tick();
        QCOMPARE(f.SetTransfers(), QStringList{});
        QCOMPARE(f.TransferSummary().size(), 8 * 5);
    }

    void connectionWritesOnlyForTheProgramsOwnChecksAndMoves() {
        // ShowDeviceConfig checks the JMP button (one write); the first tick moves the fan's
        // thumb to FanLow (one write) and checks the fan-mode button (one write). Every
        // write sends the record as read.
        WindowFixture f;
        f.Discover();
        std::vector<quelvan::test::Bytes> part3 = f.Sets("board", report::kConfigPart3);
        QCOMPARE(part3.size(), std::size_t{3});
        const auto board = f.backend.Board().Config().EncodePart3();
        for (const auto& sent : part3) QVERIFY(std::equal(board.begin(), board.end(), sent.begin() + 1));
        QCOMPARE(f.Sets("board", report::kLiveState).size(), std::size_t{0});

        // A second connection finds the buttons checked already and the thumb in place.
        f.backend.Unplug();
        f.Discover();
        f.backend.Plug();
        f.backend.ClearTransfers();
        f.Discover();
        QCOMPARE(f.Sets("board", report::kConfigPart1).size(), std::size_t{0});
    }

    void showDeviceConfigFillsItsFieldsAndChoosesTheStartPage_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("page");
        QTest::newRow("Manuell") << 0 << "tsChannelsAF";
        QTest::newRow("Auto") << 1 << "tsData";
        QTest::newRow("Demo") << 2 << "tsChannelsAF";
        QTest::newRow("unknown") << 9 << "tsChannelsAF";
    }
    void showDeviceConfigFillsItsFieldsAndChoosesTheStartPage() {
        QFETCH(int, mode);
        QFETCH(QString, page);
        SettingsFixture f([mode](sim::SimulatedBoard& b) {
            DeviceConfig& c = b.Config();
            c.Mode = static_cast<std::uint8_t>(mode);
            c.CloudAlpha = 65535;
            c.StormStep = 7;
            c.LightningD = 12345;
            c.LightningColor[11] = 42;
            c.MoonColor[0] = 255;
            c.TempJMPLow = 215;
            c.TempJMPHigh = -35;
            c.TempOffset = -126;
            c.FullmoonTransitHour = 7;
            c.FullmoonTransitMinute = 5;
        });
        QCOMPARE(f.CurrentPage(), f.Page(qPrintable(page)));
        const std::pair<const char*, const char*> shown[] = {
            {"edtCloudAlpha", "65535"},      {"edtStormStep", "7"},      {"edtLightningD", "12345"},
            {"edtLightning11", "42"},        {"edtMoon0", "255"},        {"edtMoon1", "0"},
            {"edtTempJMPLow", "21,5"},       {"edtTempJMPHigh", "-3,5"}, {"edtTempOffset", "-12,6"},
            {"edtFullmoonTransit", "07:05"},
        };
        for (const auto& [name, text] : shown) QCOMPARE(f.Edit(name)->text(), QString::fromUtf8(text));

        // These are not polled: a change on the board shows only with the next ShowDeviceConfig.
        f.backend.Board().Config().CloudAlpha = 1;
        f.Tick();
        QCOMPARE(f.Edit("edtCloudAlpha")->text(), QStringLiteral("65535"));
        f.window->hooks.showDeviceConfig();
        QCOMPARE(f.Edit("edtCloudAlpha")->text(), QStringLiteral("1"));
    }

    void programCheckedJmpButtonRunsItsHandlerOnce_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("edits");
        QTest::newRow("remote learning") << 0 << "rbtJMPIRLearn" << false;
        QTest::newRow("storm") << 1 << "rbtJMPStorm" << false;
        QTest::newRow("cooler") << 2 << "rbtJMPCooler" << true;
        QTest::newRow("heater") << 3 << "rbtJMPHeater" << true;
    }
    void programCheckedJmpButtonRunsItsHandlerOnce() {
        QFETCH(int, mode);
        QFETCH(QString, button);
        QFETCH(bool, edits);
        // Start from another mode, so that the button is not checked before.
        SettingsFixture f([mode](sim::SimulatedBoard& b) { b.Config().JMPMode = mode == 2 ? 3 : 2; });
        f.backend.Board().Config().JMPMode = static_cast<std::uint8_t>(mode);
        f.Tick();
        f.backend.ClearTransfers();
        f.window->hooks.showDeviceConfig();
        QVERIFY(f.Control<QRadioButton>(button)->isChecked());
        const auto writes = f.ConfigWrites();
        QCOMPARE(writes.size(), std::size_t{1});
        QVERIFY(writes[0].complete);
        QCOMPARE(int(writes[0].config.JMPMode), mode);
        QCOMPARE(f.Enabled("edtTempJMPLow"), edits);
        QCOMPARE(f.Enabled("edtTempJMPHigh"), edits);

        // Checked already: showing it again runs nothing.
        f.backend.ClearTransfers();
        f.window->hooks.showDeviceConfig();
        QVERIFY(f.ConfigWrites().empty());
    }

    void unknownJmpModeLeavesTheGroup() {
        SettingsFixture f([](sim::SimulatedBoard& b) { b.Config().JMPMode = 2; });
        QVERIFY(Checked(f, "rbtJMPCooler"));
        f.backend.Board().Config().JMPMode = 7;
        f.Tick();
        f.backend.ClearTransfers();
        f.window->hooks.showDeviceConfig();
        QVERIFY(Checked(f, "rbtJMPCooler"));
        for (const char* other : {"rbtJMPIRLearn", "rbtJMPStorm", "rbtJMPHeater"}) QVERIFY(!Checked(f, other));
        QVERIFY(f.Enabled("edtTempJMPLow"));
        QVERIFY(f.ConfigWrites().empty());
    }

    void userClicksAJmpButton() {
        SettingsFixture f;
        QVERIFY(Checked(f, "rbtJMPIRLearn"));
        QVERIFY(!f.Enabled("edtTempJMPLow"));
        auto* heater = f.Control<QRadioButton>("rbtJMPHeater");
        QVERIFY(f.Focus(heater));
        QTest::mouseClick(heater, Qt::LeftButton, {}, QPoint(4, 4));
        QVERIFY(heater->isChecked());
        QVERIFY(f.Enabled("edtTempJMPLow"));
        QVERIFY(f.Enabled("edtTempJMPHigh"));
        QCOMPARE(f.ConfigWrites().size(), std::size_t{1});
        QCOMPARE(int(f.backend.Board().Config().JMPMode), 3);
        // A click on the checked button changes nothing and writes nothing.
        QTest::mouseClick(heater, Qt::LeftButton, {}, QPoint(4, 4));
        QCOMPARE(f.ConfigWrites().size(), std::size_t{1});
    }

    void fanModeFollowsTheBoardAndTheSensor_data() {
        QTest::addColumn<bool>("sensor");
        QTest::addColumn<int>("fanMode");
        QTest::addColumn<QString>("checked");
        QTest::addColumn<bool>("waterButton");
        QTest::addColumn<bool>("waterEdits");
        QTest::newRow("LED fans") << true << 0 << "rbtFMOLED" << true << false;
        QTest::newRow("water fans") << true << 1 << "rbtFMOWater" << true << true;
        // Without a sensor the button cannot be chosen, but a board in that mode still shows
        // it checked, and its temperatures can still be edited.
        QTest::newRow("water fans, no sensor") << false << 1 << "rbtFMOWater" << false << true;
        QTest::newRow("LED fans, no sensor") << false << 0 << "rbtFMOLED" << false << false;
    }
    void fanModeFollowsTheBoardAndTheSensor() {
        QFETCH(bool, sensor);
        QFETCH(int, fanMode);
        QFETCH(QString, checked);
        QFETCH(bool, waterButton);
        QFETCH(bool, waterEdits);
        sim::BoardSettings settings;
        settings.temperatureSensor = sensor;
        SettingsFixture f(
            [fanMode](sim::SimulatedBoard& b) { b.Config().FanMode = static_cast<std::uint8_t>(fanMode); }, settings);
        for (int tick = 0; tick < 3; ++tick) {
            QVERIFY(f.Control<QRadioButton>(checked)->isChecked());
            QCOMPARE(f.Enabled("rbtFMOWater"), waterButton);
            QVERIFY(f.Enabled("rbtFMOLED"));
            QCOMPARE(f.Enabled("edtTempWaterLow"), waterEdits);
            QCOMPARE(f.Enabled("edtTempWaterHigh"), waterEdits);
            QVERIFY(f.Enabled("edtTempOffset"));
            f.Tick();
        }
        // An unknown mode from the board leaves the group as it was.
        f.backend.Board().Config().FanMode = 5;
        f.Tick();
        QVERIFY(f.Control<QRadioButton>(checked)->isChecked());

        // Gone and back: the general enabling leaves everything off, then applies the rules.
        f.backend.Unplug();
        f.Discover();
        for (const char* name : {"rbtFMOLED", "rbtFMOWater", "edtTempWaterLow", "edtTempOffset", "rbtJMPStorm",
                                 "edtTempJMPLow", "trbFan", "panFanLow", "trbMoonTransit", "lblCloudRatio"})
            QVERIFY2(!f.Enabled(name), name);
    }
};

QUELVAN_WINDOW_TEST(SettingsConnectionTest)
#include "settings_connection_test.moc"
