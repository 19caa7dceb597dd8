// The firmware update from the window on the simulated board: the warning, the board's
// restart into its bootloader, the file dialog, the blocks with their progress, and the
// board returning and connecting again; and the update's failures.

#include <QCoreApplication>
#include <QMenu>
#include <QTemporaryDir>

#include "files_test_support.h"
#include "window_fixture.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::WindowFixture;

namespace {

const QString kWarning =
    "Das Aktualisieren der Firmware geschieht auf eigene Gefahr.\n"
    "Treten Übertragungsfehler auf, ist die Firmware anschließend\n"
    "nicht lauffähig. Der Vorgang kann jedoch wiederholt werden.\n"
    "\n"
    "Bitte beachten, dass sämtliche Einstellungen (auch die der\n"
    "Lüfter) zurückgesetzt werden. Slave-Platinen müssen nach dem\n"
    "Update wieder manuell auf den Modus \"Slave\" gestellt werden!\n"
    "\n"
    "Vorgang fortsetzen?";

// A window whose 500 ms waits are only recorded.
struct UpdateFixture {
    UpdateFixture() : f({}, Options(waits)) {}
    static MainWindowOptions Options(std::vector<std::chrono::milliseconds>& waits) {
        MainWindowOptions options;
        options.ppi = 96.0;
        options.sleep = [&waits](std::chrono::milliseconds span) { waits.push_back(span); };
        return options;
    }
    // The flash item as the user reaches it: the menu opens, then the item is chosen.
    void ChooseFlashItem() {
        emit f.window->findChild<QMenu*>("mnuFile")->aboutToShow();
        QVERIFY(f.Action("mnuFlash")->isEnabled());
        f.Action("mnuFlash")->trigger();
    }
    QString FirmwareFile(std::int32_t start, std::int32_t end) {
        const QString path = dir.filePath("new.vbf328p");
        files::testing::WriteBytes(path.toStdString(), files::testing::FirmwareBytes(start, end));
        return path;
    }
    // The rescan that follows the update, as the event loop delivers it.
    void RunEventLoop() {
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    }

    std::vector<std::chrono::milliseconds> waits;
    WindowFixture f;
    QTemporaryDir dir;
};

}  // namespace

class FirmwareUpdateTest : public QObject {
    Q_OBJECT

private slots:
    void wholeUpdateFromTheMenu() {
        UpdateFixture u;
        u.f.Discover();
        QVERIFY(u.f.window->BoardDevice());
        const QString file = u.FirmwareFile(0, 29999);
        u.f.dialogs.SetNextAnswer(true);
        u.f.dialogs.SetNextFileName(file);
        u.f.backend.ClearTransfers();

        u.ChooseFlashItem();
        // The warning, then the board is sent into its bootloader: nothing else yet.
        const auto& question = u.f.dialogs.Calls().front();
        QCOMPARE(question.kind, ScriptedDialogService::Kind::YesNo);
        QCOMPARE(question.title, QStringLiteral("Firmware aktualisieren"));
        QCOMPARE(question.text, kWarning);
        QCOMPARE(u.f.Sets("board", report::kSchedule).size(), std::size_t{1});
        QCOMPARE(int(u.f.Sets("board", report::kSchedule)[0][1]), 254);
        QCOMPARE(int(u.f.Sets("board", report::kSchedule)[0].size()), 28);

        // The bootloader arrives: its dialog, the blocks with their progress, the restart.
        u.f.Discover();
        QCOMPARE(u.f.backend.Board().BlocksWritten(), 235);
        const std::vector<std::uint8_t>& flash = u.f.backend.Board().Flash();
        for (std::int64_t a = 0; a < 30080; ++a)
            QCOMPARE(int(flash[static_cast<std::size_t>(a)]), a <= 29999 ? int(files::testing::PatternByte(a)) : 0xFF);
        const QStringList log = u.f.LogTexts();
        QVERIFY(log.contains("Dravik-Bootloader erkannt"));
        QVERIFY(log.contains("Flashgröße: 29999 / 30720 Bytes"));
        QVERIFY(log.contains("Starte Flashvorgang, schreibe 30080 Bytes..."));
        QCOMPARE(log.filter(QRegularExpression("^0x[0-9A-F]{4}$")).size(), 235);
        QCOMPARE(log.filter(QRegularExpression("^0x[0-9A-F]{4}$")).last(), QStringLiteral("0x7500"));
        QVERIFY(log.contains("Reset..."));
        QCOMPARE(u.f.Panel(0), QStringLiteral("Fertig!"));
        const auto& steps = u.f.dialogs.ProgressSteps();
        QCOMPARE(int(steps.size()), 236);
        QCOMPARE(steps.front(), (std::pair<int, int>{0, 235}));
        QCOMPARE(steps.back(), (std::pair<int, int>{235, 235}));
        QVERIFY(!u.f.dialogs.ProgressShown());
        QVERIFY(u.waits.empty());

        // Notifications during the update were held back; the rescan after it finds the board.
        u.RunEventLoop();
        QVERIFY(!u.f.window->BootloaderDevice());
        QVERIFY(u.f.window->BoardDevice());
        QCOMPARE(u.f.Panel(0), QStringLiteral("Quelvan 2.x.4 erkannt"));
        QVERIFY(u.f.window->StatusTimer().isActive());
    }

    void answeringNoSendsNothing() {
        UpdateFixture u;
        u.f.Discover();
        u.f.backend.ClearTransfers();
        u.f.dialogs.SetNextAnswer(false);
        u.ChooseFlashItem();
        QVERIFY(u.f.TransferSummary().isEmpty());
        QVERIFY(u.f.window->BoardDevice());
    }

    // A board started in its bootloader with the jumper: the item opens the file dialog.
    void bootloaderAloneFlashesFromTheMenu() {
        UpdateFixture u;
        u.f.Discover();
        QVERIFY(u.f.window->Board().EnterBootloader().ok);
        u.f.dialogs.SetNextFileName(std::nullopt);  // cancelled at recognition: leaves it
        u.f.backend.FailNext(true, 1, 1);           // ... but leaving fails, so it stays
        u.f.Discover();
        QVERIFY(u.f.window->BootloaderDevice());
        u.f.dialogs.ClearCalls();
        u.f.dialogs.SetNextFileName(u.FirmwareFile(0x0100, 0x01FF));
        u.ChooseFlashItem();
        QCOMPARE(u.f.dialogs.Calls().front().title, QStringLiteral("Quelvan 2.x - Firmwaredatei wählen"));
        QCOMPARE(u.f.Sets("bootloader", 2).size(), std::size_t{2});
        QCOMPARE(int(u.f.Sets("bootloader", 2)[1][2]), 0x01);  // 0x0180, little-endian
        QCOMPARE(int(u.f.Sets("bootloader", 2)[1][1]), 0x80);
        QCOMPARE(u.f.Panel(0), QStringLiteral("Fertig!"));
        u.RunEventLoop();
        QVERIFY(u.f.window->BoardDevice());
    }

    void failuresAreReportedAndTheBootloaderStaysWhenNothingWasWritten_data() {
        QTest::addColumn<int>("failBlocks");  // attempts of block writes that fail
        QTest::addColumn<bool>("missingFile");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("left");
        QTest::addColumn<int>("waits");
        QTest::newRow("missing file") << 0 << true << "FEHLER: Datei %1 nicht gefunden!" << false << 0;
        QTest::newRow("a block failing ten times") << 10 << false << "FEHLER beim Flashen!" << true << 10;
        QTest::newRow("a block recovering") << 9 << false << "Fertig!" << true << 9;
    }
    void failuresAreReportedAndTheBootloaderStaysWhenNothingWasWritten() {
        QFETCH(int, failBlocks);
        QFETCH(bool, missingFile);
        QFETCH(QString, status);
        QFETCH(bool, left);
        QFETCH(int, waits);
        UpdateFixture u;
        u.f.Discover();
        QVERIFY(u.f.window->Board().EnterBootloader().ok);
        QString file = u.FirmwareFile(0, 1023);
        if (missingFile) file = u.dir.filePath("missing.vbf328p");
        u.f.dialogs.SetNextFileName(file);
        u.f.backend.FailNext(true, 2, failBlocks);
        u.f.Discover();
        QCOMPARE(u.f.Panel(0), status.contains("%1") ? status.arg(file) : status);
        QCOMPARE(u.f.Sets("bootloader", 1).size(), std::size_t(left ? 1 : 0));
        QCOMPARE(int(u.waits.size()), waits);
        for (const auto wait : u.waits) QCOMPARE(int(wait.count()), 500);
        if (failBlocks == 10) QCOMPARE(u.f.backend.Board().BlocksWritten(), 7);  // the other blocks still
        u.RunEventLoop();
        QCOMPARE(bool(u.f.window->BootloaderDevice()), !left);
        QCOMPARE(bool(u.f.window->BoardDevice()), left);
    }
};

QUELVAN_WINDOW_TEST(FirmwareUpdateTest)
#include "firmware_update_test.moc"
