// The window on the service's client backend (as `quelvan --service` runs it): it finds the
// board the service holds, polls and writes as on the bus, and its edits leave another
// program's change made meanwhile in place, and it tells the service's alarms.

#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <thread>

#include "app/window_alarms.h"
#include "backend/service_backend.h"
#include "device/channel_values.h"
#include "files/ini_file.h"
#include "window/channel_control.h"
#include "window/table_page.h"
#include "window_fixture.h"
#include "window_test_main.h"

using namespace quelvan;

namespace {

// Reads the board the way another program would, or changes one channel as quelvanctl does.
std::optional<LiveState> ReadBoard(const std::string& socket, std::optional<std::pair<int, int>> set = {}) {
    auto backend = ServiceBackend::Connect({socket}, {}, nullptr);
    if (!backend) return std::nullopt;
    HidDeviceController controller(*backend);
    controller.OnDeviceChange = [] {};
    controller.ProcessNotifications();
    const SystemClock clock;
    BoardProtocol board(clock);
    board.SetDevice(controller.AcquireDevice(0));
    if (!board.ReadLiveState().ok) return std::nullopt;
    if (set) {
        board.live.ChannelValue[static_cast<std::size_t>(set->first)] = static_cast<std::int16_t>(set->second);
        if (!board.WriteLiveState(false, false, true).ok) return std::nullopt;
    }
    LiveState live = board.live;
    board.SetDevice(nullptr);
    return live;
}

struct Recorded : DesktopNotifier {
    void Notify(const QString& summary, const QString& body) override { calls.append(summary + " | " + body); }
    QStringList calls;
};

}  // namespace

class ServiceModeTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        const QString state = dir_.filePath("board.state");
        {
            sim::SimulatedHidBackend board;
            board.Board().SetFrozen(true);
            board.Board().Config().Mode = 0;
            board.Board().Live().Temperature = 253;  // 25.3 °C: above the alarm's bound below
            QVERIFY(board.SaveState(state.toStdString()));
        }
        socket_ = dir_.filePath("quelvand.sock").toStdString();
        QFile config(dir_.filePath("quelvand.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        // The settings history in the scratch folder; a water temperature alarm at once.
        config.write(
            QString("[service]\nsocket = %1\npoll_ms = 200\n[history]\nfolder = %2\n[alarm]\nwater_max = 20.0\n")
                .arg(QString::fromStdString(socket_), dir_.filePath("history"))
                .toUtf8());
        config.close();
        serviceArguments_ = {"--config", config.fileName(), "--simulate=" + state};
        service_.start(QUELVAND_PATH, serviceArguments_);
        QVERIFY(service_.waitForStarted());
        std::string error;
        for (int i = 0; i < 400 && !backend_; ++i) {
            backend_ = ServiceBackend::Connect({socket_}, {ServiceBackend::Sessions::OnDemand, "quelvan"}, &error);
            if (!backend_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        QVERIFY2(backend_, error.c_str());
    }

    void cleanupTestCase() {
        window_.reset();
        backend_.reset();
        if (service_.state() != QProcess::NotRunning) {
            service_.terminate();
            QVERIFY(service_.waitForFinished(10000));
        }
    }

    void connectsPollsAndWritesThroughTheService() {
        window_ = std::make_unique<TfrmQuelvan>(*backend_, clock_, dialogs_);
        window_->show();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        window_->HidCtl().ProcessNotifications();
        QVERIFY(window_->BoardDevice());
        QVERIFY(window_->BoardDevice()->Shared());
        QVERIFY(window_->StatusTimer().isActive());
        window_->tmrQuelvanTimer();

        // Another program sets D between the window's poll and its edit of C.
        QVERIFY(ReadBoard(socket_, std::pair{3, 819}));
        auto* edt2 = window_->findChild<QLineEdit*>("edt2");
        window_->PageControl().setCurrentWidget(window_->findChild<QWidget*>("tsChannelsAF"));
        edt2->setFocus(Qt::MouseFocusReason);
        QVERIFY(edt2->hasFocus());
        edt2->selectAll();
        QTest::keyClicks(edt2, "10");
        QTest::keyClick(edt2, Qt::Key_Return);  // a typed value is written whole, on Enter
        auto live = ReadBoard(socket_);
        QVERIFY(live);
        QCOMPARE(live->ChannelValue[2], ChannelValueFromPercent(10));
        QCOMPARE(live->ChannelValue[3], 819);

        // "ALLES EIN" sets every channel outright, over whatever the board holds now.
        QVERIFY(ReadBoard(socket_, std::pair{5, 4096}));
        window_->Channels().mnuAllOffClick();
        live = ReadBoard(socket_);
        QVERIFY(live);
        for (int n = 0; n < kChannelCount; ++n) QCOMPARE(live->ChannelValue[static_cast<std::size_t>(n)], 0);
        window_->tmrQuelvanTimer();
        QCOMPARE(window_->Board().live.ChannelValue[5], 0);
    }

    // The watch main() puts on the window: the service's alarm as a line in "Meldungen" and
    // one notification, told once however often the service is asked.
    void tellsTheServicesAlarmInItsMessagesAndOnTheDesktop() {
        QVERIFY(window_);
        Recorded notifier;
        sim::SimulatedHidBackend onTheBus;
        QVERIFY(!WatchServiceAlarms(onTheBus, *window_, notifier));
        const std::unique_ptr<ServiceAlarmWatch> watch = WatchServiceAlarms(*backend_, *window_, notifier);
        QVERIFY(watch);
        const std::string serial = [&] {
            const std::u16string s = window_->BoardDevice()->SerialNumberString();
            return QString::fromStdU16String(s).toStdString();
        }();
        auto* mem = window_->findChild<QPlainTextEdit*>("mem");
        QVERIFY(mem);
        const QString line = "Temperaturalarm – Platine " + QString::fromStdString(serial) + ": ";
        QVERIFY(!mem->toPlainText().contains(line));
        // The service raises it after a poll or two; its timer would look every few seconds.
        for (int i = 0; i < 50 && !mem->toPlainText().contains(line); ++i) {
            watch->Check();
            if (!mem->toPlainText().contains(line)) QTest::qWait(100);
        }
        QVERIFY2(mem->toPlainText().contains(line), qPrintable(mem->toPlainText()));
        // The board's 25.3 °C and the bound, in the window's number format.
        const QString values =
            QLocale().toString(25.3, 'f', 1) + " °C über " + QLocale().toString(20.0, 'f', 1) + " °C";
        QVERIFY2(mem->toPlainText().contains(line + values), qPrintable(mem->toPlainText()));
        watch->Check();
        QCOMPARE(notifier.calls.size(), 1);
        QVERIFY2(notifier.calls.front().startsWith("Temperaturalarm | Platine " + QString::fromStdString(serial)),
                 qPrintable(notifier.calls.front()));
        QCOMPARE(mem->toPlainText().count(line), 1);
    }

    // The window's imports on the service: the settings from just before each, then the change.
    void itsImportsLeaveTheSettingsFromBeforeThemInTheServicesHistory() {
        QVERIFY(window_);
        auto history = [this] {
            const std::optional<std::string> reply = backend_->RequestJson(R"({"op": "history"})");
            const nlohmann::json parsed = nlohmann::json::parse(reply.value_or(""), nullptr, false);
            return parsed.is_object() ? parsed.value("entries", nlohmann::json::array()) : nlohmann::json::array();
        };
        auto waitFor = [&](std::size_t count) {
            nlohmann::json entries = history();
            for (int i = 0; i < 100 && entries.size() < count; ++i) {
                QTest::qWait(50);
                entries = history();
            }
            return entries;
        };
        struct Case {
            const char* what;
            void (TfrmQuelvan::*import)();
            const char* changed;
        };
        const Case cases[] = {
            {"config", &TfrmQuelvan::mnuConfigImportClick, "FanLow"},
            {"table", &TfrmQuelvan::mnuDataImportClick, "row 0"},
        };
        for (const Case& c : cases) {
            const std::size_t before = waitFor(1).size();
            QVERIFY(before >= 1);
            window_->tmrQuelvanTimer();
            window_->Table().LoadFromDevice();
            struct {
                DeviceConfig config;
                std::vector<ScheduleEntry> table;
            } const board{window_->Board().config, window_->Schedule().Entries()};
            DeviceConfig config = board.config;
            std::vector<ScheduleEntry> table = board.table;
            QVERIFY(!table.empty());
            if (std::string(c.what) == "config")
                config.FanLow = config.FanLow == 91 ? 92 : 91;
            else
                table[0].Color[0] = table[0].Color[0] == 9 ? 8 : 9;
            const QString file = dir_.filePath(QString(c.what) + ".ini");
            QVERIFY(files::ExportSettingsAndTable(file.toStdString(), config, table).ok);
            dialogs_.SetNextFileName(file);
            (window_.get()->*c.import)();

            const nlohmann::json entries = waitFor(before + 2);
            QCOMPARE(entries.size(), before + 2);
            QCOMPARE(entries[before]["by"].get<std::string>(), std::string("before an import by the window"));
            QCOMPARE(entries[before + 1]["by"].get<std::string>(), std::string("the window"));
            QCOMPARE(entries[before + 1]["changed"], nlohmann::json::array({c.changed}));
            // The one before the import holds what the window read from the board, the one
            // after it what the file held.
            auto text = [this](const nlohmann::json& entry) {
                const std::optional<std::string> reply =
                    backend_->RequestJson(nlohmann::json{{"op", "history-show"}, {"entry", entry["id"]}}.dump());
                const nlohmann::json parsed = nlohmann::json::parse(reply.value_or(""), nullptr, false);
                return parsed.is_object() ? parsed.value("text", std::string()) : std::string();
            };
            auto holds = [&](const nlohmann::json& entry, const DeviceConfig& wantedConfig,
                             const std::vector<ScheduleEntry>& wantedTable) {
                const std::string shown = text(entry);
                DeviceConfig readConfig;
                std::vector<ScheduleEntry> readTable(wantedTable.size());
                files::ReadConfiguration(shown, readConfig);
                files::ReadTable(shown, readTable);
                return !shown.empty() && readConfig == wantedConfig && readTable == wantedTable;
            };
            QVERIFY(holds(entries[before], board.config, board.table));
            QVERIFY(holds(entries[before + 1], config, table));
        }
    }

    void theBoardIsGoneWhenTheServiceEnds() {
        service_.terminate();
        QVERIFY(service_.waitForFinished(10000));
        QCOMPARE(service_.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service_.exitCode(), 0);
        window_->HidCtl().ProcessNotifications();
        QVERIFY(!window_->BoardDevice());
        QVERIFY(window_->findChild<QPlainTextEdit*>("mem")->toPlainText().contains("Quelvan 2.x entfernt"));
    }

    // A restarted service (an upgrade, a crash) brings the board back without restarting the
    // window: the client tries the socket again every few seconds.
    void theBoardComesBackWhenTheServiceStartsAgain() {
        service_.start(QUELVAND_PATH, serviceArguments_);
        QVERIFY(service_.waitForStarted());
        for (int i = 0; i < 100 && !window_->BoardDevice(); ++i) {
            QTest::qWait(100);
            window_->HidCtl().ProcessNotifications();
        }
        QVERIFY(window_->BoardDevice());
        QVERIFY(window_->StatusTimer().isActive());
        QVERIFY(ReadBoard(socket_, std::pair{4, 2048}));
        window_->tmrQuelvanTimer();
        QCOMPARE(window_->Board().live.ChannelValue[4], 2048);
    }

private:
    QTemporaryDir dir_;
    QProcess service_;
    QStringList serviceArguments_;
    std::string socket_;
    std::unique_ptr<ServiceBackend> backend_;
    ManualClock clock_{LocalDateTime{2024, 5, 17, 7, 5, 9, 0}};
    ScriptedDialogService dialogs_;
    std::unique_ptr<TfrmQuelvan> window_;
};

QUELVAN_WINDOW_TEST(ServiceModeTest)
#include "service_mode_test.moc"
