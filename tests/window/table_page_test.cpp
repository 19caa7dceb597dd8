// The page "Tabelle" on the simulated board: the grid as loaded, typing into cells, moving
// rows, "Hochladen" with its sorted writes, and the upload refused after a broken load.

#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

#include "schedule_window.h"
#include "window/channel_control.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::Bytes;
using quelvan::test::Entry;
using quelvan::test::RowWrite;
using quelvan::test::ScheduleWindow;

namespace {

const std::vector<ScheduleEntry> kUnsorted = {
    Entry(12, 0, {100, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}),
    Entry(6, 30, {30}),
    Entry(24, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 99}),
    Entry(0, 0, {5}),
};

}  // namespace

class TablePageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void gridShowsTheBoardsTableAsLoaded() {
        std::vector<ScheduleEntry> rows = kUnsorted;
        rows.push_back(Entry(7, 5, {255, 200}));
        rows.push_back(Entry(12, static_cast<std::int8_t>(200)));
        ScheduleWindow f(rows);
        ScheduleGrid& sg = f.Grid();
        QCOMPARE(sg.GridRowCount(), 7);
        QCOMPARE(sg.columnCount() + 1, 14);
        const QStringList header = {"Pos.", "Zeit", "Weiß", "Kaltweiß",  "Warmweiß", "Royalblau", "Blau",
                                    "Rot",  "Grün", "UV",   "Mondlicht", "Gelb",     "Pink",      "Kanal L"};
        for (int c = 0; c < 14; ++c) QCOMPARE(sg.Cell(c, 0), header[c]);
        // As the board holds it, unsorted; hour and minute signed, percentages unsigned.
        const QStringList times = {"12:00", "06:30", "24:00", "00:00", "07:05", "12:-56"};
        for (int r = 1; r <= 6; ++r) {
            QCOMPARE(sg.Cell(0, r), QString::number(r - 1));
            QCOMPARE(sg.Cell(1, r), times[r - 1]);
        }
        QCOMPARE(sg.Cell(2, 1), QStringLiteral("100"));
        QCOMPARE(sg.Cell(13, 1), QStringLiteral("11"));
        QCOMPARE(sg.Cell(2, 5), QStringLiteral("255"));
        QCOMPARE(sg.Cell(3, 5), QStringLiteral("200"));

        QCOMPARE(f.window->findChild<QPushButton*>("btnUpload")->text(), QStringLiteral("Hochladen"));
        QCOMPARE(f.window->findChild<QLabel*>("lblDescription1")->text(),
                 QStringLiteral("Um eine Zeile zu verschieben, im linken Bereich klicken und ziehen. Beim Klick auf "
                                "\"Hochladen\" wird automatisch nach der Uhrzeit sortiert. Daher gilt: 0:00 Uhr = "
                                "Beginn eines Tages, 24:00 Uhr = Ende eines Tages."));
        QCOMPARE(f.window->findChild<QLabel*>("lblDescription2")->text(),
                 QStringLiteral("\"Hochladen\" kopiert die Tabelle lediglich in den RAM des Chips. Um die komplette "
                                "Konfiguation endgültig zu speichern, muss diese ins EEPROM (siehe Menü "
                                "\"Optionen\")."));
        // The grid's make-up: default row height, rows moved in the fixed column, Tab between
        // cells, the editor opened by moving to a cell, no horizontal scroll bar while the
        // columns fit (they are sized in readableAtTheSmallestAndALargeSize).
        QCOMPARE(sg.rowHeight(3), 18);
        QVERIFY(sg.verticalHeader()->sectionsMovable());
        QVERIFY(sg.tabKeyNavigation());
        QVERIFY(sg.editTriggers() & QAbstractItemView::CurrentChanged);
        QVERIFY(!sg.horizontalScrollBar()->isVisible());
    }

    // Readable: every caption and the widest values fit their columns, in the smallest window
    // and at 1920 × 1080, with the longest channel names too. Where the captions cannot
    // stand side by side they are turned upwards. The grid fills its page beside the notes,
    // and its columns fill the grid.
    void captionsAndValuesFitTheirColumns_data() {
        QTest::addColumn<QSize>("size");  // empty: the smallest window
        QTest::addColumn<QList<int>>("names");
        QTest::addColumn<bool>("turned");
        const QList<int> warm(12, 8);  // "Warmweiß", the widest name, on every channel
        const QList<int> mixed = {8, 7, 4, 11, 2, 6, 1, 3, 5, 9, 10, 0};
        QTest::newRow("smallest, Warmweiß") << QSize() << warm << true;
        QTest::newRow("smallest, mixed names") << QSize() << mixed << true;
        QTest::newRow("smallest, letters") << QSize() << QList<int>(12, 0) << true;
        QTest::newRow("1920 x 1080, Warmweiß") << QSize(1920, 1080) << warm << false;
        QTest::newRow("1920 x 1080, mixed names") << QSize(1920, 1080) << mixed << false;
    }
    void captionsAndValuesFitTheirColumns() {
        QFETCH(QSize, size);
        QFETCH(QList<int>, names);
        QFETCH(bool, turned);
        ScheduleWindow f(kUnsorted);
        for (int n = 0; n < kChannelCount; ++n)
            f.window->Board().config.ColorName[static_cast<std::size_t>(n)] = static_cast<std::uint8_t>(names[n]);
        f.window->Channels().ShowChannelNames();
        f.window->resize(size.isEmpty() ? f.window->minimumSize() : size);
        QCoreApplication::processEvents();
        f.ClickTab("tsData");
        QCoreApplication::processEvents();
        ScheduleGrid& sg = f.Grid();
        QCOMPARE(sg.HeaderTextsTurned(), turned);

        QHeaderView* header = sg.horizontalHeader();
        const QFontMetrics captions = header->fontMetrics();
        const QFontMetrics values = sg.fontMetrics();
        const int captionMargin = sg.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        const int valueMargin = sg.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &sg) + 1;
        QVERIFY(captions.horizontalAdvance(sg.Cell(0, 0)) + 2 * captionMargin <= sg.verticalHeader()->width());
        int total = 0;
        for (int c = 1; c < ScheduleGrid::kColumns; ++c) {
            const QString caption = sg.Cell(c, 0);
            const int section = sg.columnWidth(c - 1);
            total += section;
            const QString widest = c == 1 ? QStringLiteral("24:00") : QStringLiteral("100");
            QVERIFY2(values.horizontalAdvance(widest) + 2 * valueMargin <= section, qPrintable(caption));
            const int captionLength = captions.horizontalAdvance(caption) + 2 * captionMargin;
            if (turned && c > 1) {
                QVERIFY2(captions.height() <= section, qPrintable(caption));
                QVERIFY2(captionLength <= header->height(), qPrintable(caption));
            } else {
                QVERIFY2(captionLength <= section, qPrintable(caption));
            }
        }
        QCOMPARE(total, sg.viewport()->width());
        // The grid reaches to the notes and down to the page's bottom edge.
        const QWidget* page = f.Page("tsData");
        const QWidget* notes = f.window->findChild<QLabel*>("lblDescription1");
        QVERIFY(sg.geometry().right() >= notes->geometry().left() - 16);
        QVERIFY(sg.geometry().bottom() >= page->height() - 16);
    }

    void beforeABoardTheGridShowsItsDesignLayout() {
        test::WindowFixture f;
        auto* sg = f.window->findChild<ScheduleGrid*>("sg");
        QCOMPARE(sg->GridRowCount(), 2);
        QCOMPARE(sg->Cell(0, 0), QStringLiteral("Pos."));
        QCOMPARE(sg->Cell(1, 0), QStringLiteral("Zeit"));
        QVERIFY(sg->Cell(1, 1).isEmpty());
        QVERIFY(!f.Enabled("sg"));
        QVERIFY(!f.Enabled("btnUpload"));
    }

    void uploadSortsThenWritesEveryRowInOrder() {
        ScheduleWindow f(kUnsorted);
        f.ClickTab("tsData");
        f.backend.ClearTransfers();
        QTest::mouseClick(f.window->findChild<QPushButton*>("btnUpload"), Qt::LeftButton);
        // Sorted by time, written with indices 0 to 3, nothing else sent.
        const std::vector<Bytes> expected = {RowWrite(0, kUnsorted[3]), RowWrite(1, kUnsorted[1]),
                                             RowWrite(2, kUnsorted[0]), RowWrite(3, kUnsorted[2])};
        QCOMPARE(f.RowWrites(), expected);
        QCOMPARE(f.TransferSummary(), QStringList(4, "set 3 16"));
        const QStringList times = {"00:00", "06:30", "12:00", "24:00"};
        for (int r = 1; r <= 4; ++r) QCOMPARE(f.Grid().Cell(1, r), times[r - 1]);
        QCOMPARE(f.backend.Board().Schedule()[0], kUnsorted[3]);
    }

    // A cell is checked when its edit is committed: times H:MM or HH:MM from 00:00 to 24:00,
    // percentages 0 to 100 with a comma or a point (the board keeps whole percent). A refused
    // value is said at once in the status bar and the cell keeps its text; what the upload
    // sends is what the grid shows.
    void typedCellIsCheckedWhenCommitted_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");   // the cell afterwards; for a refusal its old text
        QTest::addColumn<QString>("status");  // panel 0 after a refusal, else empty
        const QString time = QStringLiteral(
            "Pos. 0, \"Zeit\": \"%1\" ist keine Uhrzeit von 00:00 bis 24:00 "
            "(H:MM oder HH:MM); der alte Wert bleibt.");
        const QString percent =
            QStringLiteral("Pos. 0, \"Weiß\": \"%1\" ist kein Prozentwert von 0 bis 100; der alte Wert bleibt.");
        QTest::newRow("H:MM") << 1 << "7:05"
                              << "07:05"
                              << "";
        QTest::newRow("HH:MM") << 1 << "23:59"
                               << "23:59"
                               << "";
        QTest::newRow("end of the day") << 1 << "24:00"
                                        << "24:00"
                                        << "";
        QTest::newRow("start of the day") << 1 << "00:00"
                                          << "00:00"
                                          << "";
        QTest::newRow("letters as time") << 1 << "abc"
                                         << "10:15" << time.arg("abc");
        QTest::newRow("decimal as time") << 1 << "19.5"
                                         << "10:15" << time.arg("19.5");
        QTest::newRow("minute only") << 1 << "8"
                                     << "10:15" << time.arg("8");
        QTest::newRow("hour only") << 1 << "9:"
                                   << "10:15" << time.arg("9:");
        QTest::newRow("past the end of the day") << 1 << "24:01"
                                                 << "10:15" << time.arg("24:01");
        QTest::newRow("hour 25") << 1 << "25:00"
                                 << "10:15" << time.arg("25:00");
        QTest::newRow("minute 60") << 1 << "12:60"
                                   << "10:15" << time.arg("12:60");
        QTest::newRow("minute of one digit") << 1 << "12:5"
                                             << "10:15" << time.arg("12:5");
        QTest::newRow("percent") << 2 << "50"
                                 << "50"
                                 << "";
        QTest::newRow("full") << 2 << "100"
                              << "100"
                              << "";
        QTest::newRow("off") << 2 << "0"
                             << "0"
                             << "";
        QTest::newRow("decimal comma") << 2 << "33,4"
                                       << "33"
                                       << "";
        QTest::newRow("decimal point, half to even") << 2 << "12.5"
                                                     << "12"
                                                     << "";
        QTest::newRow("above full") << 2 << "150"
                                    << "1" << percent.arg("150");
        QTest::newRow("below off") << 2 << "-1"
                                   << "1" << percent.arg("-1");
        QTest::newRow("letters as percent") << 2 << "viel"
                                            << "1" << percent.arg("viel");
    }
    void typedCellIsCheckedWhenCommitted() {
        QFETCH(int, column);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QString, status);
        ScheduleWindow f({Entry(10, 15, {1, 2, 3}), Entry(11, 45, {4, 5, 6})});
        f.ClickTab("tsData");
        f.window->ShowStatusMessage(QString());
        f.TypeIntoCell(column, 1, typed);
        QCOMPARE(f.Panel(0), QString());  // nothing is said while typing
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCoreApplication::processEvents();  // the grid commits an edit on Enter through the event loop
        QCOMPARE(f.Grid().Cell(column, 1), shown);
        QCOMPARE(f.Panel(0), status);

        f.backend.ClearTransfers();
        QTest::mouseClick(f.window->findChild<QPushButton*>("btnUpload"), Qt::LeftButton);
        ScheduleEntry first = Entry(10, 15, {1, 2, 3});
        if (column == 1) {
            first.Hour = static_cast<std::int8_t>(shown.left(2).toInt());
            first.Minute = static_cast<std::int8_t>(shown.mid(3).toInt());
        } else {
            first.Color[0] = static_cast<std::uint8_t>(shown.toInt());
        }
        std::vector<Bytes> expected = {RowWrite(0, first), RowWrite(1, Entry(11, 45, {4, 5, 6}))};
        if (first.Hour > 11) expected = {RowWrite(0, Entry(11, 45, {4, 5, 6})), RowWrite(1, first)};
        QCOMPARE(f.RowWrites(), expected);
    }

    void draggedRowsAreRenumberedAndUploadInTheirNewOrder() {
        // Rows 2 and 5 (entries 1 and 4) have the same time: their order decides the index.
        ScheduleWindow f({Entry(6, 0, {1}), Entry(8, 0, {10}), Entry(7, 0, {2}), Entry(7, 30, {3}), Entry(8, 0, {20}),
                          Entry(9, 0, {4})});
        f.ClickTab("tsData");
        ScheduleGrid& sg = f.Grid();
        QHeaderView* rows = sg.verticalHeader();
        // Drag row 5 onto row 2 in the fixed column.
        const QPoint from(rows->width() / 2, rows->sectionViewportPosition(rows->logicalIndex(4)) + 9);
        const QPoint to(rows->width() / 2, rows->sectionViewportPosition(rows->logicalIndex(1)) + 4);
        QTest::mousePress(rows->viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(rows->viewport(), from + QPoint(0, -8));
        QTest::mouseMove(rows->viewport(), to);
        QTest::mouseRelease(rows->viewport(), Qt::LeftButton, {}, to);
        QCOMPARE(rows->visualIndex(4), 1);
        for (int r = 1; r <= 6; ++r) QCOMPARE(sg.Cell(0, r), QString::number(r - 1));
        const QStringList shown = {"06:00", "08:00", "08:00", "07:00", "07:30", "09:00"};
        for (int r = 1; r <= 6; ++r) QCOMPARE(sg.Cell(1, r), shown[r - 1]);
        QCOMPARE(sg.Cell(2, 2), QStringLiteral("20"));

        f.backend.ClearTransfers();
        QTest::mouseClick(f.window->findChild<QPushButton*>("btnUpload"), Qt::LeftButton);
        const std::vector<Bytes> writes = f.RowWrites();
        QCOMPARE(writes.size(), std::size_t{6});
        QCOMPARE(writes[3], RowWrite(3, Entry(8, 0, {20})));
        QCOMPARE(writes[4], RowWrite(4, Entry(8, 0, {10})));
        // Shown in table order again afterwards.
        QCOMPARE(rows->visualIndex(4), 4);
        QCOMPARE(sg.Cell(2, 4), QStringLiteral("20"));
    }

    void brokenLoadUploadsNothingUntilTheNextCompleteLoad() {
        ScheduleWindow f(kUnsorted);
        // Entering "Tabelle" reloads; one row's read fails.
        f.backend.FailNext(false, report::kSchedule, 1);
        f.ClickTab("tsData");
        QCOMPARE(f.backend.CountTransfers(false, report::kSchedule), 4);
        f.backend.ClearTransfers();
        QTest::mouseClick(f.window->findChild<QPushButton*>("btnUpload"), Qt::LeftButton);
        QVERIFY(f.RowWrites().empty());
        QCOMPARE(f.backend.Board().Schedule(), kUnsorted);
        // ... and says so, instead of the edit vanishing quietly.
        const QString refused = QStringLiteral(
            "Die Tabelle wurde nicht vollständig von der Platine gelesen und wird daher nicht hochgeladen. Bitte die "
            "Seite \"Tabelle\" neu öffnen.");
        QCOMPARE(f.Panel(0), refused);
        QCOMPARE(f.LogTexts().last(), refused);
        // Leaving uploads nothing either; coming back reads the whole table again.
        f.ClickTab("tsMessages");
        QVERIFY(f.RowWrites().empty());
        f.ClickTab("tsData");
        const int logged = f.LogTexts().size();
        QTest::mouseClick(f.window->findChild<QPushButton*>("btnUpload"), Qt::LeftButton);
        QCOMPARE(f.RowWrites().size(), std::size_t{4});
        QCOMPARE(f.LogTexts().size(), logged);
    }

    void emptyTableHasNoRowsAndWritesNothing() {
        ScheduleWindow f({});
        QCOMPARE(f.Grid().GridRowCount(), 1);
        f.ClickTab("tsData");
        f.backend.ClearTransfers();
        QTest::mouseClick(f.window->findChild<QPushButton*>("btnUpload"), Qt::LeftButton);
        QVERIFY(f.backend.Transfers().empty());
        QVERIFY(!f.Img().Image().isNull());
        QVERIFY(f.Graph().GraphPoints().empty());
    }
};

QUELVAN_WINDOW_TEST(TablePageTest)
#include "table_page_test.moc"
