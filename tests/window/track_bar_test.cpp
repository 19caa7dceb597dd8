// The track bar's selection band, as the two-value settings track bars use it, and the
// mouse wheel on the window's track bars.

#include "window/track_bar.h"

#include <QApplication>
#include <QImage>
#include <QTest>
#include <QWheelEvent>

#include "window_fixture.h"
#include "window_test_main.h"

using quelvan::TrackBar;
using quelvan::test::WindowFixture;

namespace {

// One notch of the wheel over the middle of `widget` (positive: away from the user).
bool TurnWheel(QWidget* widget, int notches) {
    const QPointF at = QRectF(widget->rect()).center();
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
    return event.isAccepted();
}

// Whether any pixel of the column differs between the two pictures.
bool ColumnDiffers(const QImage& a, const QImage& b, int x) {
    for (int y = 0; y < a.height(); ++y)
        if (a.pixel(x, y) != b.pixel(x, y)) return true;
    return false;
}

}  // namespace

class TrackBarTest : public QObject {
    Q_OBJECT
private slots:
    void configureSetsStepsAndTicks() {
        TrackBar bar;
        bar.Configure(0, 4096, 32, 512, 512);
        QCOMPARE(bar.orientation(), Qt::Horizontal);
        QCOMPARE(bar.maximum(), 4096);
        QCOMPARE(bar.singleStep(), 32);
        QCOMPARE(bar.pageStep(), 512);
        QCOMPARE(bar.tickInterval(), 512);
        QCOMPARE(bar.tickPosition(), QSlider::TicksBothSides);
    }

    void bandIsPaintedBetweenItsEnds() {
        TrackBar bar;
        bar.Configure(0, 100, 1, 10, 10);
        bar.resize(400, 45);
        bar.setValue(0);
        bar.grab();  // the first picture is taken before the style has polished the bar
        const QImage plain = bar.grab().toImage();

        bar.setSelection(80, 30);  // given the other way round
        QCOMPARE(bar.selectionStart(), 30);
        QCOMPARE(bar.selectionEnd(), 80);
        const QImage banded = bar.grab().toImage();
        const auto column = [&](int value) { return bar.width() * value / 100; };
        QVERIFY(ColumnDiffers(plain, banded, column(55)));
        QVERIFY(!ColumnDiffers(plain, banded, column(15)));
        QVERIFY(!ColumnDiffers(plain, banded, column(95)));

        bar.setSelection(30, 80);
        QCOMPARE(bar.grab().toImage(), banded);
        bar.clearSelection();
        QVERIFY(!bar.hasSelection());
        QCOMPARE(bar.grab().toImage(), plain);
    }

    // Input: one rule for every track bar. The wheel leaves a track bar without the focus
    // alone (and sends nothing); on the focused one a notch does exactly what an arrow key
    // does: the same step and the same bytes to the board.
    void wheelMovesOnlyAFocusedTrackBarLikeTheArrowKeys_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("page");
        QTest::addColumn<int>("notches");
        QTest::newRow("channel") << "trb2"
                                 << "tsChannelsAF" << 1;
        QTest::newRow("clock") << "trbTime"
                               << "tsConfig" << -1;
        QTest::newRow("time lapse") << "trbTimeLapse"
                                    << "tsConfig" << 1;
        QTest::newRow("display") << "trbDisplay"
                                 << "tsConfig" << 1;
        QTest::newRow("fan") << "trbFan"
                             << "tsConfig" << -1;
        QTest::newRow("clouds") << "trbCloudCount"
                                << "tsWeather" << 1;
        QTest::newRow("storm minutes") << "trbStormMinutes"
                                       << "tsWeather" << -1;
        QTest::newRow("moon transit") << "trbMoonTransit"
                                      << "tsWeather" << 1;
    }
    void wheelMovesOnlyAFocusedTrackBarLikeTheArrowKeys() {
        QFETCH(QString, name);
        QFETCH(QString, page);
        QFETCH(int, notches);
        WindowFixture f;
        quelvan::sim::SimulatedBoard& board = f.backend.Board();
        board.Config().Mode = 0;
        board.Config().TimeLapse = 5;
        board.Config().LCDBLMin = 100;
        board.Config().LCDBLMax = 200;
        board.Config().FanLow = 100;
        board.Config().FanHigh = 200;
        board.Config().CloudP = 1000;
        board.Config().StormD = 100;
        board.Live().ChannelValue[2] = 2048;
        board.Live().MoonTransitHour = 12;
        f.window->show();
        f.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        f.Discover();
        f.window->PageControl().setCurrentWidget(f.Page(page.toLatin1()));
        auto* bar = f.window->findChild<TrackBar*>(name);
        QVERIFY(bar);
        const int start = bar->value();
        QVERIFY(start > bar->minimum() && start < bar->maximum());

        // Passed over on the way down the page: nothing moves, nothing is sent.
        f.backend.ClearTransfers();
        QVERIFY(!TurnWheel(bar, notches));
        QCOMPARE(bar->value(), start);
        QVERIFY(f.backend.Transfers().empty());

        // Focused: the arrow key first, back again, then the wheel.
        bar->setFocus(Qt::MouseFocusReason);
        QVERIFY(bar->hasFocus());
        f.backend.ClearTransfers();
        QTest::keyClick(bar, notches > 0 ? Qt::Key_Right : Qt::Key_Left);
        const int byKey = bar->value();
        const std::vector<quelvan::sim::SimTransfer> byKeyTransfers = f.backend.Transfers();
        QVERIFY2(!byKeyTransfers.empty(), "the arrow key writes to the board");
        QCOMPARE(byKey, start + notches * bar->singleStep());
        QTest::keyClick(bar, notches > 0 ? Qt::Key_Left : Qt::Key_Right);
        QCOMPARE(bar->value(), start);
        f.window->tmrQuelvanTimer();
        f.backend.ClearTransfers();
        QVERIFY(TurnWheel(bar, notches));
        QCOMPARE(bar->value(), byKey);
        const std::vector<quelvan::sim::SimTransfer> byWheel = f.backend.Transfers();
        QCOMPARE(byWheel.size(), byKeyTransfers.size());
        for (std::size_t i = 0; i < byWheel.size(); ++i) {
            QCOMPARE(byWheel[i].isSet, byKeyTransfers[i].isSet);
            QCOMPARE(byWheel[i].bytes, byKeyTransfers[i].bytes);
        }
    }

    void bandOfOneValueStaysVisible() {
        TrackBar bar;
        bar.Configure(0, 255, 1, 16, 16);
        bar.resize(400, 45);
        bar.grab();
        const QImage plain = bar.grab().toImage();
        bar.setSelection(128, 128);
        const QImage point = bar.grab().toImage();
        bool differs = false;
        for (int x = 0; x < bar.width() && !differs; ++x) differs = ColumnDiffers(plain, point, x);
        QVERIFY(differs);
    }
};

QUELVAN_WINDOW_TEST(TrackBarTest)
#include "track_bar_test.moc"
