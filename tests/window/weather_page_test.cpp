// Page "Wetter/Mond": clouds and storms as numbers per day and durations, the shares, and the
// moon's transit time with its picture, on the simulated board.

#include <QLabel>
#include <QLocale>

#include "schedule/render/argb_image.h"
#include "settings_fixture.h"
#include "window/labeled_edit.h"
#include "window/track_bar.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::Bytes;
using quelvan::test::SettingsFixture;

namespace {

constexpr std::uint32_t kLit = 0xFFE0E000;

void Weather(sim::SimulatedBoard& b) {
    b.Config().CloudP = 1942;
    b.Config().CloudD = 186;
    b.Config().StormP = 39;
    b.Config().StormD = 47;
    b.Config().FullmoonTransitHour = 0;
    b.Config().FullmoonTransitMinute = 0;
    b.Live().MoonTransitHour = 18;
    b.Live().MoonTransitMinute = 0;
    for (std::size_t n = 0; n < b.Live().ChannelValue.size(); ++n)
        b.Live().ChannelValue[n] = static_cast<std::int16_t>(100 + n);
    b.Live().ClockHour = 9;
    b.Live().ClockMinute = 41;
}

}  // namespace

class WeatherPageTest : public QObject {
    Q_OBJECT

    static QImage Moon(const SettingsFixture& f) { return f.Control<QLabel>("imgMoon")->pixmap().toImage(); }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void controlsHaveTheirRangesAndLabels() {
        SettingsFixture f;
        struct Bar {
            const char* name;
            int minimum, maximum, page, ticks;
            const char* edit;
            const char* label;
        };
        const Bar bars[] = {
            {"trbCloudCount", 0, 1000, 100, 100, "edtCloudCount", "Durchschnittliche Anzahl der Wolken pro Tag"},
            {"trbCloudSeconds", 1, 900, 60, 60, "edtCloudSeconds", "Durchschnittliche Dauer einer Wolke in Sekunden"},
            {"trbStormCount", 0, 20, 1, 1, "edtStormCount", "Durchschnittliche Anzahl der Gewitter pro Tag"},
            {"trbStormMinutes", 1, 200, 60, 15, "edtStormMinutes",
             "Durchschnittliche Dauer eines Gewitters in Minuten"},
            {"trbMoonTransit", 0, 1440, 60, 60, "edtMoonTransit", "Zeit des Mondhöchststandes (HH:MM)"},
        };
        for (const Bar& bar : bars) {
            TrackBar* trb = f.Control<TrackBar>(bar.name);
            QCOMPARE(trb->parentWidget(), f.Page("tsWeather"));
            QCOMPARE(trb->minimum(), bar.minimum);
            QCOMPARE(trb->maximum(), bar.maximum);
            QCOMPARE(trb->pageStep(), bar.page);
            QCOMPARE(trb->tickInterval(), bar.ticks);
            QCOMPARE(trb->tickPosition(), QSlider::TicksBothSides);
            QCOMPARE(f.Control<LabeledEdit>(bar.edit)->LabelText(), QString::fromUtf8(bar.label));
        }
        for (const char* name : {"lblCloudRatio", "lblStormRatio"}) {
            QLabel* label = f.Control<QLabel>(name);
            QVERIFY(label->alignment() & Qt::AlignRight);
            QCOMPARE(label->geometry().right(), f.Control<QWidget>("trbCloudCount")->geometry().right());
        }
        QCOMPARE(f.Control<QLabel>("lblDescription3")->text(),
                 QStringLiteral("Die Mond-Helligkeitseinstellungen für jeden Kanal sind in den Expertenoptionen zu "
                                "finden (Optionen / Seite \"Expertenoptionen\" einblenden)"));
        QCOMPARE(f.Control<QLabel>("imgMoon")->size(), QSize(60, 60));
        QVERIFY(f.Control<QWidget>("imgMoon")->x() > f.Edit("edtMoonTransit")->geometry().right());
    }

    void pollShowsNumbersPerDayDurationsAndShares() {
        SettingsFixture f(Weather);
        const std::pair<const char*, int> positions[] = {
            {"CloudCount", 1000}, {"CloudSeconds", 900}, {"StormCount", 20}, {"StormMinutes", 59}};
        for (const auto& [name, value] : positions) {
            QCOMPARE(f.Bar(QStringLiteral("trb") + name)->value(), value);
            QCOMPARE(f.Edit(QStringLiteral("edt") + name)->text(), QString::number(value));
        }
        QCOMPARE(f.Control<QLabel>("lblCloudRatio")->text(), QStringLiteral("Wolkenanteil: 91,3 %"));
        QCOMPARE(f.Control<QLabel>("lblStormRatio")->text(), QStringLiteral("Gewitteranteil: 45,3 %"));

        // Both cloud fields 0: no share; a zero duration leaves its track bar where it is.
        f.backend.Board().Config().CloudP = 0;
        f.backend.Board().Config().CloudD = 0;
        f.Tick();
        QCOMPARE(f.Control<QLabel>("lblCloudRatio")->text(), QString());
        QCOMPARE(f.Bar("trbCloudCount")->value(), 0);
        QCOMPARE(f.Bar("trbCloudSeconds")->value(), 900);
        QVERIFY(f.SetTransfers().isEmpty());
    }

    void typedDurationsStoreTheBoardsProbabilities_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("cloudD");
        QTest::addColumn<int>("stormD");
        QTest::addColumn<QString>("bar");
        QTest::addColumn<int>("shownAgain");
        QTest::newRow("60 min per storm") << "edtStormMinutes"
                                          << "60" << 186 << 47 << "trbStormMinutes" << 59;
        QTest::newRow("2 s per cloud") << "edtCloudSeconds"
                                       << "2" << 65535 << 47 << "trbCloudSeconds" << 3;
        QTest::newRow("600 s per cloud") << "edtCloudSeconds"
                                         << "600" << 280 << 47 << "trbCloudSeconds" << 599;
        QTest::newRow("beyond the range") << "edtStormMinutes"
                                          << "5000" << 186 << 14 << "trbStormMinutes" << 200;
    }
    void typedDurationsStoreTheBoardsProbabilities() {
        QFETCH(QString, edit);
        QFETCH(QString, typed);
        QFETCH(int, cloudD);
        QFETCH(int, stormD);
        QFETCH(QString, bar);
        QFETCH(int, shownAgain);
        SettingsFixture f(Weather);
        f.Type(edit, typed);
        const auto writes = f.ConfigWrites();
        QVERIFY(!writes.empty());
        const DeviceConfig& sent = writes.back().config;
        QCOMPARE(int(sent.CloudD), cloudD);
        QCOMPARE(int(sent.StormD), stormD);
        // Each update recomputes both fields of its pair from both track bars.
        QCOMPARE(int(sent.CloudP), 1942);
        QCOMPARE(int(sent.StormP), 39);
        QCOMPARE(f.Edit(edit)->text(), typed);

        f.FocusElsewhere();
        f.Tick();
        QCOMPARE(f.Bar(bar)->value(), shownAgain);
        QCOMPARE(f.Edit(edit)->text(), QString::number(shownAgain));
    }

    void movedTrackBarShowsInItsEditAndWrites() {
        SettingsFixture f(Weather);
        TrackBar* trb = f.Control<TrackBar>("trbCloudCount");
        QVERIFY(f.Focus(trb));
        QTest::keyClick(trb, Qt::Key_PageDown);  // 1000 -> 900 clouds a day
        QCOMPARE(f.Edit("edtCloudCount")->text(), QStringLiteral("900"));
        const auto writes = f.ConfigWrites();
        QCOMPARE(writes.size(), std::size_t{1});
        QCOMPARE(int(writes[0].config.CloudP), 1748);  // round(900 × 167772.16 / 86400)
        QCOMPARE(int(writes[0].config.CloudD), 186);
        // A track bar moved by the program (the poll) writes nothing.
        f.FocusElsewhere();
        f.backend.Board().Config().StormP = 2;
        f.backend.ClearTransfers();
        f.Tick();
        QCOMPARE(f.Bar("trbStormCount")->value(), 1);
        QVERIFY(f.SetTransfers().isEmpty());
    }

    void moonPictureFollowsTheTransitTimes() {
        SettingsFixture f(Weather);
        QCOMPARE(f.Bar("trbMoonTransit")->value(), 18 * 60);
        QCOMPARE(f.Edit("edtMoonTransit")->text(), QStringLiteral("18:00"));
        QImage moon = Moon(f);
        QCOMPARE(PixelArgb(moon, 40, 30), kLit);  // lit on the right
        QCOMPARE(PixelArgb(moon, 20, 30), 0u);
        QCOMPARE(PixelArgb(moon, 2, 2), 0u);

        // The full moon's transit moves: the same transit is now a full moon.
        f.backend.Board().Config().FullmoonTransitHour = 18;
        f.Tick();
        moon = Moon(f);
        QCOMPARE(PixelArgb(moon, 40, 30), kLit);
        QCOMPARE(PixelArgb(moon, 20, 30), kLit);
        QVERIFY(f.SetTransfers().isEmpty());
    }

    void transitBarAtItsEndSendsMidnightAndNothingElse() {
        SettingsFixture f(Weather);
        const LiveState before = f.backend.Board().Live();
        TrackBar* trb = f.Control<TrackBar>("trbMoonTransit");
        QVERIFY(f.Focus(trb));
        QTest::keyClick(trb, Qt::Key_End);
        QCOMPARE(trb->value(), 1440);
        const std::vector<Bytes> sets = f.Sets("board", report::kLiveState);
        QCOMPARE(sets.size(), std::size_t{1});
        const Bytes& sent = sets[0];
        QCOMPARE(sent.size(), std::size_t{42});
        QCOMPARE(int(sent[11]), 0);                                               // MoonTransitMinute
        QCOMPARE(int(sent[12]), 24);                                              // MoonTransitHour
        QCOMPARE(int(sent[7]), 0xFF);                                             // the clock is left alone
        for (std::size_t at = 13; at <= 20; ++at) QCOMPARE(int(sent[at]), 0xFF);  // channels A..D marked
        QCOMPARE(int(sent[8]), 9);                                                // the rest goes out as read
        QCOMPARE(int(sent[21]), 104);                                             // channel E
        QVERIFY(f.ConfigWrites().empty());
        QCOMPARE(f.Edit("edtMoonTransit")->text(), QStringLiteral("24:00"));
        // Drawn at once: 24:00 against a full moon at 00:00 is a full moon.
        QCOMPARE(PixelArgb(Moon(f), 20, 30), kLit);
        // The board kept its clock and channels.
        QCOMPARE(f.backend.Board().Live().ClockHour, before.ClockHour);
        QCOMPARE(f.backend.Board().Live().ClockMinute, before.ClockMinute);
        QVERIFY(f.backend.Board().Live().ChannelValue == before.ChannelValue);
    }

    void typedTransitTime_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("hour and minute") << "6:30" << QStringList{"06:03", "06:30"};
        QTest::newRow("minute missing") << "6:" << QStringList{};
        QTest::newRow("no colon") << "630" << QStringList{};
        // 25:00 is sent as typed; the track bar can show only 24:00 and sends that as well.
        QTest::newRow("beyond the day") << "25:00" << QStringList{"25:00", "24:00", "25:00"};
    }
    void typedTransitTime() {
        QFETCH(QString, typed);
        QFETCH(QStringList, sent);
        SettingsFixture f(Weather);
        f.Type("edtMoonTransit", typed);
        QStringList times;
        for (const Bytes& b : f.Sets("board", report::kLiveState)) {
            QCOMPARE(int(b[7]), 0xFF);
            QCOMPARE(int(b[13]), 0xFF);
            times << QStringLiteral("%1:%2")
                         .arg(static_cast<std::int8_t>(b[12]), 2, 10, QLatin1Char('0'))
                         .arg(static_cast<std::int8_t>(b[11]), 2, 10, QLatin1Char('0'));
        }
        QCOMPARE(times, sent);
        QCOMPARE(f.Edit("edtMoonTransit")->text(), typed);
    }
};

QUELVAN_WINDOW_TEST(WeatherPageTest)
#include "weather_page_test.moc"
