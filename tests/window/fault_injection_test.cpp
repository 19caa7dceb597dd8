// Every transfer of the window's multi-transfer operations, once failing in all its attempts
// and once with the board unplugged right before it: the operation ends, the window's state
// is consistent once the device change has been handled, and the next plug-in connects
// cleanly. One test per operation; the loop over the transfers is inside.

#include <QCoreApplication>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>

#include "files/firmware_flasher.h"
#include "files_test_support.h"
#include "schedule/schedule_table.h"
#include "window/wrapping_tab_bar.h"
#include "window_consistency.h"
#include "window_fixture.h"
#include "window_test_main.h"

using namespace quelvan;
using namespace quelvan::test;

namespace {

using Milliseconds = std::chrono::milliseconds;

enum class Fault { Fail, Unplug };

const char* FaultName(Fault fault) {
    return fault == Fault::Fail ? "failing in full" : "unplugged right before it";
}

// The window on the simulated board, its 500 ms waits only recorded, with the files a user
// would pick.
class FaultWindow {
public:
    FaultWindow() : f({}, Options(waits)) {
        // The poll and the connection retry run only where a test runs them, so that a slow
        // run (under the sanitizers) does not add transfers of its own.
        f.window->StatusTimer().setInterval(std::chrono::hours(1));
        f.window->ConnectRetryTimer().setInterval(std::chrono::hours(1));
        firmware = dir.filePath("small.vbf328p");
        files::testing::WriteBytes(firmware.toStdString(), files::testing::FirmwareBytes(0, 1023));
    }

    static MainWindowOptions Options(std::vector<Milliseconds>& waits) {
        MainWindowOptions options;
        options.ppi = 96.0;
        options.sleep = [&waits](Milliseconds span) { waits.push_back(span); };
        return options;
    }

    // Shown and active, for the operations the user starts with the mouse.
    void Show() {
        f.window->resize(900, 700);
        f.window->show();
        f.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    }

    // Device notifications and whatever the event loop has pending, as it would run them.
    void DeviceChange() {
        f.Discover();
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    }

    void ClickTab(const char* page) const {
        QTabWidget& pc = f.window->PageControl();
        auto* bar = static_cast<WrappingTabBar*>(pc.tabBar());
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->WrappedTabRect(pc.indexOf(f.Page(page))).center());
    }

    QString File(const QString& name, const QString& text) const {
        const QString path = dir.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(text.toUtf8());
        return path;
    }

    int RowWrites() const {
        int rows = 0;
        for (const Bytes& b : f.Sets("board", report::kSchedule)) rows += b.size() == report::kScheduleLength;
        return rows;
    }

    QTemporaryDir dir;
    QString firmware;
    std::vector<Milliseconds> waits;
    WindowFixture f;
};

struct Operation {
    const char* name;
    // Brings the window to where the operation starts; its transfers are not counted.
    std::function<void(FaultWindow&)> prepare;
    // The operation, started as the user (or the timer) starts it.
    std::function<void(FaultWindow&)> run;
    // The transfers of a clean run, so that the loop cannot silently shrink.
    int transfers;
    // What else must hold after a run with transfer k (from 1) faulted, once the device
    // change has been handled; `clean` is the clean run's transfer log.
    std::function<void(FaultWindow&, Fault, int k, const std::vector<sim::SimTransfer>& clean)> check;
};

// Attempts one transfer gets: the board's live-state read and every write three, its other
// reads one; the bootloader's blocks ten, its information get and its restart one.
int AttemptsOf(const sim::SimTransfer& t) {
    const std::uint8_t id = t.bytes.empty() ? 0 : t.bytes[0];
    if (t.device == "bootloader") return t.isSet && id == bootloader::kBlockReport ? files::kBlockAttempts : 1;
    if (t.isSet) return BoardProtocol::kWriteAttempts;
    return id == report::kLiveState ? BoardProtocol::kLiveStateReadAttempts : 1;
}

// The same request: device, direction and length, and for a set the bytes sent.
bool SameRequest(const sim::SimTransfer& a, const sim::SimTransfer& b) {
    if (a.device != b.device || a.isSet != b.isSet || a.bytes.size() != b.bytes.size() || a.bytes.empty()) return false;
    return a.isSet ? a.bytes == b.bytes : a.bytes[0] == b.bytes[0];
}

QString Describe(const sim::SimTransfer& t) {
    return QString("%1 %2 %3 of the %4")
        .arg(t.isSet ? "set" : "get")
        .arg(t.bytes[0])
        .arg(t.bytes.size())
        .arg(QString::fromStdString(t.device));
}

// Unplug, let the window see it, plug in again: the board connects as at start-up. A board
// that comes back in its bootloader (unplugged during an update) gets the firmware again.
void ReplugConnectsCleanly(FaultWindow& w, const QByteArray& where) {
    w.f.backend.PlanFaults({});
    w.f.backend.Unplug();
    w.DeviceChange();
    QString problem = WindowInconsistency(*w.f.window);
    QVERIFY2(problem.isEmpty(), where + ", unplugged: " + problem.toUtf8());
    QVERIFY2(!w.f.window->BoardDevice() && !w.f.window->BootloaderDevice(), where + ": a slot still holds a device");

    w.f.dialogs.SetNextFileName(w.firmware);
    w.f.backend.ClearTransfers();
    w.f.backend.Plug();
    w.DeviceChange();
    problem = WindowInconsistency(*w.f.window);
    QVERIFY2(problem.isEmpty(), where + ", plugged in again: " + problem.toUtf8());
    QVERIFY2(Connected(*w.f.window), where + ": the board did not connect again: " + w.f.Panel(0).toUtf8());
    QCOMPARE(w.f.Panel(0), QStringLiteral("Quelvan 2.x.4 erkannt"));
    QVERIFY2(!w.f.window->BootloaderDevice(), where);
    for (const sim::SimTransfer& t : w.f.backend.Transfers())
        QVERIFY2(t.ok, where + ": after plugging in again " + Describe(t).toUtf8() + " failed");
    QVERIFY2(w.f.window->Schedule().LoadedCompletelyFrom(w.f.window->Board().DeviceGeneration()), where);
}

void RunWithEveryFault(const Operation& op) {
    std::vector<sim::SimTransfer> clean;
    {
        FaultWindow w;
        op.prepare(w);
        w.f.backend.ClearTransfers();
        op.run(w);
        clean = w.f.backend.Transfers();
        for (const sim::SimTransfer& t : clean) QVERIFY2(t.ok, "clean run: " + Describe(t).toUtf8() + " failed");
        w.DeviceChange();
        const QString problem = WindowInconsistency(*w.f.window);
        QVERIFY2(problem.isEmpty(), "clean run: " + problem.toUtf8());
        QVERIFY(Connected(*w.f.window));
    }
    QCOMPARE(int(clean.size()), op.transfers);

    int runs = 0;
    for (int k = 1; k <= int(clean.size()); ++k) {
        const sim::SimTransfer& target = clean[std::size_t(k - 1)];
        const int attempts = AttemptsOf(target);
        for (const Fault fault : {Fault::Fail, Fault::Unplug}) {
            const QByteArray where =
                QString("%1, transfer %2 (%3) %4").arg(op.name).arg(k).arg(Describe(target), FaultName(fault)).toUtf8();
            FaultWindow w;
            op.prepare(w);
            w.f.backend.ClearTransfers();
            if (fault == Fault::Fail) {
                std::vector<std::int64_t> failing;
                for (int a = 0; a < attempts; ++a) failing.push_back(k + a);
                w.f.backend.PlanFaults(failing);
            } else {
                w.f.backend.PlanFaults({}, k);
            }
            op.run(w);

            // Everything before transfer k went as in the clean run; transfer k itself was tried
            // as often as it may be (once after the unplugging: the board still seems there).
            const std::vector<sim::SimTransfer> log = w.f.backend.Transfers();
            const int tried = fault == Fault::Fail ? attempts : 1;
            QVERIFY2(int(log.size()) >= k - 1 + tried, where + ": the operation stopped early");
            for (int i = 0; i < k - 1; ++i)
                QVERIFY2(SameRequest(log[std::size_t(i)], clean[std::size_t(i)]) && log[std::size_t(i)].ok, where);
            for (int a = 0; a < tried; ++a) {
                const sim::SimTransfer& attempt = log[std::size_t(k - 1 + a)];
                QVERIFY2(SameRequest(attempt, target) && !attempt.ok,
                         where + ": attempt " + QByteArray::number(a + 1) + " is " + Describe(attempt).toUtf8());
            }

            w.DeviceChange();
            const QString problem = WindowInconsistency(*w.f.window);
            QVERIFY2(problem.isEmpty(), where + ": " + problem.toUtf8());
            // A board that stayed on the bus is still held (as board or bootloader); one that
            // left was noticed.
            const bool held = w.f.window->BoardDevice() || w.f.window->BootloaderDevice();
            QVERIFY2(held == (fault == Fault::Fail), where + ": " + w.f.LogTexts().join(" / ").right(300).toUtf8());
            if (fault == Fault::Unplug)
                QVERIFY2(w.f.Panel(0).endsWith(" entfernt"), where + ": the status reads " + w.f.Panel(0).toUtf8());
            if (op.check) {
                op.check(w, fault, k, clean);
                if (QTest::currentTestFailed()) {
                    qWarning("%s", where.constData());
                    return;
                }
            }
            ReplugConnectsCleanly(w, where);
            if (QTest::currentTestFailed()) return;
            ++runs;
        }
    }
    qInfo("%s: %d transfers, %d runs", op.name, int(clean.size()), runs);
}

// A board that connected and shows the log page, as after start-up.
void Connect(FaultWindow& w) {
    w.DeviceChange();
    QVERIFY(Connected(*w.f.window));
    w.f.window->PageControl().setCurrentWidget(w.f.Page("tsMessages"));
}

void ShowAndConnect(FaultWindow& w) {
    w.Show();
    Connect(w);
}

}  // namespace

class FaultInjectionTest : public QObject {
    Q_OBJECT

private slots:
    // From plug-in to "Quelvan 2.x.4 erkannt": the live state, the settings, the day program,
    // what showing the settings writes back, and the first tick.
    void connectionSequence() {
        RunWithEveryFault({"connection",
                           [](FaultWindow& w) {
                               w.f.backend.Unplug();
                               w.DeviceChange();
                           },
                           [](FaultWindow& w) {
                               w.f.backend.Plug();
                               w.f.Discover();
                           },
                           36, nullptr});
    }

    // One tick with the board's clock 8 seconds ahead, so that the tick also corrects it.
    void statusPollTick() {
        RunWithEveryFault({"status poll tick",
                           [](FaultWindow& w) {
                               Connect(w);
                               w.f.backend.Board().Live().ClockSecond += 8;
                           },
                           [](FaultWindow& w) { w.f.window->tmrQuelvanTimer(); }, 6, nullptr});
    }

    void uploadSchedule() {
        RunWithEveryFault({"UploadSchedule",
                           [](FaultWindow& w) {
                               ShowAndConnect(w);
                               w.ClickTab("tsData");
                           },
                           [](FaultWindow& w) {
                               QTest::mouseClick(w.f.window->findChild<QPushButton*>("btnUpload"), Qt::LeftButton);
                           },
                           10, nullptr});
    }

    // Entering "Tabelle" reads the settings and the day program. A row that did not arrive
    // keeps the table from being written back over the board's program.
    void loadFromDevice() {
        RunWithEveryFault({"LoadFromDevice", ShowAndConnect, [](FaultWindow& w) { w.ClickTab("tsData"); }, 14,
                           [](FaultWindow& w, Fault fault, int k, const std::vector<sim::SimTransfer>& clean) {
                               if (fault != Fault::Fail) return;
                               const bool rowLost = clean[std::size_t(k - 1)].bytes[0] == report::kSchedule;
                               w.f.backend.ClearTransfers();
                               QTest::mouseClick(w.f.window->findChild<QPushButton*>("btnUpload"), Qt::LeftButton);
                               QCOMPARE(w.RowWrites(), rowLost ? 0 : 10);
                           }});
    }

    void configurationImport() {
        RunWithEveryFault({"configuration import",
                           [](FaultWindow& w) {
                               Connect(w);
                               w.f.dialogs.SetNextFileName(w.File("fan.ini", "[Config]\nFanLow=10\nMode=0\n"));
                           },
                           [](FaultWindow& w) { w.f.Action("mnuConfigImport")->trigger(); }, 4, nullptr});
    }

    void tableImport() {
        RunWithEveryFault({"table import",
                           [](FaultWindow& w) {
                               Connect(w);
                               w.f.dialogs.SetNextFileName(w.File("day.ini", "[0]\nHour=5\n[3]\nColor0=77\n"));
                           },
                           [](FaultWindow& w) { w.f.Action("mnuDataImport")->trigger(); }, 10, nullptr});
    }

    // From "Firmware aktualisieren..." through the board's restart into its bootloader, the
    // bootloader's information, the eight blocks of a 1 KiB file, to the restart into the
    // application. A block is retried with its waits only while the bootloader is there.
    void firmwareUpdate() {
        RunWithEveryFault({"firmware update", Connect,
                           [](FaultWindow& w) {
                               w.f.dialogs.SetNextAnswer(true);
                               w.f.dialogs.SetNextFileName(w.firmware);
                               emit w.f.window->findChild<QMenu*>("mnuFile")->aboutToShow();
                               w.f.Action("mnuFlash")->trigger();
                               w.f.Discover();  // the bootloader arrives: its dialog, the update
                           },
                           11,
                           [](FaultWindow& w, Fault fault, int k, const std::vector<sim::SimTransfer>& clean) {
                               const sim::SimTransfer& target = clean[std::size_t(k - 1)];
                               const bool block =
                                   target.device == "bootloader" && target.bytes[0] == bootloader::kBlockReport;
                               const std::size_t waits = fault == Fault::Fail && block ? files::kBlockAttempts : 0;
                               QCOMPARE(w.waits.size(), waits);
                               // A bootloader that did not answer its information get is sent nothing.
                               if (fault == Fault::Fail && target.device == "bootloader" && !target.isSet)
                                   QCOMPARE(w.f.Sets("bootloader", bootloader::kBlockReport).size(), std::size_t{0});
                               // "Fertig!" only when every block arrived, and an error whenever one did not.
                               const QStringList log = w.f.LogTexts();
                               const bool allWritten = w.f.backend.Board().BlocksWritten() == 8;
                               QCOMPARE(log.contains("Fertig!"), allWritten);
                               if (!allWritten && log.contains("Starte Flashvorgang, schreibe 1024 Bytes..."))
                                   QVERIFY(log.contains("FEHLER beim Flashen!"));
                           }});
    }
};

QUELVAN_WINDOW_TEST(FaultInjectionTest)
#include "fault_injection_test.moc"
