// Page "JMP-Pin": its captions, the red warnings and the picture of the example circuits.

#include <QLabel>
#include <QLocale>
#include <QRadioButton>
#include <cstdlib>

#include "settings_fixture.h"
#include "window/wrapping_tab_bar.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::SettingsFixture;

class JmpPageTest : public QObject {
    Q_OBJECT

    static bool Red(const QWidget* w) {
        return w->palette().color(QPalette::Active, w->foregroundRole()) == QColor(Qt::red);
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void captionsAndRedWarnings() {
        SettingsFixture f;
        struct Item {
            const char* name;
            const char* caption;
            bool red;
        };
        const Item buttons[] = {
            {"rbtJMPIRLearn", "Fernbedienungslernmodus (default)", false},
            {"rbtJMPStorm", "Bei Gewitter Pin auf Masse ziehen", true},
            {"rbtJMPCooler", "Bei Temperaturüberschreitung Pin auf Masse ziehen (Kühlung)", true},
            {"rbtJMPHeater", "Bei Temperaturunterschreitung Pin auf Masse ziehen (Heizung)", true},
        };
        for (const Item& item : buttons) {
            auto* button = f.Control<QRadioButton>(item.name);
            QCOMPARE(button->parentWidget(), f.Page("tsJMP"));
            QCOMPARE(button->text(), QString::fromUtf8(item.caption));
            QCOMPARE(Red(button), item.red);
        }
        const Item labels[] = {
            {"lblJMPWarning1", "ACHTUNG:", true},
            {"lblJMPWarning2",
             "In den folgenden Modi wird Pin 5 des Link-Ports als Ausgang (active low) geschaltet, also bei "
             "verschiedenen Ereignissen auf Masse gelegt. Zwei Beispielschaltungen sind rechts abgebildet.",
             true},
        };
        for (const Item& item : labels) {
            auto* label = f.Control<QLabel>(item.name);
            QCOMPARE(label->text(), QString::fromUtf8(item.caption));
            QVERIFY(Red(label));
        }
        // The buttons form one group of their own: checking one unchecks the others only.
        f.Control<QRadioButton>("rbtJMPStorm")->setChecked(true);
        QVERIFY(!f.Control<QRadioButton>("rbtJMPIRLearn")->isChecked());
        QVERIFY(f.Control<QRadioButton>("rbtFMOLED")->isChecked());
    }

    void schematicIsBlackOnWhiteOnTheRightHalf() {
        SettingsFixture f;
        auto* img = f.Control<QLabel>("imgLink");
        // 346 × 486 where the page has the room, else smaller in the same proportions.
        QVERIFY(img->width() <= 346 && img->height() <= 486);
        QVERIFY(std::abs(img->width() * 486 - img->height() * 346) <= 486);
        QVERIFY(img->geometry().bottom() < f.Page("tsJMP")->height());
        QVERIFY(img->x() >= f.Page("tsJMP")->width() / 2 - 10);
        for (const char* name : {"rbtJMPHeater", "lblJMPWarning2", "edtTempJMPHigh"})
            QVERIFY2(f.Control<QWidget>(name)->geometry().right() < img->x(), name);
        const QImage picture = img->pixmap().toImage();
        QCOMPARE(picture.size(), img->size());
        QCOMPARE(picture.pixelColor(1, 1), QColor(Qt::white));
        int dark = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) dark += qGray(picture.pixel(x, y)) < 64 ? 1 : 0;
        QVERIFY2(dark > 2000, qPrintable(QString::number(dark)));  // both circuits are drawn

        // The picture is no device-bound control.
        f.backend.Unplug();
        f.Discover();
        QVERIFY(img->isEnabled());
        QVERIFY(!f.Enabled("rbtJMPIRLearn"));
        QVERIFY(!f.Enabled("lblJMPWarning1"));
    }

    // In the smallest window with both hidden pages shown the tabs take two rows: the picture
    // is drawn smaller, whole and in its proportions, and the choices beside it stay whole.
    void pictureFitsTheSmallestWindow() {
        SettingsFixture f;
        f.Action("mnuShowExpert")->trigger();
        f.Action("mnuShowJMP")->trigger();
        f.window->resize(f.window->minimumSize());
        QCoreApplication::processEvents();
        QCOMPARE(f.CurrentPage(), f.Page("tsJMP"));
        QVERIFY(static_cast<WrappingTabBar&>(*f.window->PageControl().tabBar()).RowCount() >= 2);
        const QWidget* page = f.Page("tsJMP");
        auto* img = f.Control<QLabel>("imgLink");
        const QRect picture = img->geometry();
        QVERIFY2(picture.bottom() < page->height(),
                 qPrintable(QStringLiteral("%1 of %2").arg(picture.bottom()).arg(page->height())));
        QVERIFY(picture.right() < page->width());
        QVERIFY(picture.height() < 486);
        QCOMPARE(img->pixmap().size(), picture.size());
        // 346 × 486, to the pixel.
        QVERIFY(std::abs(picture.width() * 486 - picture.height() * 346) <= 486);
        QVERIFY(!img->hasScaledContents());
        for (const char* name : {"rbtJMPHeater", "lblJMPWarning2", "edtTempJMPHigh"}) {
            const QRect control = f.Control<QWidget>(name)->geometry();
            QVERIFY2(control.right() < picture.left() && control.bottom() < page->height(), name);
        }
    }
};

QUELVAN_WINDOW_TEST(JmpPageTest)
#include "jmp_page_test.moc"
