// Page "Expertenoptionen" (and the temperatures of "JMP-Pin"): labels and hints, integers and
// temperatures stored in the fields' low bits, and the full moon's transit time.

#include <QLabel>
#include <QLocale>
#include <QRadioButton>
#include <QTemporaryDir>

#include "settings_fixture.h"
#include "window/labeled_edit.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::SettingsFixture;

class ExpertPageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void editsCarryTheirLabelsAndHints() {
        SettingsFixture f;
        struct Edit {
            const char* name;
            const char* label;
            const char* hint;
        };
        const Edit edits[] = {
            {"edtPoweronPosition", "Startposition, die beim Einschalten angesprungen wird (siehe Tabelle)", ""},
            {"edtPWMPrescaler", "PWM-Prescaler (Frequenz=25MHz/4096/(Prescaler+1); 3 bis 255)",
             "1,5kHz -> 3; 1kHz -> 5; 600Hz -> 9; 300Hz -> 19"},
            {"edtTWIBitrate", "TWI-Bitrate (Frequenz=2500kHz/(Bitrate+2); 10 bis 255)",
             "25kHz -> 98; 50kHz -> 48; 100kHz -> 23"},
            {"edtCloudAlpha", "Wolke: Bedeckung (0: dunkel, 65535: hell wie ohne Wolke) bzw. Schrittweite", ""},
            {"edtCloudStep", "", "Geschwindigkeit, mit der die Wolke aufzieht"},
            {"edtStormAlpha", "Gewitter: Bedeckung (0: dunkel, 65535: wie ohne Gewitter) bzw. Schrittweite", ""},
            {"edtStormStep", "", "Geschwindigkeit, mit der das Gewitter aufzieht"},
            {"edtLightningP", "Blitz: Wahrscheinlichkeit für Beginn bzw. Ende (0 bis 65535)", ""},
            {"edtLightningD", "", ""},
            {"edtLightning0", "Blitz auf folgenden Kanälen (0 bis 100%) A", ""},
            {"edtLightning4", "E", ""},
            {"edtLightning11", "L", ""},
            {"edtTempOffset", "Offset für den Temperatursensor (°C)", ""},
            {"edtTempWaterLow", "Temperatur, bei der die Lüfter anlaufen (°C)", ""},
            {"edtTempWaterHigh", "Temperatur, bei der die Lüfter ihre Maximaldrehzahl erreichen (°C)", ""},
            {"edtFullmoonTransit", "Zeit des Vollmondhöchststandes (HH:MM)", ""},
            {"edtMoon0", "Mond auf folgenden Kanälen (0 bis 255) A", ""},
            {"edtMoon4", "(wobei 255 etwa 6% Helligkeit entspricht) E", ""},
            {"edtMoon9", "J", ""},
            {"edtTempJMPLow", "Untere Temperatur der Hysterese (°C)", ""},
            {"edtTempJMPHigh", "Obere Temperatur der Hysterese (°C)", ""},
        };
        for (const Edit& e : edits) {
            auto* edit = f.Control<LabeledEdit>(e.name);
            QCOMPARE(edit->LabelText(), QString::fromUtf8(e.label));
            QCOMPARE(edit->toolTip(), QString::fromUtf8(e.hint));
        }
        QCOMPARE(f.Control<QLabel>("lblPWMPrescaler")->text(),
                 QStringLiteral("Zur Vermeidung von PWM-Pfeifen kann hier ein anderer Wert gewählt werden (erfordert "
                                "Speichern im EEPROM und Neustart):"));
        QCOMPARE(f.Control<QLabel>("lblTWIBitrate")->text(),
                 QStringLiteral("Bei Störungen im Bus kann hier ein anderer Wert gewählt werden (erfordert Speichern "
                                "im EEPROM und Neustart):"));
        QCOMPARE(f.Control<QRadioButton>("rbtFMOLED")->text(),
                 QStringLiteral("Helligkeitsgesteuerte Lüfter zum Kühlen der LEDs"));
        QCOMPARE(f.Control<QRadioButton>("rbtFMOWater")->text(),
                 QStringLiteral("Temperaturgeregelte Lüfter (z.B. zum Kühlen des Wassers)"));

        // Pairs side by side; the channel edits four to a line, each with its tag.
        auto geometry = [&](const char* name) { return f.Control<QWidget>(name)->geometry(); };
        QCOMPARE(geometry("edtCloudStep").y(), geometry("edtCloudAlpha").y());
        QVERIFY(geometry("edtCloudStep").x() > geometry("edtCloudAlpha").right());
        for (const char* prefix : {"edtLightning", "edtMoon"}) {
            for (int n = 0; n < kChannelCount; ++n) {
                const QString name = prefix + QString::number(n);
                QCOMPARE(f.Control<QWidget>(name)->property("tag").toInt(), n);
                const QRect first = f.Control<QWidget>(prefix + QString::number(n / 4 * 4))->geometry();
                QCOMPARE(f.Control<QWidget>(name)->y(), first.y());
                if (n % 4 == 0 && n > 0)
                    QVERIFY(first.y() > f.Control<QWidget>(prefix + QString::number(n - 4))->geometry().y());
            }
        }
    }

    void integersAreStoredInTheFieldsLowBits_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("report");
        QTest::addColumn<int>("byte");   // first byte of the field in the report buffer
        QTest::addColumn<int>("width");  // 1 or 2 bytes
        QTest::addColumn<int>("stored");
        QTest::newRow("PWM prescaler 300") << "edtPWMPrescaler"
                                           << "300" << 5 << 4 << 1 << 44;
        QTest::newRow("cloud cover 70000") << "edtCloudAlpha"
                                           << "70000" << 6 << 1 << 2 << 4464;
        QTest::newRow("bit rate -1") << "edtTWIBitrate"
                                     << "-1" << 5 << 5 << 1 << 255;
        QTest::newRow("start position") << "edtPoweronPosition"
                                        << "7" << 5 << 2 << 1 << 7;
        QTest::newRow("storm step") << "edtStormStep"
                                    << "65535" << 6 << 7 << 2 << 65535;
        QTest::newRow("lightning end") << "edtLightningD"
                                       << "1234" << 6 << 11 << 2 << 1234;
        QTest::newRow("lightning L") << "edtLightning11"
                                     << "100" << 6 << 24 << 1 << 100;
        QTest::newRow("moon C") << "edtMoon2"
                                << "256" << 5 << 19 << 1 << 0;
    }
    void integersAreStoredInTheFieldsLowBits() {
        QFETCH(QString, edit);
        QFETCH(QString, typed);
        QFETCH(int, report);
        QFETCH(int, byte);
        QFETCH(int, width);
        QFETCH(int, stored);
        SettingsFixture f;
        f.Type(edit, typed);
        const auto sets = f.Sets("board", static_cast<std::uint8_t>(report));
        QVERIFY(!sets.empty());
        const auto& last = sets.back();
        const int value = width == 1
                              ? last[static_cast<std::size_t>(byte)]
                              : last[static_cast<std::size_t>(byte)] | last[static_cast<std::size_t>(byte) + 1] << 8;
        QCOMPARE(value, stored);
        // Every write sends all four reports.
        QCOMPARE(f.Sets("board", 2).size(), sets.size());
        QCOMPARE(f.Sets("board", 4).size(), sets.size());

        // Letters write nothing and stay until the focus leaves; then the edit shows the
        // board's value again: one the poll refreshes at the next tick, the others at once.
        f.backend.ClearTransfers();
        f.Type(edit, "abc");
        QVERIFY(f.SetTransfers().isEmpty());
        f.FocusElsewhere();
        const bool polled = edit == "edtPWMPrescaler" || edit == "edtTWIBitrate" || edit == "edtPoweronPosition";
        QCOMPARE(f.Edit(edit)->text(), polled ? QStringLiteral("abc") : QString::number(stored));
        f.Tick();
        QCOMPARE(f.Edit(edit)->text(), QString::number(stored));
        f.window->hooks.showDeviceConfig();
        QCOMPARE(f.Edit(edit)->text(), QString::number(stored));
    }

    // An edit the poll does not refresh holds what was typed while the board got another
    // value (here from a file imported meanwhile): once the user leaves it, it shows the
    // board's value, and no poll brings back the old text.
    void aLeftEditShowsTheBoardsValue_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("shown");
        QTest::newRow("cloud cover") << "edtCloudAlpha"
                                     << "123"
                                     << "[Weather]\nCloudAlpha=26000\n"
                                     << "26000";
        QTest::newRow("moon C") << "edtMoon2"
                                << "7"
                                << "[Weather]\nMoonColor2=200\n"
                                << "200";
        QTest::newRow("sensor offset") << "edtTempOffset"
                                       << "1,5"
                                       << "[Config]\nTempOffset=-25\n"
                                       << "-2,5";
        QTest::newRow("full moon, not sent") << "edtFullmoonTransit"
                                             << "12:"
                                             << "[Weather]\nFullmoonTransitHour=3\n"
                                             << "03:00";
        QTest::newRow("JMP low, not sent") << "edtTempJMPLow"
                                           << "abc"
                                           << "[Config]\nTempJMPLow=100\n"
                                           << "10";
    }
    void aLeftEditShowsTheBoardsValue() {
        QFETCH(QString, edit);
        QFETCH(QString, typed);
        QFETCH(QString, file);
        QFETCH(QString, shown);
        SettingsFixture f([](sim::SimulatedBoard& b) {
            b.Config().JMPMode = 2;
            b.Config().FullmoonTransitMinute = 0;
        });
        f.Type(edit, typed);
        QTemporaryDir dir;
        const QString path = dir.filePath("import.ini");
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file.toUtf8());
        out.close();
        f.dialogs.SetNextFileName(path);
        f.Action("mnuConfigImport")->trigger();
        f.FocusElsewhere();
        for (int tick = 0; tick < 3; ++tick) f.Tick();
        QCOMPARE(f.Edit(edit)->text(), shown);
    }

    void temperaturesAreTenthsOfADegree() {
        SettingsFixture f([](sim::SimulatedBoard& b) {
            b.Config().FanMode = 1;
            b.Config().JMPMode = 2;
            b.Config().TempWaterLow = 215;
            b.Config().TempWaterHigh = -35;
        });
        QCOMPARE(f.Edit("edtTempWaterLow")->text(), QStringLiteral("21,5"));
        QCOMPARE(f.Edit("edtTempWaterHigh")->text(), QStringLiteral("-3,5"));

        struct Typed {
            const char* edit;
            const char* text;
            std::int16_t DeviceConfig::*field16;
            int stored;
        };
        const Typed typed[] = {
            {"edtTempWaterLow", "25", &DeviceConfig::TempWaterLow, 250},
            {"edtTempWaterHigh", "28,25", &DeviceConfig::TempWaterHigh, 282},  // 282.5: halves to even
            {"edtTempJMPLow", "-4,5", &DeviceConfig::TempJMPLow, -45},
            {"edtTempJMPHigh", "3276,8", &DeviceConfig::TempJMPHigh, -32768},
        };
        for (const Typed& t : typed) {
            f.Type(t.edit, t.text);
            QCOMPARE(int(f.backend.Board().Config().*t.field16), t.stored);
        }
        // A point is a decimal separator in German too, and the edit shows the comma again.
        f.backend.ClearTransfers();
        f.Type("edtTempWaterLow", "21.5");
        QCOMPARE(int(f.ConfigWrites().back().config.TempWaterLow), 215);

        // 13 degrees of offset is 130 tenths, kept as -126 in the signed byte.
        f.backend.ClearTransfers();
        f.Type("edtTempOffset", "13");
        const auto writes = f.ConfigWrites();
        QVERIFY(!writes.empty());
        QCOMPARE(int(writes.back().config.TempOffset), -126);
        QCOMPARE(int(f.backend.Board().Config().TempOffset), -126);
        f.FocusElsewhere();
        f.Tick();
        f.window->hooks.showDeviceConfig();
        QCOMPARE(f.Edit("edtTempOffset")->text(), QStringLiteral("-12,6"));
        QCOMPARE(f.Edit("edtTempWaterLow")->text(), QStringLiteral("21,5"));
    }

    void fullmoonTransitNeedsHourAndMinute() {
        SettingsFixture f([](sim::SimulatedBoard& b) {
            b.Config().FullmoonTransitHour = 7;
            b.Config().FullmoonTransitMinute = 5;
        });
        QCOMPARE(f.Edit("edtFullmoonTransit")->text(), QStringLiteral("07:05"));

        // "12:" changes the hour in memory only.
        f.Type("edtFullmoonTransit", "12:");
        QVERIFY(f.ConfigWrites().empty());
        QCOMPARE(int(f.window->Board().config.FullmoonTransitHour), 12);
        QCOMPARE(int(f.backend.Board().Config().FullmoonTransitHour), 7);

        // "12:30" writes both.
        f.Type("edtFullmoonTransit", "12:30");
        auto writes = f.ConfigWrites();
        QVERIFY(!writes.empty());
        QCOMPARE(int(writes.back().config.FullmoonTransitHour), 12);
        QCOMPARE(int(writes.back().config.FullmoonTransitMinute), 30);

        // Without a colon nothing changes.
        f.backend.ClearTransfers();
        f.Type("edtFullmoonTransit", "1230");
        QVERIFY(f.ConfigWrites().empty());
        QCOMPARE(int(f.window->Board().config.FullmoonTransitHour), 12);
        QCOMPARE(int(f.window->Board().config.FullmoonTransitMinute), 30);
    }

    void userChoosesTheFanMode() {
        SettingsFixture f;
        auto* water = f.Control<QRadioButton>("rbtFMOWater");
        QVERIFY(!f.Enabled("edtTempWaterLow"));
        QVERIFY(f.Focus(water));
        QTest::mouseClick(water, Qt::LeftButton, {}, QPoint(4, water->height() / 2));
        QVERIFY(water->isChecked());
        QCOMPARE(int(f.backend.Board().Config().FanMode), 1);
        QVERIFY(f.Enabled("edtTempWaterLow"));
        QVERIFY(f.Enabled("edtTempWaterHigh"));
        QCOMPARE(f.ConfigWrites().size(), std::size_t{1});
        f.Tick();
        QVERIFY(water->isChecked());
        QCOMPARE(f.ConfigWrites().size(), std::size_t{1});
    }
};

QUELVAN_WINDOW_TEST(ExpertPageTest)
#include "expert_page_test.moc"
