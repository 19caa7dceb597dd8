// Manual channel control on the simulated board: what the user does with the channel
// rows, which bytes reach the board, and that the poll's own updates write nothing.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <limits>

#include "channel_test_harness.h"
#include "window/labeled_edit.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::Bytes;
using quelvan::test::ChannelHarness;
using quelvan::test::ChannelIn;

namespace {

// Distinct start values, so a channel that goes out changed is noticed.
constexpr int StartValue(int channel) {
    return 100 * (channel + 1) + 3;
}
constexpr int kNothingSent = std::numeric_limits<int>::min();

void PrepareBoard(sim::SimulatedBoard& board) {
    for (int n = 0; n < kChannelCount; ++n) board.Live().ChannelValue[static_cast<std::size_t>(n)] = StartValue(n);
    board.Config().Mode = 0;
    board.Config().ColorName = {};
}

// A live-state write that sets channels only: the clock and moon-transit marks are in
// place and every channel except `changed` goes out as it was read.
void VerifyChannelWrite(const Bytes& buffer, int changed, int value) {
    QCOMPARE(buffer.size(), std::size_t{42});
    QCOMPARE(int(buffer[7]), 0xFF);
    QCOMPARE(int(buffer[11]), 0xFF);
    for (int n = 0; n < kChannelCount; ++n) QCOMPARE(ChannelIn(buffer, n), n == changed ? value : StartValue(n));
}

}  // namespace

class ChannelControlTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ChannelHarness> h;

    template <typename T>
    T* Channel(const char* prefix, int n) {
        T* control = h->Find<T>(QLatin1String(prefix) + QString::number(n));
        if (!control) qFatal("control %s%d missing", prefix, n);
        return control;
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void init() {
        h = std::make_unique<ChannelHarness>(PrepareBoard);
        QVERIFY(h->connected);
        QVERIFY(h->windowActive);
    }
    void cleanup() { h.reset(); }

    void rowsCarryTheirChannel() {
        for (int n = 0; n < kChannelCount; ++n) {
            for (const char* prefix : {"trb", "lblName", "cmbName", "edt", "btnOff", "btnOn"})
                QCOMPARE(Channel<QWidget>(prefix, n)->property("tag").toInt(), n);
            QCOMPARE(Channel<QWidget>("trb", n)->parentWidget(), n < 6 ? h->channelsAF : h->channelsGL);
            const auto* trb = Channel<QSlider>("trb", n);
            QCOMPARE(trb->maximum(), 4096);
            QCOMPARE(trb->singleStep(), 32);
            QCOMPARE(trb->pageStep(), 512);
            auto* cmb = Channel<QComboBox>("cmbName", n);
            QVERIFY(!cmb->isEditable());
            QCOMPARE(cmb->count(), 12);
            QCOMPARE(cmb->itemText(0), QStringLiteral("Kanal ") + QChar('A' + n));
            QCOMPARE(cmb->itemText(11), QStringLiteral("Royalblau"));
        }
        QCOMPARE(Channel<QLabel>("lblName", 11)->text(), QStringLiteral("Bezeicher für Kanal L"));
        QCOMPARE(Channel<QPushButton>("btnOff", 0)->text(), QStringLiteral("AUS"));
        QCOMPARE(Channel<QPushButton>("btnOn", 0)->text(), QStringLiteral("EIN"));
    }

    void pollShowsPercentages() {
        const int values[] = {2048, 1000, 1, 4096, -2048, 5000};
        for (int n = 0; n < 6; ++n) h->backend.Board().Live().ChannelValue[static_cast<std::size_t>(n)] = values[n];
        h->Poll();
        const char* shown[] = {"50", "24,41", "0,02", "100", "-50", "122,07"};
        const int positions[] = {2048, 1000, 1, 4096, 0, 4096};
        for (int n = 0; n < 6; ++n) {
            QCOMPARE(Channel<QLineEdit>("edt", n)->text(), QString::fromUtf8(shown[n]));
            QCOMPARE(Channel<QSlider>("trb", n)->value(), positions[n]);
        }
        QVERIFY(h->Sets(1).empty());
    }

    void focusedEditKeepsTypedText() {
        auto* edt3 = Channel<QLineEdit>("edt", 3);
        QVERIFY(h->Focus(edt3));
        edt3->selectAll();
        QTest::keyClicks(edt3, "abc");
        h->backend.Board().Live().ChannelValue[3] = 2048;
        for (int tick = 0; tick < 3; ++tick) h->Poll();
        QCOMPARE(edt3->text(), QStringLiteral("abc"));
        QCOMPARE(Channel<QSlider>("trb", 3)->value(), 2048);

        QVERIFY(h->Focus(Channel<QLineEdit>("edt", 4)));
        h->Poll();
        QCOMPARE(edt3->text(), QStringLiteral("50"));
        QVERIFY(h->Sets(1).empty());
    }

    // Input: a comma and a point are both the decimal separator, in either locale, and a
    // percentage is limited to 0..100 before it is sent.
    void typedPercentSendsChannel_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("english");
        QTest::addColumn<int>("sent");  // last channel value sent, or kNothingSent
        QTest::newRow("fifty") << "50" << false << 2048;
        QTest::newRow("decimal comma") << "33,3" << false << 1364;
        QTest::newRow("decimal point in German") << "12.5" << false << 512;
        QTest::newRow("decimal comma in English") << "12,5" << true << 512;
        QTest::newRow("decimal point in English") << "33.3" << true << 1364;
        QTest::newRow("full") << "100" << false << 4096;
        QTest::newRow("above full is limited") << "150" << false << 4096;
        QTest::newRow("far above full is limited") << "70000" << false << 4096;
        QTest::newRow("below zero is limited") << "-5" << false << 0;
        QTest::newRow("exponent is no number") << "1e20" << false << kNothingSent;
        QTest::newRow("letters") << "abc" << false << kNothingSent;
    }
    void typedPercentSendsChannel() {
        QFETCH(QString, typed);
        QFETCH(bool, english);
        QFETCH(int, sent);
        if (english) QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        auto* edt2 = Channel<QLineEdit>("edt", 2);
        QVERIFY(h->Focus(edt2));
        edt2->selectAll();
        QTest::keyClicks(edt2, typed);
        QVERIFY(h->Sets(1).empty());  // nothing while the typing goes on
        QTest::keyClick(edt2, Qt::Key_Return);
        const std::vector<Bytes> sets = h->Sets(1);
        if (english) {
            // The edit shows the locale's separator again once the user has left it.
            QVERIFY(h->Focus(Channel<QLineEdit>("edt", 3)));
            h->Poll();
            QCOMPARE(edt2->text(), QString(typed).replace(',', '.'));
            QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        }
        if (sent == kNothingSent) {
            QVERIFY(sets.empty());
            QCOMPARE(Channel<QSlider>("trb", 2)->value(), StartValue(2));
            return;
        }
        QCOMPARE(sets.size(), std::size_t{1});
        VerifyChannelWrite(sets.back(), 2, sent);
        QCOMPARE(Channel<QSlider>("trb", 2)->value(), sent);
        if (!english) QCOMPARE(edt2->text(), typed);
    }

    // A typed percentage goes out whole, once: when the typing pauses, on Enter, or when the
    // edit is left; never a prefix of it ("7" on the way to "75" would dim the light).
    void typedPercentIsWrittenWhole_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("ending");  // "pause", "enter" or "leave"
        QTest::addColumn<int>("sent");        // the one value sent, or kNothingSent
        QTest::newRow("75 over 80, pause") << "75"
                                           << "pause" << 3072;
        QTest::newRow("100 over 80, pause") << "100"
                                            << "pause" << 4096;
        QTest::newRow("100 over 80, Enter") << "100"
                                            << "enter" << 4096;
        QTest::newRow("12,5 over 80, edit left") << "12,5"
                                                 << "leave" << 512;
        QTest::newRow("a valid prefix, then letters") << "7x"
                                                      << "pause" << kNothingSent;
        QTest::newRow("letters, edit left") << "x"
                                            << "leave" << kNothingSent;
    }
    void typedPercentIsWrittenWhole() {
        QFETCH(QString, typed);
        QFETCH(QString, ending);
        QFETCH(int, sent);
        h->backend.Board().Live().ChannelValue[2] = 3277;  // 80 %
        h->Poll();
        h->backend.ClearTransfers();
        auto* edt2 = Channel<QLineEdit>("edt", 2);
        QCOMPARE(edt2->text(), QStringLiteral("80"));
        QVERIFY(h->Focus(edt2));
        edt2->selectAll();
        QTimer& pause = h->channels->TypingTimer();
        QCOMPARE(pause.interval(), 500);
        QVERIFY(pause.isSingleShot());
        for (const QChar key : typed) {
            QTest::keyClicks(edt2, QString(key));
            // A poll between the keys keeps the typing and sends nothing either.
            h->Poll();
            QVERIFY(h->Sets(1).empty());
        }
        QCOMPARE(pause.isActive(), sent != kNothingSent);
        if (ending == "pause") {
            if (pause.isActive()) h->channels->edtATypingPaused();  // what the timer's timeout runs
        } else if (ending == "enter") {
            QTest::keyClick(edt2, Qt::Key_Return);
        } else {
            QVERIFY(h->Focus(Channel<QSlider>("trb", 2)));
        }
        QVERIFY(!pause.isActive());
        const std::vector<Bytes> sets = h->Sets(1);
        if (sent == kNothingSent) {
            QVERIFY(sets.empty());
            return;
        }
        QCOMPARE(sets.size(), std::size_t{1});
        VerifyChannelWrite(sets.front(), 2, sent);
        QCOMPARE(Channel<QSlider>("trb", 2)->value(), sent);
        // Written once: Enter or leaving afterwards does not send it again.
        QTest::keyClick(edt2, Qt::Key_Return);
        QVERIFY(h->Focus(Channel<QLineEdit>("edt", 3)));
        QCOMPARE(h->Sets(1).size(), std::size_t{1});
    }

    // A button pressed while a typed value waits sets the channel; the typed value, now
    // older than the button, is not written after it.
    void buttonSupersedesAWaitingTypedValue() {
        auto* edt4 = Channel<QLineEdit>("edt", 4);
        QVERIFY(h->Focus(edt4));
        edt4->selectAll();
        QTest::keyClicks(edt4, "30");
        h->channels->mnuAllOnClick();
        QVERIFY(!h->channels->TypingTimer().isActive());
        QVERIFY(h->Focus(Channel<QLineEdit>("edt", 5)));
        const std::vector<Bytes> sets = h->Sets(1);
        QCOMPARE(sets.size(), std::size_t{1});
        QCOMPARE(ChannelIn(sets.back(), 4), 4096);
    }

    void emptiedEditSendsNothing() {
        auto* edt2 = Channel<QLineEdit>("edt", 2);
        QVERIFY(h->Focus(edt2));
        edt2->selectAll();
        QTest::keyClick(edt2, Qt::Key_Backspace);
        QCOMPARE(edt2->text(), QString());
        QVERIFY(h->Sets(1).empty());
        QCOMPARE(Channel<QSlider>("trb", 2)->value(), StartValue(2));
    }

    void onAndOffButtons() {
        QTest::mouseClick(Channel<QPushButton>("btnOn", 5), Qt::LeftButton);
        QCOMPARE(h->Sets(1).size(), std::size_t{1});
        VerifyChannelWrite(h->Sets(1).back(), 5, 4096);
        QCOMPARE(Channel<QSlider>("trb", 5)->value(), 4096);
        QCOMPARE(Channel<QLineEdit>("edt", 5)->text(), QStringLiteral("100"));

        h->backend.ClearTransfers();
        h->board.live.ChannelValue[5] = static_cast<std::int16_t>(StartValue(5));
        QTest::mouseClick(Channel<QPushButton>("btnOff", 5), Qt::LeftButton);
        QCOMPARE(h->Sets(1).size(), std::size_t{1});
        VerifyChannelWrite(h->Sets(1).back(), 5, 0);
        QCOMPARE(Channel<QSlider>("trb", 5)->value(), 0);
        QCOMPARE(Channel<QLineEdit>("edt", 5)->text(), QStringLiteral("0"));
    }

    void allChannelsFromAutoMode_data() {
        QTest::addColumn<bool>("on");
        QTest::newRow("ALLES EIN") << true;
        QTest::newRow("ALLES AUS") << false;
    }
    void allChannelsFromAutoMode() {
        QFETCH(bool, on);
        h->board.config.Mode = 1;
        h->pc->setCurrentWidget(h->config);
        // A focused percentage edit must not turn the command into a second write.
        QVERIFY(h->Focus(Channel<QLineEdit>("edt", 2)));
        QWidget* shown = nullptr;
        auto defaultShow = h->channels->showPage;
        h->channels->showPage = [&](QWidget* page) {
            shown = page;
            defaultShow(page);
        };
        on ? h->channels->mnuAllOnClick() : h->channels->mnuAllOffClick();

        QCOMPARE(h->SetIds(), (std::vector<int>{2, 4, 5, 6, 1}));
        QCOMPARE(int(h->Sets(2).front()[1]), 0);
        const int value = on ? 4096 : 0;
        const Bytes live = h->Sets(1).front();
        for (int n = 0; n < kChannelCount; ++n) {
            QCOMPARE(ChannelIn(live, n), value);
            QCOMPARE(Channel<QSlider>("trb", n)->value(), value);
            QCOMPARE(Channel<QLineEdit>("edt", n)->text(), on ? QStringLiteral("100") : QStringLiteral("0"));
        }
        QCOMPARE(shown, h->channelsAF);
        QCOMPARE(h->pc->currentWidget(), h->channelsAF);
    }

    void trackBarSendsOnlyUserMoves() {
        auto* trb0 = Channel<QSlider>("trb", 0);
        QVERIFY(h->Focus(trb0));
        QTest::keyClick(trb0, Qt::Key_Right);
        QCOMPARE(h->Sets(1).size(), std::size_t{1});
        VerifyChannelWrite(h->Sets(1).back(), 0, StartValue(0) + 32);
        QTest::keyClick(trb0, Qt::Key_PageUp);
        QCOMPARE(h->Sets(1).size(), std::size_t{2});
        VerifyChannelWrite(h->Sets(1).back(), 0, StartValue(0) + 32 + 512);
        QCOMPARE(Channel<QLineEdit>("edt", 0)->text(), QStringLiteral("15,8"));  // 647 of 4096

        // The poll moves the focused bar to the board's values, including one beyond the
        // bar's range, without sending anything back.
        h->backend.ClearTransfers();
        for (int value : {1000, 5000, -3}) {
            h->backend.Board().Live().ChannelValue[0] = static_cast<std::int16_t>(value);
            h->Poll();
            QCOMPARE(trb0->value(), std::clamp(value, 0, 4096));
        }
        QVERIFY(trb0->hasFocus());
        QVERIFY(h->Sets(1).empty());
    }

    void nameChoiceRelabels() {
        QStringList headers(14);
        QComboBox visualize;
        h->channels->cmbVisualize = &visualize;
        h->channels->currentGraphChannel = [] { return 5; };
        h->channels->setGridHeader = [&](int column, const QString& name) { headers[column] = name; };
        int graphChanges = 0;
        connect(&visualize, &QComboBox::currentIndexChanged, [&] { ++graphChanges; });

        auto* cmb1 = Channel<QComboBox>("cmbName", 1);
        QVERIFY(h->Focus(cmb1));
        for (int i = 0; i < 4; ++i) QTest::keyClick(cmb1, Qt::Key_Down);  // down to "Blau"
        QCOMPARE(cmb1->currentText(), QStringLiteral("Blau"));
        QVERIFY(!h->Sets(2).empty());
        QCOMPARE(int(h->Sets(2).back()[9]), 4);  // ColorName[1]
        QCOMPARE(h->Sets(4).size(), h->Sets(2).size());
        auto* edt1 = static_cast<LabeledEdit*>(Channel<QLineEdit>("edt", 1));
        QCOMPARE(edt1->EditLabel()->text(), QStringLiteral("Blau"));
        QCOMPARE(headers[3], QStringLiteral("Blau"));
        QCOMPARE(headers[2], QStringLiteral("Kanal A"));
        QCOMPARE(visualize.count(), 12);
        QCOMPARE(visualize.itemText(1), QStringLiteral("Blau"));
        QCOMPARE(visualize.currentIndex(), 5);
        QCOMPARE(graphChanges, 0);

        // Names set by the program (an import) show everywhere except in the focused choice.
        h->backend.ClearTransfers();
        h->board.config.ColorName[0] = 3;
        h->board.config.ColorName[1] = 2;
        h->board.config.ColorName[7] = 200;  // out of the table: named by its letter
        h->channels->ShowChannelNames();
        QCOMPARE(cmb1->currentIndex(), 4);
        QCOMPARE(edt1->EditLabel()->text(), QStringLiteral("Rot"));
        QCOMPARE(Channel<QComboBox>("cmbName", 0)->currentText(), QStringLiteral("Grün"));
        QCOMPARE(Channel<QComboBox>("cmbName", 7)->currentText(), QStringLiteral("Kanal H"));
        QCOMPARE(visualize.itemText(7), QStringLiteral("Kanal H"));
        QVERIFY(h->SetIds().empty());

        QTest::keyClick(cmb1, Qt::Key_Home);  // back to the channel's letter
        QVERIFY(!h->Sets(2).empty());
        QCOMPARE(int(h->Sets(2).back()[9]), 0);
        QCOMPARE(edt1->EditLabel()->text(), QStringLiteral("Kanal B"));
        QCOMPARE(headers[3], QStringLiteral("Kanal B"));
    }

    void editLabelFollowsEdit() {
        auto* edt4 = static_cast<LabeledEdit*>(Channel<QLineEdit>("edt", 4));
        QCOMPARE(edt4->EditLabel()->parentWidget(), edt4->parentWidget());
        h->window.resize(900, 600);
        edt4->move(400, 300);
        const QRect label = edt4->EditLabel()->geometry();
        QVERIFY(label.right() < edt4->x());
        QVERIFY(edt4->x() - label.right() <= 8);
        QVERIFY(label.top() <= edt4->y() + edt4->height() / 2 && label.bottom() >= edt4->y() + edt4->height() / 2);
        edt4->setEnabled(false);
        QVERIFY(!edt4->EditLabel()->isEnabled());
        edt4->hide();
        QVERIFY(!edt4->EditLabel()->isVisible());
        edt4->show();
        QVERIFY(edt4->EditLabel()->isVisible());
    }

    // At any size the rows share the page's height, the track bars stretch with its width, and
    // each row's line keeps its controls together: "AUS" and "EIN" beside the value.
    void rowsUseTheWholePage_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("design size") << QSize(682, 560);
        QTest::newRow("1000 x 600") << QSize(1000, 600);
        QTest::newRow("1920 x 1080") << QSize(1920, 1080);
    }
    void rowsUseTheWholePage() {
        QFETCH(QSize, size);
        h->window.resize(size);
        QTRY_COMPARE(h->window.size(), size);
        for (QWidget* page : {h->channelsAF, h->channelsGL}) {
            h->pc->setCurrentWidget(page);
            QCoreApplication::processEvents();
            const int first = page == h->channelsAF ? 0 : 6;
            for (int n = first; n < first + 6; ++n) {
                const QRect trb = Channel<QWidget>("trb", n)->geometry();
                const QRect edt = Channel<QWidget>("edt", n)->geometry();
                const QRect off = Channel<QWidget>("btnOff", n)->geometry();
                const QRect on = Channel<QWidget>("btnOn", n)->geometry();
                QCOMPARE(trb.width(), std::max(622, page->width() - 24 - 28));  // 28: right margin
                QVERIFY(off.left() > edt.right() && off.left() - edt.right() <= 120);
                QVERIFY(on.left() > off.right() && on.left() - off.right() <= 10);
                QVERIFY(on.top() > trb.bottom() - 10);
                if (n < first + 5) QVERIFY(on.bottom() < Channel<QWidget>("trb", n + 1)->geometry().top());
            }
            // The last row ends at the page's bottom edge: the height is used, and nothing is cut.
            const int bottom = Channel<QWidget>("btnOn", first + 5)->geometry().bottom();
            QVERIFY2(bottom < page->height() && bottom >= page->height() - 12,
                     qPrintable(QStringLiteral("%1 of %2").arg(bottom).arg(page->height())));
        }
    }
};

QUELVAN_WINDOW_TEST(ChannelControlTest)
#include "channel_control_test.moc"
