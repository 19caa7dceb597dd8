// The settings file from the "Datei" menu on the simulated board: the dialogs, what an
// export writes and keeps, what the two imports change and send, and their failures.

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include "schedule_window.h"
#include "window/labeled_edit.h"
#include "window_test_main.h"

using namespace quelvan;
using namespace quelvan::test;

namespace {

const std::vector<ScheduleEntry> kUnsorted = {Entry(12, 0, {100}), Entry(6, 30, {40}), Entry(24, 0, {0}),
                                              Entry(0, 0, {5})};

QString ReadText(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll());
}

void WriteText(const QString& path, const QString& text) {
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(text.toUtf8());
}

// The section names of an INI text, in order.
QStringList Sections(const QString& text) {
    QStringList names;
    for (const QString& line : text.split('\n'))
        if (line.startsWith('[')) names << line.mid(1, line.indexOf(']') - 1);
    return names;
}

}  // namespace

class FileCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void exportTakesTheGridSortedAndKeepsTheRestOfTheFile() {
        ScheduleWindow f(kUnsorted);
        QTemporaryDir dir;
        const QString path = dir.filePath("tank.ini");
        WriteText(path, "; my notes\n[Extra]\nKeep=1\n[7]\nHour=3\n");
        f.dialogs.SetNextFileName(path);
        f.Action("mnuDataConfigExport")->trigger();

        const auto& call = f.dialogs.Calls().back();
        QCOMPARE(call.kind, ScriptedDialogService::Kind::Save);
        QCOMPARE(call.title, QStringLiteral("Tabelle und Konfiguration exportieren nach..."));
        QCOMPARE(call.filter, QStringLiteral("Quelvan-Konfiguration (*.ini)"));
        QCOMPARE(call.defaultSuffix, QStringLiteral(".ini"));
        QVERIFY2(f.TransferSummary().isEmpty(), "an export sends nothing to the board");

        const QString text = ReadText(path);
        // Row 7 of an earlier, longer table goes, and the window says so.
        QCOMPARE(Sections(text), (QStringList{"Extra", "Config", "Weather", "Names", "RC5", "0", "1", "2", "3"}));
        QCOMPARE(f.Panel(0),
                 "Tabelle und Konfiguration exportiert nach tank.ini. Die Zeile 7 einer früheren, "
                 "längeren Tabelle wurde aus der Datei " +
                     path + " entfernt.");
        QVERIFY(text.contains("; my notes"));
        QSettings ini(path, QSettings::IniFormat);  // an independent reading
        const QStringList times = {"0:0", "6:30", "12:0", "24:0"};
        for (int row = 0; row < 4; ++row) {
            ini.beginGroup(QString::number(row));
            QCOMPARE(ini.value("Hour").toString() + ':' + ini.value("Minute").toString(), times[row]);
            ini.endGroup();
        }
        QVERIFY(!ini.contains("7/Hour"));
        QCOMPARE(ini.value("Extra/Keep").toInt(), 1);
        QCOMPARE(ini.value("Config/Mode").toInt(), int(f.window->Board().config.Mode));
        // The grid shows the table sorted.
        QCOMPARE(f.Grid().Cell(1, 1), QStringLiteral("00:00"));
        QCOMPARE(f.Grid().Cell(1, 4), QStringLiteral("24:00"));
    }

    // Rows that never arrived would go into the file as made-up ones: the export is refused
    // like the upload, until the table has been read completely again.
    void exportOfATableNotReadCompletelyIsRefused() {
        ScheduleWindow f(kUnsorted);
        f.backend.FailNext(false, report::kSchedule, 1);
        f.ClickTab("tsData");
        f.ClickTab("tsMessages");
        QTemporaryDir dir;
        const QString path = dir.filePath("tank.ini");
        f.dialogs.SetNextFileName(path);
        const auto dialogs = f.dialogs.Calls().size();
        f.Action("mnuDataConfigExport")->trigger();
        QVERIFY(!QFile::exists(path));
        QCOMPARE(f.dialogs.Calls().size(), dialogs);
        const QString refused = QStringLiteral(
            "Die Tabelle wurde nicht vollständig von der Platine gelesen und wird daher nicht exportiert. Bitte die "
            "Seite \"Tabelle\" neu öffnen.");
        QCOMPARE(f.Panel(0), refused);
        QCOMPARE(f.LogTexts().last(), refused);

        f.ClickTab("tsData");
        f.Action("mnuDataConfigExport")->trigger();
        QCOMPARE(Sections(ReadText(path)), (QStringList{"Config", "Weather", "Names", "RC5", "0", "1", "2", "3"}));
    }

    void exportThatCannotBeWrittenIsReported() {
        ScheduleWindow f(kUnsorted);
        QTemporaryDir dir;
        const QString path = dir.filePath("missing/tank.ini");
        f.dialogs.SetNextFileName(path);
        f.Action("mnuDataConfigExport")->trigger();
        const QString message = "FEHLER: Datei " + path + " konnte nicht geschrieben werden!";
        QCOMPARE(f.Panel(0), message);
        QCOMPARE(f.LogTexts().last(), message);
    }

    void configImportWritesTheWholeRecordWithTheFilesValues() {
        ScheduleWindow f(kUnsorted);
        QTemporaryDir dir;
        const QString path = dir.filePath("fan.ini");
        WriteText(path, "[config]\r\nfanlow = 0x0A\r\n[Names]\r\nColorName1=4\r\n[RC5]\r\nStep=$1F\r\n");
        DeviceConfig expected = f.backend.Board().Config();
        expected.FanLow = 10;
        expected.ColorName[1] = 4;
        expected.RC5.Step = 31;
        f.dialogs.SetNextFileName(path);
        f.Action("mnuConfigImport")->trigger();

        QCOMPARE(f.dialogs.Calls().back().title, QStringLiteral("Konfiguration importieren von..."));
        QCOMPARE(f.TransferSummary(), (QStringList{"set 2 28", "set 4 17", "set 5 29", "set 6 25"}));
        QCOMPARE(f.backend.Board().Config(), expected);
        // The names show at once, and the start page follows the mode ("Auto": "Tabelle").
        QCOMPARE(f.window->findChild<LabeledEdit*>("edt1")->LabelText(), QStringLiteral("Blau"));
        QCOMPARE(f.Grid().Cell(3, 0), QStringLiteral("Blau"));
        QCOMPARE(f.CurrentPage(), f.Page("tsData"));
    }

    void tableImportFillsTheBoardsRowsAndUploadsThemSorted() {
        ScheduleWindow f(kUnsorted);
        QTemporaryDir dir;
        const QString path = dir.filePath("day.ini");
        QString text;
        // Six rows for a board of four: rows 4 and 5 are ignored; row 2 lacks its minute.
        const int hours[] = {20, 8, 10, 9, 1, 2};
        for (int row = 0; row < 6; ++row) {
            text += QString("[%1]\nHour=%2\n").arg(row).arg(hours[row]);
            if (row != 2) text += "Minute=15\n";
            text += QString("Color0=%1\n").arg(44 + row);
        }
        WriteText(path, text);
        f.dialogs.SetNextFileName(path);
        f.Action("mnuDataImport")->trigger();

        QCOMPARE(f.dialogs.Calls().back().title, QStringLiteral("Tabelle importieren von..."));
        const std::vector<Bytes> writes = f.RowWrites();
        QCOMPARE(writes.size(), std::size_t{4});
        // Row 2 keeps the minute of the board's 24:00 entry; sorted: 08:15, 09:15, 20:15, 24:...
        QCOMPARE(writes[0], RowWrite(0, Entry(8, 15, {45})));
        QCOMPARE(writes[1], RowWrite(1, Entry(9, 15, {47})));
        QCOMPARE(writes[2], RowWrite(2, Entry(10, 0, {46})));
        QCOMPARE(writes[3], RowWrite(3, Entry(20, 15, {44})));
        QCOMPARE(f.Grid().Cell(1, 1), QStringLiteral("08:15"));
    }

    // A file whose table the board cannot run (a time past 24:00, a percentage above 100, a
    // number no byte holds, which the table would keep as its low byte: 300 as 44, 264 o'clock
    // as 8) is shown on "Tabelle" as the file has it, its bad cells named, and nothing is
    // uploaded, by the import or by "Hochladen", until they are corrected.
    void tableImportWithBadValuesIsShownButNotUploaded() {
        ScheduleWindow f(kUnsorted);
        QTemporaryDir dir;
        const QString path = dir.filePath("day.ini");
        WriteText(path,
                  "[0]\nHour=25\nMinute=0\nColor0=10\n[1]\nHour=6\nMinute=30\nColor0=150\n[2]\nHour=264\n"
                  "Minute=0\nColor0=20\nColor1=300\n[3]\nHour=24\nMinute=0\nColor0=0\n");
        f.dialogs.SetNextFileName(path);
        f.Action("mnuDataImport")->trigger();
        QVERIFY(f.RowWrites().empty());
        const QString b = f.Grid().Cell(3, 0);
        const QString named = QStringLiteral(
                                  "ungültige Werte in Pos. 0 \"Zeit\" (25:00), Pos. 1 \"Weiß\" (150), Pos. 2 \"Zeit\" "
                                  "(264:00), Pos. 2 \"%1\" (300)")
                                  .arg(b);
        const QString said = "Tabelle aus day.ini importiert, aber nicht hochgeladen: " + named +
                             ". Bitte korrigieren und \"Hochladen\" klicken.";
        QCOMPARE(f.Panel(0), said);
        QCOMPARE(f.LogTexts().last(), said);
        // Shown where it can be corrected; the page was made active without reading the board.
        QCOMPARE(f.CurrentPage(), f.Page("tsData"));
        QCOMPARE(f.Grid().Cell(1, 1), QStringLiteral("25:00"));
        QCOMPARE(f.Grid().Cell(2, 2), QStringLiteral("150"));
        QCOMPARE(f.Grid().Cell(1, 3), QStringLiteral("264:00"));
        QCOMPARE(f.Grid().Cell(3, 3), QStringLiteral("300"));
        QCOMPARE(f.backend.CountTransfers(false, report::kSchedule), 0);
        // "Hochladen" refuses it as well, naming the cells again where they stand.
        QTest::mouseClick(f.window->findChild<QPushButton*>("btnUpload"), Qt::LeftButton);
        QVERIFY(f.RowWrites().empty());
        QCOMPARE(f.Panel(0), "Tabelle nicht hochgeladen: " + named + ". Bitte korrigieren und erneut hochladen.");
        QCOMPARE(f.Grid().Cell(3, 3), QStringLiteral("300"));

        f.TypeIntoCell(1, 1, "23:00");
        f.TypeIntoCell(2, 2, "100");
        f.TypeIntoCell(1, 3, "12:00");
        f.TypeIntoCell(3, 3, "30");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCoreApplication::processEvents();  // the grid commits an edit on Enter through the event loop
        QTest::mouseClick(f.window->findChild<QPushButton*>("btnUpload"), Qt::LeftButton);
        const std::vector<Bytes> expected = {RowWrite(0, Entry(6, 30, {100})), RowWrite(1, Entry(12, 0, {20, 30})),
                                             RowWrite(2, Entry(23, 0, {10})), RowWrite(3, Entry(24, 0, {0}))};
        QCOMPARE(f.RowWrites(), expected);
    }

    // Feedback: an export or import that succeeds says so in the status bar, in place of an
    // older error, without a line in the log.
    void successesReplaceAnOlderError_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("status");
        QTest::newRow("export") << "mnuDataConfigExport"
                                << "Tabelle und Konfiguration exportiert nach tank.ini";
        QTest::newRow("config import") << "mnuConfigImport"
                                       << "Konfiguration importiert aus tank.ini";
        QTest::newRow("table import") << "mnuDataImport"
                                      << "Tabelle importiert aus tank.ini";
    }
    void successesReplaceAnOlderError() {
        QFETCH(QString, action);
        QFETCH(QString, status);
        ScheduleWindow f(kUnsorted);
        QTemporaryDir dir;
        const QString path = dir.filePath("tank.ini");
        f.dialogs.SetNextFileName(path);
        f.Action("mnuDataConfigExport")->trigger();  // the file the imports read
        // An export that fails leaves its error in the status bar.
        f.dialogs.SetNextFileName(dir.filePath("no/such/folder/x.ini"));
        f.Action("mnuDataConfigExport")->trigger();
        QVERIFY(f.Panel(0).startsWith("FEHLER"));
        const QStringList log = f.LogLines();
        f.dialogs.SetNextFileName(path);
        f.Action(action.toLatin1())->trigger();
        QCOMPARE(f.Panel(0), status);
        QCOMPARE(f.LogLines(), log);
    }

    // One language, remembered: the file dialogs start in the folder a file was last chosen
    // in, also after a restart, and in the user's home when there is none (or it is gone).
    void dialogsStartInTheFolderUsedLast_data() {
        QTest::addColumn<QString>("chosen");  // "file", "cancel" or "gone" (chosen, then removed)
        QTest::addColumn<bool>("inChosenFolder");
        QTest::newRow("nothing chosen yet") << "" << false;
        QTest::newRow("a file chosen") << "file" << true;
        QTest::newRow("the dialog cancelled") << "cancel" << false;
        QTest::newRow("the folder removed since") << "gone" << false;
    }
    void dialogsStartInTheFolderUsedLast() {
        QFETCH(QString, chosen);
        QFETCH(bool, inChosenFolder);
        QTemporaryDir dir;
        const QString folder = dir.filePath("tank");
        QVERIFY(QDir().mkpath(folder));
        MainWindowOptions options;
        options.settingsFile = dir.filePath("quelvan.conf");
        {
            WindowFixture f({}, options);
            f.Discover();
            QCOMPARE(f.window->od.directory, QDir::homePath());
            if (!chosen.isEmpty()) {
                f.dialogs.SetNextFileName(chosen == "cancel" ? std::nullopt
                                                             : std::optional<QString>(folder + "/a.ini"));
                f.Action("mnuDataConfigExport")->trigger();
                // The next dialog of this run starts there too.
                f.dialogs.SetNextFileName(std::nullopt);
                f.Action("mnuConfigImport")->trigger();
                QCOMPARE(f.dialogs.Calls().back().directory, chosen == "cancel" ? QDir::homePath() : folder);
            }
        }
        if (chosen == "gone") QVERIFY(QDir(folder).removeRecursively());
        WindowFixture again({}, options);
        again.Discover();
        again.dialogs.SetNextFileName(std::nullopt);
        again.Action("mnuDataImport")->trigger();
        QCOMPARE(again.dialogs.Calls().back().directory, inChosenFolder ? folder : QDir::homePath());
        QCOMPARE(again.window->sd.directory, inChosenFolder ? folder : QDir::homePath());
    }

    void cancelledOrUnreadableImportsSendNothing_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("cancel");
        QTest::newRow("config cancelled") << "mnuConfigImport" << true;
        QTest::newRow("table cancelled") << "mnuDataImport" << true;
        QTest::newRow("config missing") << "mnuConfigImport" << false;
        QTest::newRow("table missing") << "mnuDataImport" << false;
        QTest::newRow("config, no settings in the file") << "mnuConfigImport" << false;
        QTest::newRow("table, no settings in the file") << "mnuDataImport" << false;
    }
    void cancelledOrUnreadableImportsSendNothing() {
        QFETCH(QString, action);
        QFETCH(bool, cancel);
        ScheduleWindow f(kUnsorted);
        QTemporaryDir dir;
        QString path = dir.filePath("gone.ini");
        // A file that holds none of the sections the import reads is no success either.
        const bool empty = QString(QTest::currentDataTag()).contains("no settings");
        if (empty) {
            path = dir.filePath("notes.ini");
            WriteText(path, "[Notes]\nFanLow=1\n[4]\nHour=2\n");
        }
        f.dialogs.SetNextFileName(cancel ? std::nullopt : std::optional<QString>(path));
        const QString before = f.Panel(0);
        f.Action(action.toLatin1())->trigger();
        QVERIFY(f.TransferSummary().isEmpty());
        const QString message = empty ? "FEHLER: Keine Einstellungen in der Datei " + path + " gefunden!"
                                      : "FEHLER: Datei " + path + " nicht gefunden!";
        QCOMPARE(f.Panel(0), cancel ? before : message);
    }
};

QUELVAN_WINDOW_TEST(FileCommandsTest)
#include "file_commands_test.moc"
