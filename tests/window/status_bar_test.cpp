// The status bar on the simulated board: every panel as wide as its text in the window's
// font, in the smallest window and at 1920 × 1080.

#include <QLabel>
#include <QLocale>

#include "window_fixture.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::WindowFixture;

namespace {

// Whether the label shows `text` whole in its own font, inside its frame and indent.
bool ShownWhole(const QLabel* label, const QString& text) {
    const int room = label->contentsRect().width() - 2 * label->indent();
    return label->text() == text && label->fontMetrics().horizontalAdvance(text) <= room;
}

}  // namespace

class StatusBarTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void panelsShowTheBoardsValuesWhole_data() {
        QTest::addColumn<QSize>("size");  // empty: the smallest window
        QTest::newRow("smallest window") << QSize();
        QTest::newRow("1920 x 1080") << QSize(1920, 1080);
    }
    void panelsShowTheBoardsValuesWhole() {
        QFETCH(QSize, size);
        WindowFixture f;
        f.window->show();
        f.window->resize(size.isEmpty() ? f.window->minimumSize() : size);
        QCoreApplication::processEvents();
        f.Discover();
        QVERIFY(f.window->BoardDevice());
        const PanelStatusBar& sb = f.window->StatusPanels();
        QCOMPARE(sb.font(), f.window->font());
        struct Shown {
            int hour, minute, second, mode, millivolts, temperature;
        };
        // Clocks with every digit, each mode, a voltage with and without a temperature.
        const Shown cases[] = {
            {14, 58, 1, 0, 12340, 255},  {23, 59, 59, 1, 24000, -125}, {0, 0, 0, 2, 5000, kNoTemperatureSensor},
            {18, 48, 28, 3, 19990, 999}, {16, 37, 45, 4, 65535, -999},
        };
        for (const Shown& c : cases) {
            LiveState& live = f.backend.Board().Live();
            live.ClockHour = static_cast<std::int8_t>(c.hour);
            live.ClockMinute = static_cast<std::int8_t>(c.minute);
            live.ClockSecond = static_cast<std::int8_t>(c.second);
            live.SupplyVoltage = static_cast<std::uint16_t>(c.millivolts);
            live.Temperature = static_cast<std::int16_t>(c.temperature);
            f.backend.Board().Config().Mode = static_cast<std::uint8_t>(c.mode);
            f.window->tmrQuelvanTimer();
            QCOMPARE(f.Panel(1), QStringLiteral("%1:%2:%3 Uhr")
                                     .arg(c.hour, 2, 10, QLatin1Char('0'))
                                     .arg(c.minute, 2, 10, QLatin1Char('0'))
                                     .arg(c.second, 2, 10, QLatin1Char('0')));
            int right = 0;
            for (int panel = 1; panel <= 3; ++panel) {
                const auto* label = f.window->findChild<QLabel*>(QStringLiteral("sbPanel%1").arg(panel));
                QVERIFY(label);
                QVERIFY2(ShownWhole(label, f.Panel(panel)), qPrintable(f.Panel(panel)));
                QCOMPARE(label->width(), sb.PanelWidth(panel));
                right += sb.PanelWidth(panel);
            }
            // Panel 0 takes the rest, and the panels stay inside the window.
            QCOMPARE(sb.PanelWidth(0), sb.width() - right);
            QVERIFY(sb.PanelWidth(0) > 200);
        }
    }
};

QUELVAN_WINDOW_TEST(StatusBarTest)
#include "status_bar_test.moc"
