// The real progress display of a long operation (the firmware update): it stays away while
// an operation is short, then shows how far it has come, the last step always included.

#include <QMainWindow>
#include <QProgressDialog>
#include <QTest>

#include "window/dialog_service.h"
#include "window_test_main.h"

using namespace quelvan;

class ProgressDialogTest : public QObject {
    Q_OBJECT

    QProgressDialog* Dialog() const { return window_->findChild<QProgressDialog*>(); }

private slots:
    void init() {
        window_ = std::make_unique<QMainWindow>();
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() { window_.reset(); }

    void shortOperationShowsNoDialog() {
        QtDialogService dialogs;
        auto progress =
            dialogs.StartProgress(window_.get(), "Firmware aktualisieren", "Die Firmware wird geschrieben...");
        for (int done = 0; done <= 8; ++done) progress->SetProgress(done, 8);
        QVERIFY(Dialog());
        QVERIFY(!Dialog()->isVisible());
        progress.reset();
        QVERIFY(!Dialog());
    }

    void longOperationShowsItsSteps() {
        QtDialogService dialogs;
        auto progress =
            dialogs.StartProgress(window_.get(), "Firmware aktualisieren", "Die Firmware wird geschrieben...");
        progress->SetProgress(0, 240);
        QVERIFY(!Dialog()->isVisible());
        QTest::qWait(600);
        progress->SetProgress(3, 240);
        QVERIFY(Dialog()->isVisible());
        QCOMPARE(Dialog()->value(), 3);
        QCOMPARE(Dialog()->maximum(), 240);
        QCOMPARE(Dialog()->labelText(), QStringLiteral("Die Firmware wird geschrieben...\n3 von 240"));
        QCOMPARE(Dialog()->windowTitle(), QStringLiteral("Firmware aktualisieren"));
        // Right after a step the next ones are skipped, but never the last.
        progress->SetProgress(4, 240);
        QCOMPARE(Dialog()->value(), 3);
        progress->SetProgress(240, 240);
        QCOMPARE(Dialog()->value(), 240);
        QCOMPARE(Dialog()->labelText(), QStringLiteral("Die Firmware wird geschrieben...\n240 von 240"));
    }

private:
    std::unique_ptr<QMainWindow> window_;
};

QUELVAN_WINDOW_TEST(ProgressDialogTest)
#include "progress_dialog_test.moc"
