// The page "Grafik" on the simulated board: the graph drawn on connecting and by every
// poll, the channel choice, and editing by dragging points with the mouse.

#include <QComboBox>
#include <QLabel>
#include <QLocale>

#include "schedule/graph_geometry.h"
#include "schedule_window.h"
#include "window/channel_control.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::Bytes;
using quelvan::test::Entry;
using quelvan::test::RowWrite;
using quelvan::test::ScheduleWindow;

namespace {

// Channel A rises from 0 % at 06:00 to 100 % at 12:00; channel B stays at 50 %.
const std::vector<ScheduleEntry> kDay = {Entry(6, 0, {0, 50}), Entry(12, 0, {100, 50}), Entry(18, 0, {40, 50})};

QPoint PointOf(const GraphPage& graph, int entry, int channel) {
    const GraphPoint& p = graph.GraphPoints()[static_cast<std::size_t>(entry)];
    return QPoint(qRound(p.X), qRound(p.Y[static_cast<std::size_t>(channel)]));
}

}  // namespace

class GraphPageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void drawnOnConnectingAndByEveryPoll() {
        ScheduleWindow f(kDay);
        f.ClickTab("tsVisualize");
        GraphImage& img = f.Img();
        QCOMPARE(img.Image().size(), img.size());
        QCOMPARE(img.Image().format(), QImage::Format_ARGB32);
        QCOMPARE(f.Graph().GraphPoints().size(), std::size_t{3});
        QCOMPARE(f.Graph().GraphPoints()[1].X, GraphX(720, img.width()));

        // The board's clock moves on; the next tick moves the time marker.
        f.backend.Board().Live().ClockHour = 3;
        f.backend.Board().Live().ClockMinute = 0;
        f.window->tmrQuelvanTimer();
        // Looked for above every curve and between the grid lines.
        const int y = qRound(GraphY(90, img.height())) + 3;
        const int marker = qRound(GraphX(180, img.width()));
        int grey = 0;
        for (int x = marker - 1; x <= marker + 1; ++x) grey += qRed(f.Pixel(x, y)) > 0x40;
        QVERIFY(grey > 0);
        QCOMPARE(f.Pixel(qRound(GraphX(7 * 60 + 5, img.width())), y), 0xFF000000u);
    }

    void channelChoiceFollowsTheNamesAndChoosesTheDraggedChannel() {
        ScheduleWindow f(kDay);
        f.ClickTab("tsVisualize");
        auto* choice = f.window->findChild<QComboBox*>("cmbVisualize");
        QCOMPARE(choice->count(), 12);
        QCOMPARE(choice->itemText(0), QStringLiteral("Weiß"));
        QCOMPARE(choice->itemText(11), QStringLiteral("Kanal L"));
        QCOMPARE(choice->currentIndex(), 0);
        QVERIFY(!choice->isEditable());

        // The user picks channel B ("Kaltweiß"); its 10 × 10 squares are drawn at 50 %.
        choice->setFocus();
        QTest::keyClick(choice, Qt::Key_Down);
        QCOMPARE(f.Graph().Channel(), 1);
        const QPoint b = PointOf(f.Graph(), 1, 1);
        QCOMPARE(f.Pixel(b.x() - 4, b.y() - 4), GraphLineColor(7));
        // Naming a channel refills the list and keeps the choice.
        f.window->Channels().ShowChannelNames();
        QCOMPARE(choice->currentIndex(), 1);
        QCOMPARE(f.Graph().Channel(), 1);
        // An emptied list keeps the channel.
        choice->clear();
        QCOMPARE(f.Graph().Channel(), 1);
    }

    void pressOnEmptySpaceSortsAndUploadsEveryRow() {
        // The board's rows out of order: the release sorts them before writing.
        ScheduleWindow f({Entry(18, 0, {40}), Entry(6, 0, {0}), Entry(12, 0, {100})});
        f.ClickTab("tsVisualize");
        f.backend.ClearTransfers();
        QTest::mousePress(&f.Img(), Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(f.window->VisualizeTimer().isActive());
        QCOMPARE(f.Graph().DraggedEntry(), -1);
        QTest::mouseRelease(&f.Img(), Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!f.window->VisualizeTimer().isActive());
        const std::vector<Bytes> expected = {RowWrite(0, Entry(6, 0, {0})), RowWrite(1, Entry(12, 0, {100})),
                                             RowWrite(2, Entry(18, 0, {40}))};
        QCOMPARE(f.RowWrites(), expected);
        QCOMPARE(f.TransferSummary(), QStringList(3, "set 3 16"));
        QCOMPARE(f.Grid().Cell(1, 1), QStringLiteral("06:00"));
    }

    // Also on a high-density screen (ratio 2): the picture has twice the pixels each way,
    // while the points and the mouse stay in the image's own pixels. While dragging, the
    // point's time and percentage stand beside the cursor (not in the picture) and the status
    // bar says that the time is every channel's.
    void dragMovesAPointAndTheReleaseWritesTheSortedTable_data() {
        QTest::addColumn<double>("ratio");
        QTest::newRow("ratio 1") << 1.0;
        QTest::newRow("ratio 2") << 2.0;
    }
    void dragMovesAPointAndTheReleaseWritesTheSortedTable() {
        QFETCH(double, ratio);
        ScheduleWindow f(kDay);
        f.Graph().pixelRatio = [ratio] { return ratio; };
        f.ClickTab("tsVisualize");
        GraphImage& img = f.Img();
        const int w = img.width();
        const int h = img.height();
        QCOMPARE(img.Image().size(), img.size() * ratio);
        QCOMPARE(img.Image().devicePixelRatio(), ratio);
        const QStringList log = f.LogLines();
        // Grab the 12:00 point of channel A and drag it past the 18:00 point, to 30 %.
        const QPoint start = PointOf(f.Graph(), 1, 0) + QPoint(3, -3);
        QTest::mousePress(&img, Qt::LeftButton, {}, start);
        QCOMPARE(f.Graph().DraggedEntry(), 1);
        QLabel& info = f.Graph().DragInfo();
        QVERIFY(info.isVisible());
        QCOMPARE(info.parentWidget(), &img);
        QCOMPARE(info.text(), QStringLiteral("12:00 Uhr, 100 %"));
        QCOMPARE(f.Panel(0), QStringLiteral("Ziehen ändert die Uhrzeit des Punktes für alle Kanäle, die Helligkeit nur "
                                            "für „") +
                                 f.Graph().ChannelChoice()->itemText(0) + QStringLiteral("“"));
        const QPoint target(qRound(GraphX(20 * 60 + 30, w)), qRound(GraphY(30, h)));
        QTest::mouseMove(&img, (start + target) / 2);
        QTest::mouseMove(&img, target);
        const auto expected = DragTo(target.x(), target.y(), w, h);
        QVERIFY(expected);
        QCOMPARE(info.text(),
                 QString::asprintf("%02d:%02d Uhr, %d %%", expected->hour, expected->minute, expected->percent));
        QVERIFY(img.rect().contains(info.geometry()));
        const QPoint offset = info.geometry().center() - target;
        QVERIFY2(offset.manhattanLength() < 120, "beside the cursor");
        QVERIFY2(!info.geometry().contains(target), "not under it");
        // Not sorted while dragging: the entry keeps its index; the timer shows it.
        const ScheduleEntry& moved = f.window->Schedule().Entries()[1];
        QCOMPARE(int(moved.Hour), expected->hour);
        QCOMPARE(int(moved.Minute), expected->minute);
        QCOMPARE(int(moved.Color[0]), expected->percent);
        QCOMPARE(int(moved.Color[1]), 50);
        f.backend.ClearTransfers();
        f.Graph().tmrVisualizeTimer();
        QCOMPARE(f.Graph().GraphPoints()[1].X, GraphX(expected->hour * 60 + expected->minute, w));
        QVERIFY(f.backend.Transfers().empty());

        QTest::mouseRelease(&img, Qt::LeftButton, {}, target);
        QCOMPARE(f.Graph().DraggedEntry(), -1);
        QVERIFY(!info.isVisible());
        QCOMPARE(f.Panel(0), QStringLiteral("Tabelle hochgeladen"));
        QCOMPARE(f.LogLines(), log);
        const ScheduleEntry dragged =
            Entry(expected->hour, expected->minute, {static_cast<std::uint8_t>(expected->percent), 50});
        const std::vector<Bytes> writes = {RowWrite(0, kDay[0]), RowWrite(1, kDay[2]), RowWrite(2, dragged)};
        QCOMPARE(f.RowWrites(), writes);
        QCOMPARE(f.Grid().Cell(1, 3), QString::asprintf("%02d:%02d", expected->hour, expected->minute));
        QCOMPARE(f.backend.Board().Schedule()[2], dragged);
    }

    void withoutACompleteLoadTheReleaseWritesNothing() {
        ScheduleWindow f(kDay);
        f.backend.FailNext(false, report::kSchedule, 1);
        f.ClickTab("tsVisualize");
        f.backend.ClearTransfers();
        QTest::mousePress(&f.Img(), Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(&f.Img(), Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(f.RowWrites().empty());
    }
};

QUELVAN_WINDOW_TEST(GraphPageTest)
#include "graph_page_test.moc"
