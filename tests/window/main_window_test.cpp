// The window shell before and around a board: start-up log, pages, menu tree, the enabling
// of device-bound controls, status-bar sizing and closing.

#include <QAbstractButton>
#include <QActionGroup>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QRadioButton>
#include <QTemporaryDir>

#include "window/wrapping_tab_bar.h"
#include "window_fixture.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::WindowFixture;

namespace {

const QString kFirstLine =
    QStringLiteral("Die Bedienelemente werden nach dem Anschluss der Platine mit einem USB-Kabel bedienbar.");
const QString kSecondLineStart = QStringLiteral(
    "Wenn beim Aktualisieren der Firmware Fehler auftreten oder danach die Platine nicht mehr reagiert, kann der "
    "Bootloader beim Start der Platine erzwungen werden: Dazu im ausgeschalteten Zustand den Jumper auf \"JMP\" "
    "stecken");
const QString kSecondLineEnd = QStringLiteral("Nach dem Aktualisieren der Firmware den Jumper wieder abziehen!");

// Items that stay usable without a board.
const char* const kAlwaysUsable[] = {"mnuFlash", "mnuExit", "mnuShowExpert", "mnuShowJMP", "mnuDravik"};
// A sample of items and controls that follow the connection.
const char* const kDeviceBound[] = {"mnuDataImport",
                                    "mnuConfigImport",
                                    "mnuDataConfigExport",
                                    "mnuModeManual",
                                    "mnuModeAuto",
                                    "mnuModeDemo",
                                    "mnuModeFlash",
                                    "mnuModeSlave",
                                    "mnuSaveEEPROM",
                                    "mnuStep",
                                    "mnuAllOff",
                                    "mnuAllOn",
                                    "trb0",
                                    "edt5",
                                    "btnOff6",
                                    "btnOn11",
                                    "cmbName3",
                                    "lblName9",
                                    "trbTime",
                                    "edtTime",
                                    "btnNow"};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void startsWithTwoLogLinesAndMessagesPage() {
        WindowFixture f;
        const QStringList lines = f.LogLines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], "[17.05.24 07:05:09] " + kFirstLine);
        QVERIFY(lines[1].startsWith("[17.05.24 07:05:09] " + kSecondLineStart));
        QVERIFY(lines[1].endsWith(kSecondLineEnd));
        QCOMPARE(f.CurrentPage(), f.Page("tsMessages"));
        QCOMPARE(f.window->objectName(), QStringLiteral("frmQuelvan"));
        QCOMPARE(f.window->windowTitle(), QStringLiteral("Quelvan 2.x.4"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("Quelvan 2.x.4"));
        QVERIFY(f.window->findChild<QPlainTextEdit*>("mem")->isReadOnly());
        QVERIFY(!f.window->StatusTimer().isActive());
        QCOMPARE(f.window->StatusTimer().interval(), 500);
        QCOMPARE(f.window->StatusTimer().objectName(), QStringLiteral("tmrQuelvan"));
        QVERIFY(!f.window->VisualizeTimer().isActive());
        QCOMPARE(f.window->VisualizeTimer().interval(), 25);
        QCOMPARE(f.window->VisualizeTimer().objectName(), QStringLiteral("tmrVisualize"));
        for (int panel = 1; panel < 4; ++panel) QVERIFY(f.Panel(panel).isEmpty());

        // The devices found follow the two lines, each with its time stamp.
        f.clock.SetTimeOfDay(7, 5, 10);
        f.Discover();
        QVERIFY(f.LogLines().size() > 2);
        QVERIFY(f.LogLines()[2].startsWith("[17.05.24 07:05:10] HID 0: 16C0:05DF "));
    }

    void hasNinePagesWithTwoHiddenTabs() {
        WindowFixture f;
        const QTabWidget& pc = f.window->PageControl();
        QCOMPARE(pc.objectName(), QStringLiteral("pc"));
        const QStringList names = {"tsChannelsAF", "tsChannelsGL", "tsData", "tsVisualize", "tsConfig",
                                   "tsWeather",    "tsExpert",     "tsJMP",  "tsMessages"};
        const QStringList captions = {"Kanäle A-F",  "Kanäle G-L",       "Tabelle", "Grafik",   "Konfiguration",
                                      "Wetter/Mond", "Expertenoptionen", "JMP-Pin", "Meldungen"};
        QCOMPARE(pc.count(), names.size());
        for (int i = 0; i < pc.count(); ++i) {
            QCOMPARE(pc.widget(i)->objectName(), names[i]);
            QCOMPARE(pc.tabText(i), captions[i]);
            const bool hidden = names[i] == "tsExpert" || names[i] == "tsJMP";
            QCOMPARE(pc.isTabVisible(i), !hidden);
        }
    }

    // Readable: the tabs wrap onto rows instead of scrolling. Every tab lies inside the
    // window with its whole caption, no two overlap, the page starts below them, and a tab
    // of any row is clicked like any other.
    void tabsWrapInsideTheWindow_data() {
        QTest::addColumn<int>("width");  // 0: the smallest window
        QTest::addColumn<bool>("allPages");
        QTest::addColumn<int>("rows");  // 0: as many as needed
        QTest::newRow("smallest, every page") << 0 << true << 2;
        QTest::newRow("smallest, usual pages") << 0 << false << 1;
        QTest::newRow("800 px, every page") << 800 << true << 0;
        QTest::newRow("1920 px, every page") << 1920 << true << 1;
    }
    void tabsWrapInsideTheWindow() {
        QFETCH(int, width);
        QFETCH(bool, allPages);
        QFETCH(int, rows);
        WindowFixture f;
        f.window->show();
        f.window->resize(width > 0 ? QSize(width, 700) : f.window->minimumSize());
        if (allPages)
            for (const char* item : {"mnuShowExpert", "mnuShowJMP"}) f.Action(item)->trigger();
        QCoreApplication::processEvents();
        QTabWidget& pc = f.window->PageControl();
        auto* bar = static_cast<WrappingTabBar*>(pc.tabBar());
        if (rows > 0) QCOMPARE(bar->RowCount(), rows);
        QList<QRect> taken;
        int last = -1;
        for (int i = 0; i < pc.count(); ++i) {
            if (!pc.isTabVisible(i)) continue;
            const QRect tab = bar->WrappedTabRect(i);
            const QRect inWindow(bar->mapTo(f.window.get(), tab.topLeft()), tab.size());
            QVERIFY2(f.window->rect().contains(inWindow), qPrintable(pc.tabText(i)));
            QVERIFY2(bar->rect().contains(tab), qPrintable(pc.tabText(i)));
            QVERIFY2(tab.width() >= bar->fontMetrics().horizontalAdvance(pc.tabText(i)), qPrintable(pc.tabText(i)));
            for (const QRect& other : taken) QVERIFY2(!other.intersects(tab), qPrintable(pc.tabText(i)));
            taken << tab;
            last = i;
        }
        QCOMPARE(taken.size(), allPages ? 9 : 7);
        QVERIFY(pc.currentWidget()->mapTo(f.window.get(), QPoint(0, 0)).y() >=
                bar->mapTo(f.window.get(), QPoint(0, bar->height())).y());
        // The pages lose the room of the extra rows; the last channel row stays whole.
        for (const char* button : {"btnOn5", "btnOn11"}) {
            auto* on = f.window->findChild<QWidget*>(button);
            pc.setCurrentWidget(on->parentWidget());
            QVERIFY2(on->geometry().bottom() < on->parentWidget()->height(), button);
        }
        // The last tab, on the last row: a click on it shows its page.
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->WrappedTabRect(last).center());
        QCOMPARE(pc.currentIndex(), last);
    }

    void menuTreeHasItsItemsInOrder() {
        WindowFixture f;
        QMenuBar* bar = f.window->menuBar();
        QCOMPARE(bar->objectName(), QStringLiteral("mnuMain"));
        QStringList top;
        for (QAction* a : bar->actions()) top << a->text();
        QCOMPARE(top, (QStringList{"&Datei", "&Optionen", "ALLES &AUS", "ALLES &EIN", "&Hilfe"}));
        QCOMPARE(bar->actions()[2], f.Action("mnuAllOff"));
        QCOMPARE(bar->actions()[3], f.Action("mnuAllOn"));

        // Each menu: object names in order ("-" a separator), then caption and kind.
        auto items = [&](const char* menu) {
            QStringList list;
            for (QAction* a : f.window->findChild<QMenu*>(menu)->actions())
                list << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
            return list;
        };
        QCOMPARE(items("mnuFile"), (QStringList{"mnuDataImport", "mnuConfigImport", "-", "mnuDataConfigExport", "-",
                                                "mnuFlash", "-", "mnuExit"}));
        QCOMPARE(items("mnuMode"),
                 (QStringList{"mnuModeManual", "mnuModeAuto", "mnuModeDemo", "mnuModeFlash", "mnuModeSlave", "-",
                              "mnuStep", "-", "mnuShowExpert", "mnuShowJMP", "-", "mnuSaveEEPROM", "-",
                              "mnuDaylight"}));
        QCOMPARE(items("mnuHelp"), QStringList{"mnuDravik"});

        // The captions as they read, each with the letter that Alt or the open menu takes
        // (written before it with "&").
        struct Item {
            const char* name;
            const char* caption;
            bool checkable;
        };
        const Item table[] = {
            {"mnuDataImport", "Tabelle &importieren von...", false},
            {"mnuConfigImport", "&Konfiguration importieren von...", false},
            {"mnuDataConfigExport", "Tabelle und Konfiguration &exportieren nach...", false},
            {"mnuFlash", "&Firmware aktualisieren...", false},
            {"mnuExit", "&Beenden", false},
            {"mnuModeManual", "&Manuell", true},
            {"mnuModeAuto", "&Auto", true},
            {"mnuModeDemo", "&Demo", true},
            {"mnuModeFlash", "&Flash", true},
            {"mnuModeSlave", "&Slave", true},
            {"mnuStep", "&Große Schrittweite", true},
            {"mnuShowExpert", "Seite \"&Expertenoptionen\" einblenden", true},
            {"mnuShowJMP", "Seite \"&JMP-Pin\" einblenden", true},
            {"mnuSaveEEPROM", "Einstellungen im EE&PROM speichern", false},
            {"mnuAllOff", "ALLES &AUS", false},
            {"mnuAllOn", "ALLES &EIN", false},
            {"mnuDravik", "&www.dravik.info", false},
        };
        for (const Item& item : table) {
            QAction* action = f.Action(item.name);
            QVERIFY2(action, item.name);
            QCOMPARE(action->text(), QString::fromUtf8(item.caption));
            QCOMPARE(action->isCheckable(), item.checkable);
            QVERIFY(!action->isChecked());
        }
        // Every title and item has a letter, and no two in one menu share it.
        QList<QList<QAction*>> menus = {bar->actions()};
        for (const char* menu : {"mnuFile", "mnuMode", "mnuHelp"})
            menus << f.window->findChild<QMenu*>(menu)->actions();
        for (const QList<QAction*>& actions : menus) {
            QSet<QKeySequence> letters;
            for (QAction* a : actions) {
                if (a->isSeparator()) continue;
                const QKeySequence letter = QKeySequence::mnemonic(a->text());
                QVERIFY2(!letter.isEmpty(), qPrintable(a->text()));
                QVERIFY2(!letters.contains(letter), qPrintable(a->text()));
                letters.insert(letter);
            }
        }
        // The five modes are radio items: one group, exclusive.
        QActionGroup* group = f.Action("mnuModeManual")->actionGroup();
        QVERIFY(group && group->isExclusive());
        for (const char* mode : {"mnuModeAuto", "mnuModeDemo", "mnuModeFlash", "mnuModeSlave"})
            QCOMPARE(f.Action(mode)->actionGroup(), group);
        QVERIFY(!f.Action("mnuStep")->actionGroup());
    }

    void disabledControlsLeaveServiceItemsUsable() {
        WindowFixture f;
        for (const char* name : kDeviceBound) QVERIFY2(!f.Enabled(name), name);
        for (const char* name : kAlwaysUsable) QVERIFY2(f.Enabled(name), name);
        QVERIFY(f.Enabled("mem"));
        QVERIFY(f.Enabled("tsChannelsAF"));

        f.window->SetControlsEnabled(true);
        for (const char* name : kDeviceBound) QVERIFY2(f.Enabled(name), name);
        f.window->SetControlsEnabled(false);
        for (const char* name : kDeviceBound) QVERIFY2(!f.Enabled(name), name);
        for (const char* name : kAlwaysUsable) QVERIFY2(f.Enabled(name), name);
    }

    // Controls that the settings pages add are covered by name; these have conditions.
    void conditionalControlsFollowTheirRules_data() {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("sensor");
        QTest::addColumn<bool>("water");
        QTest::addColumn<QString>("jmpMode");
        QTest::addColumn<bool>("expectFMOWater");
        QTest::addColumn<bool>("expectWaterEdits");
        QTest::addColumn<bool>("expectJMPEdits");
        QTest::newRow("disconnected") << false << true << true << "rbtJMPCooler" << false << false << false;
        QTest::newRow("sensor, LED fans") << true << true << false << "rbtJMPIRLearn" << true << false << false;
        QTest::newRow("sensor, water fans, cooler") << true << true << true << "rbtJMPCooler" << true << true << true;
        QTest::newRow("no sensor, water still checked")
            << true << false << true << "rbtJMPHeater" << false << true << true;
        QTest::newRow("storm pin") << true << false << false << "rbtJMPStorm" << false << false << false;
    }
    void conditionalControlsFollowTheirRules() {
        QFETCH(bool, enabled);
        QFETCH(bool, sensor);
        QFETCH(bool, water);
        QFETCH(QString, jmpMode);
        WindowFixture f;
        f.backend.Board().MutableSettings().temperatureSensor = sensor;
        f.Discover();

        // The settings pages' own buttons, checked as a user would check them.
        auto check = [&](const QString& name) {
            auto* button = f.window->findChild<QRadioButton*>(name);
            QVERIFY2(button, qPrintable(name));
            button->setChecked(true);
        };
        check(water ? "rbtFMOWater" : "rbtFMOLED");
        check(jmpMode);

        f.window->SetControlsEnabled(enabled);
        QTEST(f.Enabled("rbtFMOWater"), "expectFMOWater");
        QTEST(f.Enabled("edtTempWaterLow"), "expectWaterEdits");
        QTEST(f.Enabled("edtTempWaterHigh"), "expectWaterEdits");
        QTEST(f.Enabled("edtTempJMPLow"), "expectJMPEdits");
        QTEST(f.Enabled("edtTempJMPHigh"), "expectJMPEdits");
        for (const char* name : {"rbtFMOLED", "rbtJMPStorm", "edtTempOffset", "edtMoon0", "edtLightning11"})
            QCOMPARE(f.Enabled(name), enabled);
    }

    void statusPanelsScaleWithPixelDensity_data() {
        QTest::addColumn<double>("ppi");
        QTest::addColumn<QList<int>>("right");  // panels 1 to 3
        QTest::addColumn<int>("rightTotal");
        QTest::newRow("96") << 96.0 << QList<int>{80, 60, 130} << 270;
        QTest::newRow("144") << 144.0 << QList<int>{120, 90, 195} << 405;
        // 120 ppi: 80 × 1.25 = 100, 60 × 1.25 = 75, 130 × 1.25 = 162.5 → 162 (halves to even).
        QTest::newRow("120") << 120.0 << QList<int>{100, 75, 162} << 338;
    }
    void statusPanelsScaleWithPixelDensity() {
        QFETCH(double, ppi);
        QFETCH(QList<int>, right);
        QFETCH(int, rightTotal);
        WindowFixture f({}, MainWindowOptions{ppi, {}, {}});
        f.window->show();
        for (int width : {900, 1200}) {
            f.window->resize(width, 700);
            QTRY_COMPARE(f.window->width(), width);
            const PanelStatusBar& sb = f.window->StatusPanels();
            QCOMPARE(sb.objectName(), QStringLiteral("sb"));
            // The scaled design widths, or wider where the window's font needs it for the
            // panel's text (StatusBarTest); panel 0 takes the rest.
            int total = 0;
            for (int panel = 1; panel <= 3; ++panel) {
                QVERIFY(sb.PanelWidth(panel) >= right[panel - 1]);
                if (ppi > 96) QCOMPARE(sb.PanelWidth(panel), right[panel - 1]);
                total += sb.PanelWidth(panel);
            }
            // Round(ppi × 270 / 96) where no panel needs more: 338 at 120 ppi, not 100 + 75 + 162.
            QCOMPARE(sb.PanelWidth(0), sb.width() - (ppi > 96 ? rightTotal : total));
        }
        QCOMPARE(f.window->width(), 1200);
    }

    // Readable: a status text too long for its panel ends in "…" and is shown whole as the
    // panel's tool tip; the window's own copy of it stays whole.
    void longStatusTextIsShortenedWithItsWholeTextAsToolTip_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("shortened");
        const QString permission = QStringLiteral(
            "Quelvan 2.x erkannt, aber der Zugriff auf die Platine ist nicht erlaubt. Bitte die udev-Regel "
            "dist/linux/70-quelvan.rules installieren (siehe docs/udev.md) und die Platine neu anstecken.");
        QTest::newRow("long, smallest window") << permission << 0 << true;
        QTest::newRow("long, wide window") << permission << 1920 << false;
        QTest::newRow("short") << QStringLiteral("Quelvan 2.x.4 erkannt") << 0 << false;
    }
    void longStatusTextIsShortenedWithItsWholeTextAsToolTip() {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(bool, shortened);
        WindowFixture f;
        f.window->show();
        f.window->resize(width > 0 ? QSize(width, 700) : f.window->minimumSize());
        f.window->ReportStatus(text);
        auto* panel = f.window->findChild<QLabel*>("sbPanel0");
        QVERIFY(panel);
        QCOMPARE(f.Panel(0), text);
        QCOMPARE(f.LogTexts().last(), text);
        const int room = panel->contentsRect().width() - 2 * panel->indent();
        QVERIFY(panel->fontMetrics().horizontalAdvance(panel->text()) <= room);
        QCOMPARE(panel->text().endsWith(QChar(0x2026)), shortened);
        QCOMPARE(panel->text() == text, !shortened);
        QCOMPARE(panel->toolTip(), shortened ? text : QString());
        // Readable without the mouse too, cut or not.
        QCOMPARE(panel->accessibleDescription(), text);
    }

    void windowSizeScalesWithPixelDensity() {
        WindowFixture f({}, MainWindowOptions{144.0, {}, {}});
        const int menuHeight = f.window->menuBar()->sizeHint().height();
        QCOMPARE(f.window->width(), 1023);  // 682 × 1.5
        QCOMPARE(f.window->height(), 840 + menuHeight);
        QCOMPARE(f.window->StatusPanels().height(), 36);
        // The minimum is not scaled.
        WindowFixture g({}, MainWindowOptions{96.0, {}, {}});
        QCOMPARE(g.window->minimumSize(), f.window->minimumSize());
    }

    // Remembered: size and place of the window from the last run; the start page still
    // follows the board's mode. Tests and the screenshot tool, without a settings file,
    // always start at the design size.
    void sizeAndPlaceAreRemembered_data() {
        QTest::addColumn<bool>("settingsFile");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("startPage");
        QTest::newRow("remembered, mode Auto") << true << 1 << "tsData";
        QTest::newRow("remembered, mode Manuell") << true << 0 << "tsChannelsAF";
        QTest::newRow("not remembered without a file") << false << 0 << "tsChannelsAF";
    }
    void sizeAndPlaceAreRemembered() {
        QFETCH(bool, settingsFile);
        QFETCH(int, mode);
        QTemporaryDir dir;
        MainWindowOptions options{96.0, {}, settingsFile ? dir.filePath("quelvan.conf") : QString()};
        const QRect placed(38, 10, 760, 590);  // within the offscreen screen of 800 × 600
        QSize designSize;
        {
            WindowFixture f({}, options);
            designSize = f.window->size();
            f.window->show();
            f.window->setGeometry(placed);
            QTRY_COMPARE(f.window->geometry(), placed);
            f.window->close();
        }
        WindowFixture again({}, options);
        again.backend.Board().Config().Mode = static_cast<std::uint8_t>(mode);
        again.window->show();
        again.Discover();
        // The size as it was; the place as it was up to the frame, which the platform adds
        // (centred, the window would stand at x = 20).
        if (settingsFile) {
            QCOMPARE(again.window->size(), placed.size());
            QVERIFY2(std::abs(again.window->x() - placed.x()) <= 4, qPrintable(QString::number(again.window->x())));
        } else {
            QCOMPARE(again.window->size(), designSize);
        }
        QTEST(again.CurrentPage()->objectName(), "startPage");
    }

    void exitClosesAndReleasesBothSlots() {
        WindowFixture f;
        f.window->show();
        f.Discover();
        QVERIFY(f.window->BoardDevice());
        f.Action("mnuExit")->trigger();
        QVERIFY(!f.window->isVisible());
        QVERIFY(!f.window->BoardDevice());
        QVERIFY(!f.window->StatusTimer().isActive());
        // Released, not lost: the board can be handed out again.
        QVERIFY(f.window->HidCtl().AcquireDevice(0));
    }

    void logTimeStampFollowsTheLocale() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        WindowFixture f;
        f.clock.Set(LocalDateTime{2024, 12, 3, 15, 4, 5, 0});
        f.window->LogMessage("x");
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QVERIFY(f.LogLines().last().startsWith("[12/3/24 3:04:05"));
        QVERIFY(f.LogLines().last().endsWith("PM] x"));
    }
};

QUELVAN_WINDOW_TEST(MainWindowTest)
#include "main_window_test.moc"
