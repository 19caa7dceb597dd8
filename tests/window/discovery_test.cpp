// Discovery on the simulated board: the log line per device, the connection sequence and
// its transfers, other firmware versions, foreign devices, unplugging and re-plugging,
// and the bootloader with its file dialog.

#include <QLocale>
#include <QMenu>
#include <cerrno>

#include "window/channel_control.h"
#include "window_fixture.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::Bytes;
using quelvan::test::WindowFixture;

namespace {

const QStringList kConfigReads = {"get 2 28", "get 4 17", "get 5 29", "get 6 25"};
const QStringList kConfigWrites = {"set 2 28", "set 4 17", "set 5 29", "set 6 25"};
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

        // ReadLiveState, ReadDeviceConfig, LoadFromDevice, the settings with the button of
        // JMPMode checked by the program (which writes the record), then the first tick's five
        // reads, in which the fan thumb moves to FanLow and the fan-mode button is checked
        // (each a write).
        QCOMPARE(f.TransferSummary(), QStringList{"get 1 42"} + kConfigReads + kScheduleLoad + kConfigWrites +
                                          QStringList{"get 1 42"} + kConfigReads + kConfigWrites + kConfigWrites);
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

    // A board whose first reads fail is neither called old firmware nor connected with
    // records it never sent: it is reported, kept with disabled controls, and tried again
    // every second and at every device change until it answers.
    void connectionFailuresAreReportedAndRetried_data() {
        QTest::addColumn<int>("failedReport");  // report whose gets fail once in full
        QTest::addColumn<int>("openError");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("retryByDeviceChange");
        const QString silent = "Quelvan 2.x erkannt, antwortet aber nicht. Neuer Versuch jede Sekunde...";
        const QString settings =
            "Quelvan 2.x erkannt, aber die Einstellungen konnten nicht gelesen werden. Neuer Versuch jede Sekunde...";
        QTest::newRow("live state, by timer") << 1 << 0 << silent << false;
        QTest::newRow("live state, by device change") << 1 << 0 << silent << true;
        QTest::newRow("no permission")
            << 0 << EACCES
            << "Quelvan 2.x erkannt, aber der Zugriff auf die Platine ist nicht erlaubt. Bitte die udev-Regel "
               "dist/linux/70-quelvan.rules installieren (siehe docs/udev.md) und die Platine neu anstecken."
            << false;
        for (int id : {2, 4, 5, 6})
            QTest::newRow(qPrintable(QString("settings report %1").arg(id))) << id << 0 << settings << false;
    }
    void connectionFailuresAreReportedAndRetried() {
        QFETCH(int, failedReport);
        QFETCH(int, openError);
        QFETCH(QString, message);
        QFETCH(bool, retryByDeviceChange);
        WindowFixture f;
        const DeviceConfig original = f.backend.Board().Config();
        // The live state is read with three attempts, each part of the settings with one.
        const int attempts = failedReport == report::kLiveState ? 3 : 1;
        if (failedReport) f.backend.FailNext(false, static_cast<std::uint8_t>(failedReport), attempts);
        f.backend.SetOpenError(openError);
        f.Discover();

        QCOMPARE(f.Panel(0), message);
        QCOMPARE(f.LogTexts().filter("erkannt").size(), 1);
        QVERIFY(f.window->BoardDevice());
        QVERIFY(!f.window->StatusTimer().isActive());
        QVERIFY(f.window->ConnectRetryTimer().isActive());
        QVERIFY(!f.Enabled("mnuAllOn"));
        QVERIFY(!f.Enabled("trb0"));
        // Even a command that reaches the window sends nothing built from unread settings.
        f.window->Channels().mnuAllOnClick();
        for (int id : {2, 4, 5, 6}) QVERIFY(f.Sets("board", static_cast<std::uint8_t>(id)).empty());
        QCOMPARE(f.backend.Board().Config(), original);

        // Still failing: tried again, reported once.
        if (openError == 0) f.backend.FailNext(false, static_cast<std::uint8_t>(failedReport), attempts);
        f.window->RetryBoardConnection();
        QCOMPARE(f.LogTexts().filter("erkannt").size(), 1);
        QVERIFY(f.window->ConnectRetryTimer().isActive());

        // Once the board answers, the whole sequence runs.
        f.backend.SetOpenError(0);
        if (retryByDeviceChange) {
            f.backend.AddForeignDevice(sim::ForeignDevice{});
            f.Discover();
        } else {
            f.window->RetryBoardConnection();
        }
        QCOMPARE(f.Panel(0), QStringLiteral("Quelvan 2.x.4 erkannt"));
        QVERIFY(f.window->StatusTimer().isActive());
        QVERIFY(!f.window->ConnectRetryTimer().isActive());
        QVERIFY(f.Enabled("mnuAllOn"));
    }

    void pendingBoardThatLeavesStopsTheRetries() {
        WindowFixture f;
        f.backend.FailNext(false, report::kLiveState, 3);
        f.Discover();
        QVERIFY(f.window->ConnectRetryTimer().isActive());
        f.backend.Unplug();
        f.Discover();
        QVERIFY(!f.window->BoardDevice());
        QVERIFY(!f.window->ConnectRetryTimer().isActive());
        QCOMPARE(f.Panel(0), QStringLiteral("Quelvan 2.x entfernt"));
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

    // A device cannot forge log lines with its strings.
    void deviceStringsAreLoggedEscaped() {
        WindowFixture f;
        f.backend.Unplug();
        sim::ForeignDevice forger;
        forger.manufacturer = u"\x1b[2J\nHID 9: 16C0:05DF \"www.dravik.info\" \"Quelvan2\"";
        f.backend.AddForeignDevice(forger);
        f.Discover();
        QCOMPARE(f.LogTexts().size(), 3);
        QCOMPARE(f.LogTexts().last(),
                 QStringLiteral("HID 0: 046D:C31C \"\\x1b[2J\\x0aHID 9: 16C0:05DF \\\"www.dravik.info\\\" "
                                "\\\"Quelvan2\\\"\" \"USB Keyboard\" \"\""));
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
