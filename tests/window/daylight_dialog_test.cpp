// "Optionen" → "Tageslicht nach Ort …" on the simulated board: the maxima from the board's
// program, a place typed into the dialog, the preview with its largest difference, and
// "Übernehmen" filling the table on "Tabelle", which "Hochladen" then writes; the place is
// remembered for the next time.

#include "window/daylight_dialog.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>

#include "schedule/schedule_table.h"
#include "schedule/time_text.h"
#include "schedule_window.h"
#include "window/graph_image.h"
#include "window/schedule_grid.h"
#include "window/table_page.h"
#include "window_fixture.h"
#include "window_test_main.h"

using namespace quelvan;
using test::Entry;
using test::RowWrite;
using test::ScheduleWindow;

namespace {

// A board program of 24 rows: channel A up to 80 %, C up to 40 %, the rest off.
std::vector<ScheduleEntry> BoardProgram() {
    std::vector<ScheduleEntry> rows;
    for (int i = 0; i < 24; ++i)
        rows.push_back(Entry(
            i, 0, {static_cast<std::uint8_t>(i == 12 ? 80 : 10), 0, static_cast<std::uint8_t>(i == 13 ? 40 : 0)}));
    return rows;
}

DaylightDialog* OpenDialog(ScheduleWindow& f) {
    f.Action("mnuDaylight")->trigger();
    return f.window->findChild<DaylightDialog*>("dlgDaylight");
}

}  // namespace

class DaylightDialogTest : public QObject {
    Q_OBJECT

private slots:
    void menuItemFollowsTheSpecifiedOnes() {
        ScheduleWindow f(BoardProgram());
        QAction* item = f.Action("mnuDaylight");
        QVERIFY(item);
        QCOMPARE(item->text(), QStringLiteral("&Tageslicht nach Ort …"));
        const QList<QAction*> actions = f.window->Menu().mnuMode->actions();
        QCOMPARE(actions.back(), item);
        QVERIFY(actions.indexOf(f.Action("mnuSaveEEPROM")) < actions.indexOf(item));
    }

    void typingAPlacePreviewsAndUebernehmenFillsTheTable() {
        QTemporaryDir dir;
        MainWindowOptions options;
        options.settingsFile = dir.filePath("quelvan.conf");
        ScheduleWindow f(BoardProgram(), options);
        DaylightDialog* dialog = OpenDialog(f);
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        // The maxima come from the board's program.
        QCOMPARE(dialog->findChild<QSpinBox*>("edtMax0")->value(), 80);
        QCOMPARE(dialog->findChild<QSpinBox*>("edtMax1")->value(), 0);
        QCOMPARE(dialog->findChild<QSpinBox*>("edtMax2")->value(), 40);
        QVERIFY(!dialog->findChild<QPushButton*>("btnDaylightApply")->isEnabled());

        auto* place = dialog->findChild<QLineEdit*>("edtPlace");
        auto* date = dialog->findChild<QDateEdit*>("edtDate");
        QCOMPARE(date->date(), QDate(2024, 5, 17));  // today, from the computer's clock
        date->setDate(QDate(2026, 3, 20));
        place->setFocus();
        QTest::keyClicks(place, "manaus");
        QCOMPARE(dialog->findChild<QLineEdit*>("edtLatitude")->text(), QStringLiteral("-3.1333"));
        QCOMPARE(dialog->findChild<QLineEdit*>("edtLongitude")->text(), QStringLiteral("-60.0167"));
        const QString result = dialog->findChild<QLabel*>("lblDaylightResult")->text();
        QVERIFY2(result.contains("Sonnenaufgang 06:0") && result.contains("Sonnenuntergang 18:1"), qPrintable(result));
        QVERIFY2(result.contains("größte Abweichung"), qPrintable(result));
        QVERIFY(dialog->MaxError() && *dialog->MaxError() <= 1.0);
        const std::vector<ScheduleEntry> rows = dialog->Rows();
        QCOMPARE(rows.size(), std::size_t{24});
        int top = 0;
        for (const ScheduleEntry& r : rows) top = std::max<int>(top, r.Color[0]);
        QCOMPARE(top, 80);

        // The preview is the graph of the rows, with sunrise and sunset marked.
        const QImage preview = dialog->findChild<GraphImage*>("imgDaylightPreview")->Image();
        QVERIFY(!preview.isNull());
        const QString shot = QDir::temp().filePath("quelvan-daylight-dialog.png");
        dialog->grab().save(shot);
        qInfo("dialog picture: %s", qPrintable(shot));

        // By keyboard: the button takes the focus and the space bar presses it.
        f.backend.ClearTransfers();
        auto* apply = dialog->findChild<QPushButton*>("btnDaylightApply");
        apply->setFocus();
        QTest::keyClick(apply, Qt::Key_Space);
        QCOMPARE(f.CurrentPage(), f.Page("tsData"));
        QCOMPARE(f.Grid().GridRowCount(), 25);
        for (int r = 1; r <= 24; ++r) {
            const ScheduleEntry& e = rows[static_cast<std::size_t>(r - 1)];
            QCOMPARE(f.Grid().Cell(1, r), QString::fromStdString(FormatTimeOfDay(e.Hour, e.Minute)));
            QCOMPARE(f.Grid().Cell(2, r), QString::number(e.Color[0]));
            QCOMPARE(f.Grid().Cell(4, r), QString::number(e.Color[2]));
        }
        // Nothing is written until the table is uploaded like any edit.
        QVERIFY(f.RowWrites().empty());
        QVERIFY(f.window->Table().HasUnsentEdits());
        QTest::mouseClick(f.window->findChild<QPushButton*>("btnUpload"), Qt::LeftButton);
        QCOMPARE(f.window->Schedule().Entries(), rows);
        const std::vector<test::Bytes> written = f.RowWrites();
        QCOMPARE(written.size(), std::size_t{24});
        for (std::size_t i = 0; i < rows.size(); ++i) QCOMPARE(written[i], RowWrite(static_cast<int>(i), rows[i]));

        // The dialog is gone; the place is offered again next time.
        QTRY_VERIFY(!f.window->findChild<DaylightDialog*>("dlgDaylight"));
        DaylightDialog* again = OpenDialog(f);
        QVERIFY(again);
        QCOMPARE(again->findChild<QLineEdit*>("edtPlace")->text(), QStringLiteral("manaus"));
        QVERIFY(again->MaxError());
        again->reject();
    }

    void anAmbiguousPlaceOffersNothingToTake() {
        ScheduleWindow f(BoardProgram());
        DaylightDialog* dialog = OpenDialog(f);
        auto* place = dialog->findChild<QLineEdit*>("edtPlace");
        place->setFocus();
        QTest::keyClicks(place, "America/I");
        QVERIFY(dialog->findChild<QLabel*>("lblDaylightResult")->text().contains("nicht eindeutig"));
        QVERIFY(!dialog->findChild<QPushButton*>("btnDaylightApply")->isEnabled());
        QVERIFY(dialog->Rows().empty());
        dialog->reject();
    }
};

QUELVAN_WINDOW_TEST(DaylightDialogTest)
#include "daylight_dialog_test.moc"
