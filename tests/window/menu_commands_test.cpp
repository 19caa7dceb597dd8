// The menu "Optionen", the maker's web address, the "Datei" menu with only a bootloader,
// and the schedule's upload and reload on the user's page changes (the program's do
// neither), with the transfers they cause.

#include "window/menu_commands.h"

#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include "schedule_window.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::Bytes;
using quelvan::test::Entry;
using quelvan::test::ScheduleWindow;

namespace {

const std::vector<ScheduleEntry> kThree = {Entry(6, 0, {10}), Entry(12, 0, {90}), Entry(20, 0, {5})};
const QStringList kConfigWrite = {"set 2 28", "set 4 17", "set 5 29", "set 6 25"};
const QStringList kReload =
    QStringList{"get 2 28", "get 4 17", "get 5 29", "get 6 25"} + QStringList(3, QStringLiteral("get 3 16"));
const QStringList kUpload = QStringList(3, QStringLiteral("set 3 16"));

void OpenMenu(const test::WindowFixture& f, const char* menu) {
    emit f.window->findChild<QMenu*>(menu)->aboutToShow();
}

}  // namespace

class MenuCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void modeItemsWriteTheModeAndShowTheirPage_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("page");
        QTest::newRow("Manuell") << "mnuModeManual" << 0 << "tsChannelsAF";
        QTest::newRow("Auto") << "mnuModeAuto" << 1 << "tsData";
        QTest::newRow("Demo") << "mnuModeDemo" << 2 << "tsChannelsGL";
        QTest::newRow("Flash") << "mnuModeFlash" << 3 << "tsChannelsAF";
        QTest::newRow("Slave") << "mnuModeSlave" << 4 << "tsWeather";  // unchanged
    }
    void modeItemsWriteTheModeAndShowTheirPage() {
        QFETCH(QString, item);
        QFETCH(int, mode);
        QFETCH(QString, page);
        ScheduleWindow f(kThree);
        f.backend.Board().Config().Mode = 3;
        f.window->tmrQuelvanTimer();
        f.ClickTab("tsWeather");
        f.backend.ClearTransfers();
        f.Action(item.toLatin1())->trigger();
        // The whole configuration with the new mode; the page change made by the program
        // neither uploads nor reloads the schedule, even when it shows "Tabelle".
        QCOMPARE(f.TransferSummary(), kConfigWrite);
        QCOMPARE(int(f.Sets("board", report::kConfigPart1).front()[1]), mode);
        QCOMPARE(int(f.backend.Board().Config().Mode), mode);
        QCOMPARE(f.CurrentPage(), f.Page(page.toLatin1()));
        QVERIFY(f.Action(item.toLatin1())->isChecked());
    }

    void programPageChangesLeaveTheGridAlone() {
        ScheduleWindow f(kThree);
        f.ClickTab("tsData");
        f.TypeIntoCell(2, 1, "77");
        f.backend.ClearTransfers();
        f.Action("mnuModeDemo")->trigger();  // "Tabelle" to "Kanäle G-L"
        f.Action("mnuAllOn")->trigger();     // to "Kanäle A-F"
        f.Action("mnuModeAuto")->trigger();  // back to "Tabelle"
        QCOMPARE(f.CurrentPage(), f.Page("tsData"));
        QCOMPARE(f.backend.CountTransfers(true, report::kSchedule), 0);
        QCOMPARE(f.backend.CountTransfers(false, report::kSchedule), 0);
        QCOMPARE(f.Grid().Cell(2, 1), QStringLiteral("77"));
        QCOMPARE(int(f.backend.Board().Schedule()[0].Color[0]), 10);
    }

    void optionsMenuChecksTheBoardsModeAndStep() {
        ScheduleWindow f(kThree);
        f.backend.Board().Config().Mode = 2;
        f.backend.Board().Config().Step = 1;
        f.window->tmrQuelvanTimer();
        OpenMenu(f, "mnuMode");
        QVERIFY(f.Action("mnuModeDemo")->isChecked());
        QVERIFY(f.Action("mnuStep")->isChecked());

        // A mode beyond the five leaves the radio items as they were.
        f.backend.Board().Config().Mode = 7;
        f.backend.Board().Config().Step = 0;
        f.window->tmrQuelvanTimer();
        OpenMenu(f, "mnuMode");
        QVERIFY(f.Action("mnuModeDemo")->isChecked());
        QVERIFY(!f.Action("mnuStep")->isChecked());
        for (const char* other : {"mnuModeManual", "mnuModeAuto", "mnuModeFlash", "mnuModeSlave"})
            QVERIFY2(!f.Action(other)->isChecked(), other);

        f.backend.Board().Config().Mode = 0;
        f.window->tmrQuelvanTimer();
        OpenMenu(f, "mnuMode");
        QVERIFY(f.Action("mnuModeManual")->isChecked());
        QVERIFY(!f.Action("mnuModeDemo")->isChecked());
    }

    void stepItemTogglesTheLargeStepWidth() {
        ScheduleWindow f(kThree);
        OpenMenu(f, "mnuMode");
        f.Action("mnuStep")->trigger();
        QVERIFY(f.Action("mnuStep")->isChecked());
        QCOMPARE(f.TransferSummary(), kConfigWrite);
        QCOMPARE(int(f.Sets("board", report::kConfigPart1).back()[2]), 1);
        f.Action("mnuStep")->trigger();
        QCOMPARE(int(f.Sets("board", report::kConfigPart1).back()[2]), 0);
        QCOMPARE(int(f.backend.Board().Config().Step), 0);
    }

    void hiddenPagesAreShownAndHiddenAgain_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("page");
        QTest::newRow("Expertenoptionen") << "mnuShowExpert"
                                          << "tsExpert";
        QTest::newRow("JMP-Pin") << "mnuShowJMP"
                                 << "tsJMP";
    }
    void hiddenPagesAreShownAndHiddenAgain() {
        QFETCH(QString, item);
        QFETCH(QString, page);
        ScheduleWindow f(kThree);
        f.ClickTab("tsData");
        f.backend.ClearTransfers();
        QTabWidget& pc = f.window->PageControl();
        const int index = pc.indexOf(f.Page(page.toLatin1()));
        f.Action(item.toLatin1())->trigger();
        QVERIFY(f.Action(item.toLatin1())->isChecked());
        QVERIFY(pc.isTabVisible(index));
        QCOMPARE(f.CurrentPage(), f.Page(page.toLatin1()));
        f.Action(item.toLatin1())->trigger();
        QVERIFY(!pc.isTabVisible(index));
        QVERIFY2(f.backend.Transfers().empty(), "shown by the program: no upload");
    }

    void eepromUploadsTheTableFirstOnlyFromTabelle() {
        ScheduleWindow f(kThree);
        f.ClickTab("tsData");
        f.backend.ClearTransfers();
        f.Action("mnuSaveEEPROM")->trigger();
        QCOMPARE(f.TransferSummary(), kUpload + QStringList{"set 3 28"});
        const std::vector<Bytes> sets = f.Sets("board", report::kSchedule);
        QCOMPARE(int(sets.back()[1]), 255);
        QCOMPARE(f.backend.Board().EEPROMStoreCount(), 1);

        f.ClickTab("tsVisualize");
        f.backend.ClearTransfers();
        f.Action("mnuSaveEEPROM")->trigger();
        QCOMPARE(f.TransferSummary(), QStringList{"set 3 28"});
        QCOMPARE(f.backend.Board().EEPROMStoreCount(), 2);
    }

    void userPageChangesUploadAndReload() {
        ScheduleWindow f(kThree);
        // Entering "Tabelle" reads the configuration and the table back.
        f.ClickTab("tsData");
        QCOMPARE(f.TransferSummary(), kReload);
        QCOMPARE(f.CurrentPage(), f.Page("tsData"));
        // "Tabelle" with an edit to "Grafik": the upload first, then the reload.
        f.TypeIntoCell(2, 1, "11");
        f.backend.ClearTransfers();
        f.ClickTab("tsVisualize");
        QCOMPARE(f.TransferSummary(), kUpload + kReload);
        // Pages without the table: leaving "Grafik" does nothing.
        f.backend.ClearTransfers();
        f.ClickTab("tsMessages");
        QVERIFY(f.backend.Transfers().empty());
        // The keyboard on the tabs is the user too.
        f.ClickTab("tsData");
        f.TypeIntoCell(2, 1, "12");
        f.backend.ClearTransfers();
        QTabBar* bar = f.window->PageControl().tabBar();
        bar->setFocus();
        QTest::keyClick(bar, Qt::Key_Right);
        QCOMPARE(f.CurrentPage(), f.Page("tsVisualize"));
        QCOMPARE(f.TransferSummary(), kUpload + kReload);
    }

    // Never overwrite what another program wrote: leaving "Tabelle" uploads only what the
    // user changed in the grid since it was loaded. Meanwhile another program has written a
    // program of its own to the board.
    void leavingTabelleUploadsOnlyTheUsersEdits_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("uploads");
        QTest::newRow("nothing changed") << "none" << false;
        QTest::newRow("a cell typed") << "type" << true;
        QTest::newRow("the same text typed again") << "retype" << false;
        QTest::newRow("a row moved") << "move" << true;
        QTest::newRow("edit uploaded with Hochladen") << "upload" << false;
        QTest::newRow("edit uploaded with the EEPROM command") << "eeprom" << false;
    }
    void leavingTabelleUploadsOnlyTheUsersEdits() {
        QFETCH(QString, action);
        QFETCH(bool, uploads);
        ScheduleWindow f(kThree);
        f.ClickTab("tsData");
        if (action == "type" || action == "upload" || action == "eeprom") f.TypeIntoCell(2, 2, "55");
        if (action == "retype") f.TypeIntoCell(2, 2, "90");
        if (action == "move") f.Grid().verticalHeader()->moveSection(0, 2);
        if (action == "upload") QTest::mouseClick(f.window->findChild<QPushButton*>("btnUpload"), Qt::LeftButton);
        if (action == "eeprom") f.Action("mnuSaveEEPROM")->trigger();
        const std::vector<ScheduleEntry> other = {Entry(5, 0, {1}), Entry(13, 0, {2}), Entry(21, 0, {3})};
        f.backend.Board().Schedule() = other;
        f.backend.ClearTransfers();
        f.ClickTab("tsConfig");
        QCOMPARE(f.TransferSummary(), uploads ? kUpload : QStringList());
        if (!uploads) QVERIFY(f.backend.Board().Schedule() == other);
    }

    // Feedback: a success puts a short confirmation into the status bar in place of an older
    // error, a failure says so there instead; the log keeps only its own lines.
    void outcomesStandInTheStatusBar_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("failing");  // attempts of report-3 writes that fail
        QTest::addColumn<QString>("status");
        QTest::newRow("Hochladen") << "upload" << 0 << "Tabelle hochgeladen";
        QTest::newRow("Hochladen, a row failing")
            << "upload" << 3 << "Tabelle nicht vollständig hochgeladen: 1 von 3 Zeilen nicht geschrieben";
        QTest::newRow("EEPROM") << "eeprom" << 0 << "Einstellungen im EEPROM gespeichert";
        QTest::newRow("EEPROM failing") << "eeprom" << 3
                                        << "Einstellungen nicht im EEPROM gespeichert: keine Antwort der Platine";
        QTest::newRow("graph released") << "graph" << 0 << "Tabelle hochgeladen";
    }
    void outcomesStandInTheStatusBar() {
        QFETCH(QString, command);
        QFETCH(int, failing);
        QFETCH(QString, status);
        ScheduleWindow f(kThree);
        f.ClickTab(command == "upload" ? "tsData" : "tsVisualize");
        f.window->ReportStatus("FEHLER: Datei x.ini konnte nicht geschrieben werden!");
        const QStringList log = f.LogLines();
        f.backend.FailNext(true, report::kSchedule, failing);
        if (command == "upload") QTest::mouseClick(f.window->findChild<QPushButton*>("btnUpload"), Qt::LeftButton);
        if (command == "eeprom") f.Action("mnuSaveEEPROM")->trigger();
        if (command == "graph") QTest::mouseClick(&f.Img(), Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(f.Panel(0), status);
        QCOMPARE(f.LogLines(), log);
    }

    void textInAnOpenCellEditorIsUploadedBeforeTheEEPROMCommand() {
        ScheduleWindow f(kThree);
        f.ClickTab("tsData");
        // A menu takes no focus from the cell editor: the typed text is still only there.
        f.TypeIntoCell(2, 2, "55");
        f.backend.ClearTransfers();
        f.Action("mnuSaveEEPROM")->trigger();
        QCOMPARE(f.RowWrites()[1], test::RowWrite(1, Entry(12, 0, {55})));
        QCOMPARE(int(f.backend.Board().Schedule()[1].Color[0]), 55);
        QCOMPARE(f.backend.Board().EEPROMStoreCount(), 1);
    }

    void onlyABootloaderEnablesOnlyTheFirmwareUpdate() {
        test::WindowFixture f;
        f.Discover();
        QVERIFY(f.window->Board().EnterBootloader().ok);
        f.dialogs.SetNextFileName(std::nullopt);
        f.Discover();  // the board left, its bootloader arrived; the dialog is cancelled
        QVERIFY(!f.window->BoardDevice());
        QVERIFY(f.window->BootloaderDevice());
        OpenMenu(f, "mnuFile");
        QVERIFY(f.Enabled("mnuFlash"));
        for (const char* name :
             {"mnuDataImport", "mnuConfigImport", "mnuDataConfigExport", "mnuModeManual", "mnuModeAuto", "mnuModeDemo",
              "mnuModeFlash", "mnuModeSlave", "mnuStep", "mnuSaveEEPROM", "mnuAllOff", "mnuAllOn"})
            QVERIFY2(!f.Enabled(name), name);
        for (const char* name : {"mnuExit", "mnuShowExpert", "mnuShowJMP", "mnuDravik"})
            QVERIFY2(f.Enabled(name), name);
    }

    // Input: the menus are reached by keyboard. F10 opens "Datei", Alt with a title's letter
    // opens that menu, Alt alone enters the menu bar without opening a menu.
    void menusAreReachedByKeyboard_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("withAlt");
        QTest::addColumn<QString>("menu");
        QTest::addColumn<bool>("opened");
        QTest::newRow("F10") << int(Qt::Key_F10) << false << "mnuFile" << true;
        QTest::newRow("Alt+O") << int(Qt::Key_O) << true << "mnuMode" << true;
        QTest::newRow("Alt+H") << int(Qt::Key_H) << true << "mnuHelp" << true;
        QTest::newRow("Alt alone") << int(Qt::Key_Alt) << true << "mnuFile" << false;
    }
    void menusAreReachedByKeyboard() {
        QFETCH(int, key);
        QFETCH(bool, withAlt);
        QFETCH(QString, menu);
        QFETCH(bool, opened);
        ScheduleWindow f(kThree);
        QVERIFY(f.active);
        QMenuBar* bar = f.window->menuBar();
        auto* target = f.window->findChild<QMenu*>(menu);
        QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : f.window.get();
        if (key == Qt::Key_Alt) {
            // Pressed and released alone, as the keyboard sends it.
            QKeyEvent press(QEvent::ShortcutOverride, Qt::Key_Alt, Qt::AltModifier);
            QApplication::sendEvent(focus, &press);
            QKeyEvent down(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
            QApplication::sendEvent(focus, &down);
            QKeyEvent up(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
            QApplication::sendEvent(focus, &up);
        } else {
            QTest::keyClick(focus, Qt::Key(key), withAlt ? Qt::AltModifier : Qt::NoModifier);
        }
        QTRY_COMPARE(bar->activeAction(), target->menuAction());
        QCOMPARE(target->isVisible(), opened);
        if (target->isVisible()) target->close();
        QVERIFY2(f.backend.Transfers().empty(), "reaching a menu sends nothing");
    }

    void makersAddressOpensInTheBrowser() {
        test::WindowFixture f;
        QList<QUrl> opened;
        f.window->Commands().openUrl = [&](const QUrl& url) { opened << url; };
        f.Action("mnuDravik")->trigger();
        QCOMPARE(opened, QList<QUrl>{QUrl("http://www.dravik.info")});
        QVERIFY(f.backend.Transfers().empty());
    }
};

QUELVAN_WINDOW_TEST(MenuCommandsTest)
#include "menu_commands_test.moc"
