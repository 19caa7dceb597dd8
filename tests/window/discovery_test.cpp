// Discovery on the simulated board: the log line per device, the connection sequence and
// its transfers, other firmware versions, foreign devices, unplugging and re-plugging,
// and the bootloader with its file dialog.

#include <QLocale>
#include <QMenu>

#include "window_fixture.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::Bytes;
using quelvan::test::WindowFixture;

namespace {

const QStringList kConfigReads = {"get 2 28", "get 4 17", "get 5 29", "get 6 25"};
// LoadFromDevice on the default board: the configuration again, then its ten rows.
const QStringList kScheduleLoad = kConfigReads + QStringList(10, "get 3 16");
const QString kBoardLine = QStringLiteral("HID 0: 16C0:05DF \"www.dravik.info\" \"Quelvan2\" \"QV2-000123\"");

sim::BoardSettings WithFirmware(int version) {
    sim::BoardSettings settings;
    settings.firmwareVersion = version;
    return settings;
}

}  // namespace

class DiscoveryTest : public QObject {
    Q_OBJECT

    // The Datei menu opens.
    static bool FlashItemOnOpen(WindowFixture& f) {
        emit f.window->findChild<QMenu*>("mnuFile")->aboutToShow();
        return f.Action("mnuFlash")->isEnabled();
    }

    // Connected board sent to its bootloader, which then arrives with its dialog.
    static void StartBootloader(WindowFixture& f) {
        f.Discover();
        QVERIFY(f.window->BoardDevice());
        QVERIFY(f.window->Board().EnterBootloader().ok);
        f.backend.ClearTransfers();
        f.Discover();
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void firmware4RunsTheConnectionSequence() {
        WindowFixture f;
        f.backend.Board().Config().Mode = 0;  // channel pages usable
        QVERIFY(!FlashItemOnOpen(f));
        f.Discover();

        // ReadLiveState, ReadDeviceConfig, LoadFromDevice, then the first tick's five reads.
        QCOMPARE(f.TransferSummary(),
                 QStringList{"get 1 42"} + kConfigReads + kScheduleLoad + QStringList{"get 1 42"} + kConfigReads);
        QCOMPARE(f.LogTexts().mid(2), (QStringList{kBoardLine, "Quelvan 2.x.4 erkannt"}));
        QCOMPARE(f.Panel(0), QStringLiteral("Quelvan 2.x.4 erkannt"));
        QVERIFY(f.window->StatusTimer().isActive());
        for (const char* name : {"mnuModeAuto", "mnuAllOn", "trb0", "edt11", "edtTime"})
            QVERIFY2(f.Enabled(name), name);
        // The tick ran: the status panels show the board.
        QVERIFY(f.Panel(1).endsWith(" Uhr"));
        QVERIFY(!f.Panel(3).isEmpty());
        QVERIFY(FlashItemOnOpen(f));
    }

    // What the later pages plug in runs at its place in the sequence.
    void connectionSequenceCallsThePageHooksInOrder() {
        WindowFixture f;
        QStringList calls;
        auto hook = [&](const char* name) {
            return [&calls, &f, name] {
                calls << QString("%1 after %2 transfers, timer %3")
                             .arg(name)
                             .arg(f.backend.Transfers().size())
                             .arg(f.window->StatusTimer().isActive() ? "on" : "off");
            };
        };
        f.window->hooks.loadFromDevice = hook("load");
        f.window->hooks.showDeviceConfig = hook("show");
        f.window->hooks.refreshSettings = hook("refresh");
        f.window->hooks.drawGraph = hook("draw");
        f.Discover();
        QCOMPARE(calls, (QStringList{"load after 5 transfers, timer off", "show after 5 transfers, timer off",
                                     "refresh after 10 transfers, timer on", "draw after 10 transfers, timer on"}));
        // Controls are enabled and the board reported only after the tick.
        calls.clear();
        f.window->tmrQuelvanTimer();
        QCOMPARE(calls, (QStringList{"refresh after 15 transfers, timer on", "draw after 15 transfers, timer on"}));
    }

    void allOnAndAllOffMenuItemsReachTheBoard() {
        WindowFixture f;
        f.Discover();
        f.backend.ClearTransfers();
        f.Action("mnuAllOn")->trigger();
        QCOMPARE(int(f.backend.Board().Config().Mode), 0);
        for (int n = 0; n < kChannelCount; ++n)
            QCOMPARE(int(f.backend.Board().Live().ChannelValue[static_cast<std::size_t>(n)]), 4096);
        QCOMPARE(f.CurrentPage(), f.Page("tsChannelsAF"));
        f.Action("mnuAllOff")->trigger();
        for (int n = 0; n < kChannelCount; ++n)
            QCOMPARE(int(f.backend.Board().Live().ChannelValue[static_cast<std::size_t>(n)]), 0);
        QCOMPARE(f.Sets("board", report::kLiveState).size(), std::size_t{2});
    }

    void otherFirmwareIsHeldButNotConnected_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("message");
        QTest::newRow("0") << 0
                           << "Quelvan 2.x erkannt (ältere Firmwareversion). Bitte aktualisieren (siehe Menü "
                              "\"Datei\")!";
        QTest::newRow("3") << 3 << "Quelvan 2.x.3 erkannt. Bitte die Firmware aktualisieren (siehe Menü \"Datei\")!";
        QTest::newRow("5") << 5 << "Quelvan 2.x.5 erkannt. Bitte die Firmware aktualisieren (siehe Menü \"Datei\")!";
    }
    void otherFirmwareIsHeldButNotConnected() {
        QFETCH(int, version);
        QFETCH(QString, message);
        WindowFixture f(WithFirmware(version));
        f.Discover();
        QCOMPARE(f.TransferSummary(), QStringList{"get 1 42"});
        QCOMPARE(f.Panel(0), message);
        QCOMPARE(f.LogTexts().last(), message);
        QVERIFY(f.window->BoardDevice());
        QVERIFY(!f.window->StatusTimer().isActive());
        for (const char* name : {"mnuModeAuto", "mnuAllOn", "mnuSaveEEPROM", "trb0", "edtTime"})
            QVERIFY2(!f.Enabled(name), name);
        QVERIFY(FlashItemOnOpen(f));
        QCOMPARE(f.CurrentPage(), f.Page("tsMessages"));
    }

    void foreignDeviceIsOnlyLogged() {
        WindowFixture f;
        f.Discover();
        const QStringList before = f.LogTexts();
        f.backend.ClearTransfers();

        sim::ForeignDevice gadget;
        gadget.vendorId = 0x0ABC;
        gadget.productId = 0x0012;
        gadget.manufacturer = u"Acme Corp";
        gadget.product = u"Pad";
        gadget.serialNumber = u"S-1";
        f.backend.AddForeignDevice(gadget);
        f.Discover();

        // Every plugged-in device is logged again, the board first; nothing else happens.
        QCOMPARE(f.LogTexts().mid(before.size()),
                 (QStringList{kBoardLine, "HID 1: 0ABC:0012 \"Acme Corp\" \"Pad\" \"S-1\""}));
        QVERIFY(f.TransferSummary().isEmpty());
        QCOMPARE(f.Panel(0), QStringLiteral("Quelvan 2.x.4 erkannt"));
        QVERIFY(f.window->StatusTimer().isActive());
    }

    void foreignDeviceAloneLeavesTheWindowDisconnected() {
        WindowFixture f;
        f.backend.Unplug();
        sim::ForeignDevice gadget;
        gadget.manufacturer = u"www.dravik.inf0";  // near miss: only the exact string counts
        gadget.product = u"Quelvan2";
        f.backend.AddForeignDevice(gadget);
        f.Discover();
        QCOMPARE(f.LogTexts().size(), 3);
        QVERIFY(f.LogTexts().last().startsWith("HID 0: 046D:C31C \"www.dravik.inf0\" \"Quelvan2\""));
        QVERIFY(!f.window->BoardDevice());
        QVERIFY(f.Panel(0).isEmpty());
        QVERIFY(!FlashItemOnOpen(f));
    }

    void secondBoardAndSecondBootloaderAreOnlyLogged() {
        WindowFixture f;
        f.Discover();
        sim::ForeignDevice twin;  // the maker's strings on another interface
        twin.manufacturer = u"www.dravik.info";
        twin.product = u"Quelvan2";
        f.backend.AddForeignDevice(twin);
        f.backend.ClearTransfers();
        const int logged = f.LogTexts().size();
        f.Discover();
        QCOMPARE(f.LogTexts().size(), logged + 2);  // both devices logged, nothing reported
        QVERIFY(f.TransferSummary().isEmpty());
        QVERIFY(f.dialogs.Calls().empty());

        // The held bootloader stays when leaving it fails; a second one arrives.
        f.backend.FailNext(true, 1, 1);
        StartBootloader(f);
        QVERIFY(f.window->BootloaderDevice());
        QCOMPARE(f.dialogs.Calls().size(), std::size_t{1});
        sim::ForeignDevice second;
        second.manufacturer = u"www.dravik.info";
        second.product = u"1";
        f.backend.AddForeignDevice(second);
        f.Discover();
        QCOMPARE(f.dialogs.Calls().size(), std::size_t{1});
        QCOMPARE(f.LogTexts().filter("Dravik-Bootloader erkannt").size(), 1);
        QVERIFY(f.LogTexts().last().contains("\"www.dravik.info\" \"1\""));
    }

    void deviceWithUnreadableStringsIsLoggedAndIgnored() {
        WindowFixture f;
        f.backend.SetStringsReadable(false);
        f.Discover();
        QCOMPARE(f.LogTexts().mid(2), QStringList{"HID 0: 16C0:05DF \"\" \"\" \"\""});
        QVERIFY(!f.window->BoardDevice());
        QVERIFY(f.TransferSummary().isEmpty());
    }

    void unplugAndReplug() {
        WindowFixture f;
        f.backend.Board().Config().Mode = 0;  // channel pages usable
        f.Discover();
        f.window->PageControl().setCurrentWidget(f.Page("tsChannelsAF"));
        const int logged = f.LogTexts().size();

        f.backend.Unplug();
        f.Discover();
        QVERIFY(!f.window->BoardDevice());
        QCOMPARE(f.LogTexts().mid(logged), QStringList{"Quelvan 2.x entfernt"});
        QCOMPARE(f.Panel(0), QStringLiteral("Quelvan 2.x entfernt"));
        for (int panel = 1; panel < 4; ++panel) QVERIFY(f.Panel(panel).isEmpty());
        QVERIFY(!f.window->StatusTimer().isActive());
        QCOMPARE(f.CurrentPage(), f.Page("tsMessages"));
        QVERIFY(!f.Enabled("trb0"));
        QVERIFY(!f.Enabled("mnuAllOff"));
        QVERIFY(!FlashItemOnOpen(f));

        f.backend.ClearTransfers();
        f.backend.Plug();
        f.Discover();
        QVERIFY(f.window->BoardDevice());
        QCOMPARE(f.TransferSummary(),
                 QStringList{"get 1 42"} + kConfigReads + kScheduleLoad + QStringList{"get 1 42"} + kConfigReads);
        QCOMPARE(f.LogTexts().last(), QStringLiteral("Quelvan 2.x.4 erkannt"));
        QVERIFY(f.window->StatusTimer().isActive());
        QVERIFY(f.Enabled("trb0"));
    }

    void bootloaderCancelledLeavesIt_data() {
        QTest::addColumn<int>("variant");
        QTest::addColumn<QString>("extension");
        QTest::newRow("1") << 1 << ".vbf";
        QTest::newRow("2") << 2 << ".vbf328p";
    }
    void bootloaderCancelledLeavesIt() {
        QFETCH(int, variant);
        QFETCH(QString, extension);
        sim::BoardSettings settings;
        settings.bootloaderVariant = variant;
        WindowFixture f(settings);
        f.window->PageControl().setCurrentWidget(f.Page("tsChannelsAF"));
        f.dialogs.SetNextFileName(std::nullopt);
        StartBootloader(f);

        const QStringList texts = f.LogTexts();
        // The board leaves, the bootloader is logged and recognised.
        QCOMPARE(texts.size(), 7);
        QCOMPARE(texts[4], QStringLiteral("Quelvan 2.x entfernt"));
        QVERIFY(texts[5].startsWith("HID 0: 16C0:05DF \"www.dravik.info\" \"" + QString::number(variant) + "\" "));
        QCOMPARE(texts[6], QStringLiteral("Dravik-Bootloader erkannt"));
        QCOMPARE(f.Panel(0), QStringLiteral("Dravik-Bootloader erkannt"));
        QCOMPARE(f.CurrentPage(), f.Page("tsMessages"));

        QCOMPARE(f.dialogs.Calls().size(), std::size_t{1});
        const ScriptedDialogService::Call& call = f.dialogs.Calls().front();
        QCOMPARE(call.kind, ScriptedDialogService::Kind::Open);
        QCOMPARE(call.title, QStringLiteral("Quelvan 2.x - Firmwaredatei wählen"));
        QCOMPARE(call.filter, "Quelvan 2.x - Firmware (*" + extension + ")");
        QCOMPARE(call.defaultSuffix, extension);
        QCOMPARE(call.directory, f.window->od.directory);
        QVERIFY(!call.directory.isEmpty());

        // The kept information buffer, never filled by a get: report ID 1, then zeros.
        QCOMPARE(f.Sets("bootloader", 1), (std::vector<Bytes>{{1, 0, 0, 0, 0, 0, 0}}));
        QCOMPARE(f.TransferSummary(), QStringList{"set 1 7"});
        QVERIFY(!f.window->StatusTimer().isActive());
        QVERIFY(!f.Enabled("trb0"));

        // The bootloader starts the application: it leaves, the board arrives and connects.
        f.Discover();
        QVERIFY(!f.window->BootloaderDevice());
        QVERIFY(f.window->BoardDevice());
        QVERIFY(f.LogTexts().contains("Dravik-Bootloader entfernt"));
        QCOMPARE(f.Panel(0), QStringLiteral("Quelvan 2.x.4 erkannt"));
        QVERIFY(f.window->StatusTimer().isActive());
    }

    void bootloaderWithChosenFileStillReturnsToTheBoard() {
        WindowFixture f;
        f.dialogs.SetNextFileName(QStringLiteral("/data/new.vbf328p"));
        StartBootloader(f);
        QVERIFY(f.LogTexts().filter("/data/new.vbf328p").size() == 1);
        QCOMPARE(f.Sets("bootloader", 1), (std::vector<Bytes>{{1, 0, 0, 0, 0, 0, 0}}));
        QCOMPARE(f.backend.CountTransfers(true, 2), 0);  // no block written
        f.Discover();
        QVERIFY(f.window->BoardDevice());
    }

    void bootloaderKeepsTheFlashItemUsable() {
        WindowFixture f;
        StartBootloader(f);
        // The dialog was cancelled, but the bootloader stays held until it has gone.
        QVERIFY(f.window->BootloaderDevice());
        QVERIFY(FlashItemOnOpen(f));
        QVERIFY(!f.Enabled("mnuDataImport"));
        QVERIFY(!f.Enabled("mnuSaveEEPROM"));
    }
};

QUELVAN_WINDOW_TEST(DiscoveryTest)
#include "discovery_test.moc"
