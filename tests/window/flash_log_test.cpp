// The message log during a firmware update: the block lines are added in batches, but they
// keep their order among the status lines, and a block that fails shows its line before
// its waits.

#include <QTemporaryDir>

#include "files_test_support.h"
#include "window_fixture.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::WindowFixture;

namespace {

struct LogFixture {
    LogFixture() : f({}, Options(*this)) {}
    static MainWindowOptions Options(LogFixture& self) {
        MainWindowOptions options;
        options.ppi = 96.0;
        options.sleep = [&self](std::chrono::milliseconds) { self.lastLineAtWait << self.f.LogTexts().last(); };
        return options;
    }
    // The board restarts into its bootloader; its arrival takes this file.
    void FlashOnArrival(std::int32_t start, std::int32_t end) {
        const QString path = dir.filePath("new.vbf328p");
        files::testing::WriteBytes(path.toStdString(), files::testing::FirmwareBytes(start, end));
        f.dialogs.SetNextFileName(path);
        QVERIFY(f.window->Board().EnterBootloader().ok);
        f.Discover();
    }
    // The log from the bootloader's arrival on.
    QStringList UpdateLines() const {
        const QStringList log = f.LogTexts();
        return log.mid(log.lastIndexOf("Dravik-Bootloader erkannt"));
    }

    QStringList lastLineAtWait;
    WindowFixture f;
    QTemporaryDir dir;
};

}  // namespace

class FlashLogTest : public QObject {
    Q_OBJECT

private slots:
    void updateLinesKeepTheirOrder() {
        LogFixture u;
        u.f.Discover();
        u.FlashOnArrival(0, 1023);
        QStringList expected = {"Dravik-Bootloader erkannt", "Flashgröße: 1023 / 30720 Bytes",
                                "Starte Flashvorgang, schreibe 1024 Bytes..."};
        for (int block = 0; block < 8; ++block)
            expected << "0x" + QString::number(block * 128, 16).toUpper().rightJustified(4, '0');
        expected << "Reset..."
                 << "Fertig!";
        QCOMPARE(u.UpdateLines(), expected);
        QVERIFY(u.lastLineAtWait.isEmpty());
        // Lines logged after the update go straight to the log again.
        u.f.window->LogMessage("danach");
        QCOMPARE(u.f.LogTexts().last(), QStringLiteral("danach"));
    }

    void aFailingBlockShowsItsLineBeforeEachWait() {
        LogFixture u;
        u.f.Discover();
        u.f.backend.FailNext(true, 2, 2);  // the first block's first two attempts
        u.FlashOnArrival(0, 255);
        QCOMPARE(u.lastLineAtWait, (QStringList{"0x0000", "0x0000"}));
        QCOMPARE(u.UpdateLines().mid(3), (QStringList{"0x0000", "0x0080", "Reset...", "Fertig!"}));
        QCOMPARE(u.f.backend.Board().BlocksWritten(), 2);
    }
};

QUELVAN_WINDOW_TEST(FlashLogTest)
#include "flash_log_test.moc"
