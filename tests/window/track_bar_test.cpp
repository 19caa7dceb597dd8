// The track bar's selection band, as the two-value settings track bars use it.

#include "window/track_bar.h"

#include <QImage>
#include <QTest>

#include "window_test_main.h"

using quelvan::TrackBar;

namespace {

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
