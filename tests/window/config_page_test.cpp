// Page "Konfiguration" below the clock: the time lapse and the two two-value track bars with
// their panels, on the simulated board.

#include <QLabel>
#include <QLocale>
#include <QPushButton>

#include "settings_fixture.h"
#include "window/bevel_panel.h"
#include "window/labeled_edit.h"
#include "window/track_bar.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::SettingsFixture;

namespace {

void FanAndDisplay(sim::SimulatedBoard& b) {
    b.Config().FanLow = 90;
    b.Config().FanHigh = 230;
    b.Config().LCDBLMin = 10;
    b.Config().LCDBLMax = 180;
}

}  // namespace

class ConfigPageTest : public QObject {
    Q_OBJECT

    static TrackBar* Track(const SettingsFixture& f, const char* name) { return f.Control<TrackBar>(name); }
    static BevelPanel* Panel(const SettingsFixture& f, const char* name) { return f.Control<BevelPanel>(name); }
    static QPair<int, int> Band(const TrackBar* trb) { return {trb->selectionStart(), trb->selectionEnd()}; }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void controlsHaveTheirRangesAndCaptions() {
        SettingsFixture f;
        struct Bar {
            const char* name;
            int maximum, page, ticks;
        };
        for (const Bar& bar :
             {Bar{"trbTimeLapse", 250, 10, 10}, Bar{"trbDisplay", 255, 10, 51}, Bar{"trbFan", 255, 10, 51}}) {
            TrackBar* trb = Track(f, bar.name);
            QCOMPARE(trb->parentWidget(), f.Page("tsConfig"));
            QCOMPARE(trb->minimum(), 0);
            QCOMPARE(trb->maximum(), bar.maximum);
            QCOMPARE(trb->pageStep(), bar.page);
            QCOMPARE(trb->tickInterval(), bar.ticks);
        }
        QCOMPARE(f.Control<LabeledEdit>("edtTimeLapse")->LabelText(), QStringLiteral("Zeitraffer 1:"));
        QCOMPARE(f.Control<QPushButton>("btnRealtime")->text(), QStringLiteral("Echtzeit"));
        const std::pair<const char*, const char*> panels[] = {
            {"panDisplayMin", "Heruntergedimmtes Display"},
            {"panDisplayMax", "Aktives Display"},
            {"panFanLow", "Langsame Stufe des Lüfters verstellen"},
            {"panFanHigh", "Schnelle Stufe des Lüfters verstellen"},
        };
        for (const auto& [name, caption] : panels) QCOMPARE(Panel(f, name)->text(), QString::fromUtf8(caption));
        // Low panels selected at the start; the left one of each pair is the low one; all of
        // it below the clock controls.
        QVERIFY(Panel(f, "panFanLow")->IsLowered());
        QVERIFY(!Panel(f, "panFanHigh")->IsLowered());
        QVERIFY(Panel(f, "panDisplayMin")->IsLowered());
        QVERIFY(Panel(f, "panFanLow")->x() < Panel(f, "panFanHigh")->x());
        QVERIFY(Panel(f, "panDisplayMin")->x() < Panel(f, "panDisplayMax")->x());
        QVERIFY(Track(f, "trbTimeLapse")->y() > f.Control<QWidget>("btnNow")->geometry().bottom());
    }

    void fanThumbPushesTheOtherStageAlong() {
        SettingsFixture f(FanAndDisplay);
        TrackBar* trbFan = Track(f, "trbFan");
        QCOMPARE(trbFan->value(), 90);
        QCOMPARE(Band(trbFan), qMakePair(90, 230));

        // The slow stage selected and moved above the fast one: the fast one goes along and
        // the band shrinks to one point.
        QVERIFY(f.Focus(trbFan));
        QTest::keyClick(trbFan, Qt::Key_End);
        auto writes = f.ConfigWrites();
        QCOMPARE(writes.size(), std::size_t{1});
        QCOMPARE(int(writes[0].config.FanLow), 255);
        QCOMPARE(int(writes[0].config.FanHigh), 255);
        QCOMPARE(Band(trbFan), qMakePair(255, 255));

        // The fast stage selected and moved below the slow one pushes the slow one down.
        QTest::mouseClick(Panel(f, "panFanHigh"), Qt::LeftButton);
        QTest::keyClick(trbFan, Qt::Key_Home);
        QCOMPARE(int(f.backend.Board().Config().FanHigh), 0);
        QCOMPARE(int(f.backend.Board().Config().FanLow), 0);
        QCOMPARE(Band(trbFan), qMakePair(0, 0));
    }

    void fanPanelClickWritesTheUnchangedRecordWhenTheThumbMoves() {
        SettingsFixture f(FanAndDisplay);
        TrackBar* trbFan = Track(f, "trbFan");
        const DeviceConfig before = f.backend.Board().Config();
        QTest::mouseClick(Panel(f, "panFanHigh"), Qt::LeftButton);
        QVERIFY(Panel(f, "panFanHigh")->IsLowered());
        QVERIFY(!Panel(f, "panFanLow")->IsLowered());
        QCOMPARE(trbFan->value(), 230);
        auto writes = f.ConfigWrites();
        QCOMPARE(writes.size(), std::size_t{1});
        QVERIFY(writes[0].config == before);

        // The thumb already where the panel sends it: nothing moves, nothing is written.
        f.backend.ClearTransfers();
        QTest::mouseClick(Panel(f, "panFanHigh"), Qt::LeftButton);
        QVERIFY(f.ConfigWrites().empty());
        // The poll keeps the thumb on the selected stage, for the rest of the run.
        f.backend.Board().Config().FanHigh = 200;
        f.Tick();
        QCOMPARE(trbFan->value(), 200);
        QCOMPARE(f.ConfigWrites().size(), std::size_t{1});  // the moved thumb writes once more
        QCOMPARE(Band(trbFan), qMakePair(90, 200));
        f.Tick();
        QCOMPARE(f.ConfigWrites().size(), std::size_t{1});
    }

    void displayPanelsMoveTheThumbButOnlyTheFocusedBarWrites() {
        SettingsFixture f(FanAndDisplay);
        TrackBar* trbDisplay = Track(f, "trbDisplay");
        QCOMPARE(trbDisplay->value(), 10);
        QCOMPARE(Band(trbDisplay), qMakePair(10, 180));
        QTest::mouseClick(Panel(f, "panDisplayMax"), Qt::LeftButton);
        QCOMPARE(trbDisplay->value(), 180);
        QVERIFY(Panel(f, "panDisplayMax")->IsLowered());
        QVERIFY(f.ConfigWrites().empty());

        // The user moves the active backlight below the dimmed one: the dimmed one follows.
        QVERIFY(f.Focus(trbDisplay));
        QTest::keyClick(trbDisplay, Qt::Key_Home);
        auto writes = f.ConfigWrites();
        QCOMPARE(writes.size(), std::size_t{1});
        QCOMPARE(int(writes[0].config.LCDBLMax), 0);
        QCOMPARE(int(writes[0].config.LCDBLMin), 0);
        QCOMPARE(Band(trbDisplay), qMakePair(0, 0));

        // Back to the dimmed value, which the user raises by a page.
        QTest::mouseClick(Panel(f, "panDisplayMin"), Qt::LeftButton);
        QTest::keyClick(trbDisplay, Qt::Key_PageUp);
        QCOMPARE(int(f.backend.Board().Config().LCDBLMin), 10);
        QCOMPARE(int(f.backend.Board().Config().LCDBLMax), 10);
    }

    void timeLapseByBarEditAndButton() {
        SettingsFixture f;
        TrackBar* trb = Track(f, "trbTimeLapse");
        QLineEdit* edt = f.Edit("edtTimeLapse");
        QCOMPARE(trb->value(), 1);
        QCOMPARE(edt->text(), QStringLiteral("1"));

        QVERIFY(f.Focus(trb));
        QTest::keyClick(trb, Qt::Key_PageUp);
        QCOMPARE(int(f.backend.Board().Config().TimeLapse), 11);
        QCOMPARE(edt->text(), QStringLiteral("11"));

        // Typed beyond the bar's range: the field keeps 255, the bar shows its end.
        f.backend.ClearTransfers();
        f.Type("edtTimeLapse", "255");
        QCOMPARE(int(f.backend.Board().Config().TimeLapse), 255);
        QCOMPARE(trb->value(), 250);
        QCOMPARE(f.ConfigWrites().size(), std::size_t{3});  // "2", "25", "255"
        f.Type("edtTimeLapse", "x");
        QCOMPARE(f.ConfigWrites().size(), std::size_t{3});

        // "Echtzeit" writes 1; the controls follow with the poll.
        f.FocusElsewhere();
        QTest::mouseClick(f.Control<QPushButton>("btnRealtime"), Qt::LeftButton);
        QCOMPARE(int(f.backend.Board().Config().TimeLapse), 1);
        QCOMPARE(trb->value(), 250);
        f.Tick();
        QCOMPARE(trb->value(), 1);
        QCOMPARE(edt->text(), QStringLiteral("1"));
    }
};

QUELVAN_WINDOW_TEST(ConfigPageTest)
#include "config_page_test.moc"
