// A day next to the tank: the real window on the simulated board for 172,800 poll ticks
// (24 hours at 500 ms), calling the timer handler directly while a manual computer clock and
// the board's own time advance 500 ms per tick. Every few ticks a random user action from a
// seeded generator: typing into a channel's edit, moving a track bar, EIN/AUS, settings
// edits, clicking tabs (which uploads or reloads the schedule), "Hochladen", mode changes;
// every thousand ticks the board is unplugged and plugged in again.
//
//     build/bench/quelvan_soak [--ticks N] [--seed S] [--warm-up N] [--rss-every N] [--record-transfers]
//
// Errors: an exception, a tick after which the window is inconsistent (controls, poll and
// slot disagree, or the controls do not show what the board holds), a board that does not
// reconnect after it was plugged in again, a dialog, or a log line other than the device
// lines and "Quelvan 2.x entfernt" / "Quelvan 2.x.4 erkannt". Resident memory (VmRSS) is
// read at the start, after the warm-up and at the end. Exit code 0 only without errors
// and with less than 1 MB of growth after the warm-up.
//
// The board is not frozen: its clock, schedule playback and weather run on the simulated
// time, as a user's board would. The transfer log of the simulated board is off, as under
// --simulate; --record-transfers switches it on to show what it would cost.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTimeZone>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "device/board_modes.h"
#include "device/channel_values.h"
#include "device/clock.h"
#include "simulator/simulated_backend.h"
#include "window/dialog_service.h"
#include "window/main_window.h"
#include "window/number_format.h"
#include "window/status_bar.h"
#include "window/wrapping_tab_bar.h"

namespace {

using namespace quelvan;

constexpr std::int64_t kTickMs = 500;
constexpr long kReplugEvery = 1000;
constexpr long kTicksUnplugged = 3;  // the board stays away this many ticks
constexpr double kGrowthLimitKiB = 1024;

struct Options {
    long ticks = 172'800;
    long warmUp = -1;  // default: 2000 ticks, or a tenth of a shorter run
    std::uint32_t seed = 1;
    bool recordTransfers = false;
    long rssEvery = 0;  // print the resident memory every so many ticks (0: never)
};

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

double MiB(long kib) {
    return static_cast<double>(kib) / 1024.0;
}

LocalDateTime ToLocal(const QDateTime& t) {
    const QDate d = t.date();
    const QTime c = t.time();
    return {d.year(), d.month(), d.day(), c.hour(), c.minute(), c.second(), c.msec()};
}

class Soak {
public:
    explicit Soak(const Options& options)
        : options_(options),
          random_(options.seed),
          start_(QDate(2024, 5, 17), QTime(6, 0), Qt::UTC),
          clock_(ToLocal(start_)),
          backend_(Settings(options.seed), &clock_, [this] { return nowMs_; }) {
        backend_.RecordTransfers(options.recordTransfers);
        MainWindowOptions windowOptions;
        windowOptions.ppi = 96;
        windowOptions.sleep = [](std::chrono::milliseconds) {};
        window_ = std::make_unique<TfrmQuelvan>(backend_, clock_, dialogs_, windowOptions);
        // The smallest window with both hidden pages shown: the tabs wrap onto two rows, and
        // the user reaches each page on the row where its tab stands.
        window_->resize(window_->minimumSize());
        window_->show();
        window_->activateWindow();
        if (!QTest::qWaitForWindowActive(window_.get())) Error("the window did not become active");
        for (const char* item : {"mnuShowExpert", "mnuShowJMP"}) Find<QAction>(QString::fromLatin1(item))->trigger();
        if (auto* tabs = qobject_cast<WrappingTabBar*>(window_->PageControl().tabBar()); !tabs || tabs->RowCount() < 2)
            Error("the tabs do not wrap in the smallest window");
        mem_ = window_->findChild<QPlainTextEdit*>("mem");
        DeliverDeviceChange();
        if (!window_->BoardDevice()) Error("the board was not connected at the start");
        CheckLog();
    }

    int Run() {
        const long warmUp = options_.warmUp >= 0 ? options_.warmUp : std::min(2000L, options_.ticks / 10);
        const long startKiB = ResidentKiB();
        long warmKiB = startKiB;
        long nextAction = 1;
        const auto begin = std::chrono::steady_clock::now();
        for (tick_ = 1; tick_ <= options_.ticks; ++tick_) {
            Advance();
            if (window_->StatusTimer().isActive()) Tick();
            if (tick_ % kReplugEvery == 0) Unplug();
            if (tick_ % kReplugEvery == kTicksUnplugged && !backendPlugged_) Plug();
            if (tick_ >= nextAction) {
                Act();
                nextAction = tick_ + std::uniform_int_distribution<long>(2, 6)(random_);
            }
            // What the event loop would do between timer messages, without its timers.
            QCoreApplication::sendPostedEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            if (tick_ == warmUp) warmKiB = ResidentKiB();
            if (options_.rssEvery > 0 && tick_ % options_.rssEvery == 0)
                std::printf("  tick %ld: %.2f MiB resident\n", tick_, MiB(ResidentKiB()));
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        const long endKiB = ResidentKiB();
        Report(seconds, warmUp, startKiB, warmKiB, endKiB);
        const bool grew = static_cast<double>(endKiB - warmKiB) >= kGrowthLimitKiB;
        return errors_ == 0 && !grew ? 0 : 1;
    }

private:
    static sim::BoardSettings Settings(std::uint32_t seed) {
        sim::BoardSettings s;
        s.randomSeed = seed;
        return s;
    }

    // ---- time, ticks and the bus ----

    void Advance() {
        nowMs_ += kTickMs;
        clock_.Set(ToLocal(start_.addMSecs(tick_ * kTickMs)));
    }

    void Tick() {
        const int clockWrites = backend_.CountTransfers(true, 1);
        try {
            window_->tmrQuelvanTimer();
        } catch (const std::exception& e) {
            Error(std::string("exception from a tick: ") + e.what());
        } catch (...) {
            Error("exception from a tick");
        }
        ++ticksRun_;
        CheckWindow(backend_.CountTransfers(true, 1) != clockWrites);
        CheckLog();
    }

    // The controller's notification, as the window's socket notifier hands it over.
    void DeliverDeviceChange() {
        try {
            window_->HidCtl().ProcessNotifications();
        } catch (const std::exception& e) {
            Error(std::string("exception from a device change: ") + e.what());
        } catch (...) {
            Error("exception from a device change");
        }
    }

    void Unplug() {
        backend_.Unplug();
        backendPlugged_ = false;
        DeliverDeviceChange();
        if (window_->BoardDevice()) Error("the board is still held after it was unplugged");
        if (LastLogText() != "Quelvan 2.x entfernt") Error("no removal message after unplugging");
        CheckWindow(false);
        CheckLog();
    }

    void Plug() {
        backend_.Plug();
        backendPlugged_ = true;
        ++replugs_;
        DeliverDeviceChange();
        if (!window_->BoardDevice() || !window_->StatusTimer().isActive() || LastLogText() != "Quelvan 2.x.4 erkannt")
            Error("the board did not reconnect after it was plugged in again");
        CheckWindow(false);
        CheckLog();
    }

    // ---- the user ----

    void Act() {
        ++actions_;
        try {
            switch (std::uniform_int_distribution<int>(0, 16)(random_)) {
                case 0:
                case 1:
                case 2:
                    TypeChannelPercent();
                    break;
                case 3:
                case 4:
                case 5:
                    MoveChannelTrackBar();
                    break;
                case 6:
                case 7:
                    ClickOnOrOff();
                    break;
                case 8:
                case 9:
                    TypeSetting();
                    break;
                case 10:
                case 11:
                    MoveSettingTrackBar();
                    break;
                case 12:
                case 13:
                case 14:
                    ClickTab(Pick({"tsChannelsAF", "tsChannelsGL", "tsData", "tsVisualize", "tsConfig", "tsWeather",
                                   "tsExpert", "tsJMP", "tsMessages"}));
                    break;
                case 15:
                    Upload();
                    break;
                default:
                    ChangeMode();
                    break;
            }
        } catch (const std::exception& e) {
            Error(std::string("exception from a user action: ") + e.what());
        } catch (...) {
            Error("exception from a user action");
        }
        CheckLog();
    }

    int Channel() { return std::uniform_int_distribution<int>(0, kChannelCount - 1)(random_); }

    const char* Pick(std::initializer_list<const char*> names) {
        const auto i = std::uniform_int_distribution<std::size_t>(0, names.size() - 1)(random_);
        return names.begin()[i];
    }

    template <typename T>
    T* Find(const QString& name) const {
        T* control = window_->findChild<T*>(name);
        if (!control) throw std::runtime_error("no control " + name.toStdString());
        return control;
    }

    QWidget* Page(const char* name) const { return Find<QWidget>(QString::fromLatin1(name)); }

    // The user clicks the tab of a page where the tab bar shows it, on whichever of its rows
    // (a change made by the user: "Tabelle" uploads when left, "Tabelle" and "Grafik" reload
    // when entered).
    void ClickTab(const char* name) {
        QTabWidget& pc = window_->PageControl();
        QWidget* page = Page(name);
        auto* tabs = qobject_cast<WrappingTabBar*>(pc.tabBar());
        if (!tabs) throw std::runtime_error("the page control has no wrapping tab bar");
        const QRect tab = tabs->WrappedTabRect(pc.indexOf(page));
        if (tab.isEmpty()) throw std::runtime_error(std::string("no tab shown for ") + name);
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tab.center());
        if (pc.currentWidget() != page) Error(std::string("clicking the tab did not show ") + name);
    }

    // Clicks a control on its page, as a user reaching for it; true when it has the focus.
    bool Reach(QWidget* control, const char* page) {
        if (window_->PageControl().currentWidget() != Page(page)) ClickTab(page);
        QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
        return control->hasFocus();
    }

    void TypeInto(QLineEdit* edit, const QString& text) {
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(edit, text);
    }

    void TypeChannelPercent() {
        const int n = Channel();
        auto* edit = Find<QLineEdit>(QStringLiteral("edt%1").arg(n));
        if (!Reach(edit, n < 6 ? "tsChannelsAF" : "tsChannelsGL")) return;  // a disabled page
        const double percent = std::uniform_int_distribution<int>(0, 10000)(random_) / 100.0;
        TypeInto(edit, FormatNumber(percent, NumberPattern::UpToTwoDecimals));
        // The value is written on Enter, or else when the user reaches for the next control.
        if (std::uniform_int_distribution<int>(0, 1)(random_) == 0) QTest::keyClick(edit, Qt::Key_Return);
    }

    void PressKeys(QSlider* slider) {
        static constexpr Qt::Key kKeys[] = {Qt::Key_Left,     Qt::Key_Right, Qt::Key_PageUp,
                                            Qt::Key_PageDown, Qt::Key_Home,  Qt::Key_End};
        const int presses = std::uniform_int_distribution<int>(1, 4)(random_);
        for (int i = 0; i < presses; ++i) {
            const auto k = std::uniform_int_distribution<std::size_t>(0, std::size(kKeys) - 1)(random_);
            QTest::keyClick(slider, kKeys[k]);
        }
    }

    void MoveChannelTrackBar() {
        const int n = Channel();
        auto* slider = Find<QSlider>(QStringLiteral("trb%1").arg(n));
        if (Reach(slider, n < 6 ? "tsChannelsAF" : "tsChannelsGL")) PressKeys(slider);
    }

    void ClickOnOrOff() {
        const int n = Channel();
        auto* button = Find<QPushButton>(QStringLiteral("%1%2").arg(Pick({"btnOn", "btnOff"})).arg(n));
        Reach(button, n < 6 ? "tsChannelsAF" : "tsChannelsGL");
    }

    void TypeSetting() {
        const char* name = Pick({"edtCloudCount", "edtCloudSeconds", "edtStormCount", "edtStormMinutes"});
        auto* edit = Find<QLineEdit>(QString::fromLatin1(name));
        if (!Reach(edit, "tsWeather")) return;
        TypeInto(edit, QString::number(std::uniform_int_distribution<int>(0, 40)(random_)));
    }

    void MoveSettingTrackBar() {
        static const std::pair<const char*, const char*> kBars[] = {
            {"trbDisplay", "tsConfig"},       {"trbFan", "tsConfig"},         {"trbCloudCount", "tsWeather"},
            {"trbCloudSeconds", "tsWeather"}, {"trbStormCount", "tsWeather"}, {"trbStormMinutes", "tsWeather"}};
        const auto& [name, page] = kBars[std::uniform_int_distribution<std::size_t>(0, std::size(kBars) - 1)(random_)];
        auto* slider = Find<QSlider>(QString::fromLatin1(name));
        if (Reach(slider, page)) PressKeys(slider);
    }

    void Upload() {
        auto* button = Find<QPushButton>(QStringLiteral("btnUpload"));
        Reach(button, "tsData");
    }

    void ChangeMode() {
        // "Manuell" and "Auto" are what users choose most.
        const char* item = std::uniform_int_distribution<int>(0, 9)(random_) < 8
                               ? Pick({"mnuModeManual", "mnuModeAuto"})
                               : Pick({"mnuModeDemo", "mnuModeFlash", "mnuModeSlave"});
        emit Find<QMenu>(QStringLiteral("mnuMode"))->aboutToShow();
        QAction* action = Find<QAction>(QString::fromLatin1(item));
        if (action->isEnabled()) action->trigger();
    }

    // ---- checks ----

    void Error(const std::string& what) {
        if (++errors_ <= 20) std::fprintf(stderr, "tick %ld: %s\n", tick_, what.c_str());
    }

    QString LastLogText() const {
        const QString line = mem_->document()->lastBlock().text();
        return line.mid(line.indexOf("] ") + 2);
    }

    // Every line since the last look must be a device line or a connection message.
    void CheckLog() {
        const QTextDocument* doc = mem_->document();
        for (; logLinesSeen_ < doc->blockCount(); ++logLinesSeen_) {
            if (logLinesSeen_ < 2) continue;  // the two lines of the start
            const QString line = doc->findBlockByNumber(logLinesSeen_).text();
            const QString text = line.mid(line.indexOf("] ") + 2);
            if (text == "Quelvan 2.x.4 erkannt" || text == "Quelvan 2.x entfernt" || text.startsWith("HID ")) continue;
            Error("unexpected log line: " + line.toStdString());
        }
        if (!dialogs_.Calls().empty()) {
            Error("a dialog was shown");
            dialogs_.ClearCalls();
        }
    }

    // Whether the window enabled the control itself (a control on a disabled channel page is
    // enabled but unreachable).
    bool Enabled(const char* name) const {
        if (QAction* action = window_->findChild<QAction*>(name)) return action->isEnabled();
        return !Find<QWidget>(QString::fromLatin1(name))->testAttribute(Qt::WA_ForceDisabled);
    }

    // The window after a tick or a device change: slot, poll and controls agree, and with a
    // board the controls show what was read from it (the clock panel only when the tick did
    // not set the board's clock after showing it).
    void CheckWindow(bool clockWritten) {
        const bool held = window_->BoardDevice() != nullptr;
        if (held != window_->StatusTimer().isActive()) Error("the poll runs exactly when no board is held");
        for (const char* name : {"btnUpload", "trb0", "edt11", "edtCloudCount", "trbFan", "sg", "mnuSaveEEPROM"})
            if (Enabled(name) != held)
                Error(std::string(name) + (held ? " disabled with a board" : " enabled without"));
        PanelStatusBar& panels = window_->StatusPanels();
        if (!held) {
            for (int p = 1; p < PanelStatusBar::kPanelCount; ++p)
                if (!panels.PanelText(p).isEmpty()) Error("a status panel keeps its text without a board");
            return;
        }
        const LiveState& live = window_->Board().live;
        const DeviceConfig& config = window_->Board().config;
        sim::SimulatedBoard& board = backend_.Board();
        if (live.ChannelValue != board.Live().ChannelValue) Error("channel values differ from the board's");
        if (config.Mode != board.Config().Mode) Error("the mode differs from the board's");
        for (int n = 0; n < kChannelCount; ++n) {
            const int value = live.ChannelValue[static_cast<std::size_t>(n)];
            if (Find<QSlider>(QStringLiteral("trb%1").arg(n))->value() != std::clamp(value, 0, kChannelFullOn))
                Error("track bar " + std::to_string(n) + " does not show the channel");
            auto* edit = Find<QLineEdit>(QStringLiteral("edt%1").arg(n));
            if (!edit->hasFocus() &&
                edit->text() != FormatNumber(PercentOfChannelValue(value), NumberPattern::UpToTwoDecimals))
                Error("edit " + std::to_string(n) + " does not show the channel");
        }
        const bool manual = config.Mode == 0;
        if (Page("tsChannelsAF")->isEnabled() != manual || Page("tsChannelsGL")->isEnabled() != manual)
            Error("the channel pages are not enabled exactly in mode \"Manuell\"");
        const std::string_view mode = ModeName(config.Mode);
        if (!mode.empty() && panels.PanelText(2) != QString::fromUtf8(mode.data(), static_cast<qsizetype>(mode.size())))
            Error("status panel 2 does not name the mode");
        if (!clockWritten) {
            const QString clock = QStringLiteral("%1:%2:%3 Uhr")
                                      .arg(live.ClockHour, 2, 10, QLatin1Char('0'))
                                      .arg(live.ClockMinute, 2, 10, QLatin1Char('0'))
                                      .arg(live.ClockSecond, 2, 10, QLatin1Char('0'));
            if (panels.PanelText(1) != clock) Error("status panel 1 does not show the board's clock");
        }
        if (!panels.PanelText(3).contains(" Volt")) Error("status panel 3 shows no voltage");
    }

    void Report(double seconds, long warmUp, long startKiB, long warmKiB, long endKiB) const {
        std::printf("soak: %ld ticks of 500 ms (seed %u), %ld user actions, %ld re-plugs, transfer log %s\n",
                    options_.ticks, options_.seed, actions_, replugs_, options_.recordTransfers ? "on" : "off");
        std::printf("  time: %.1f s, %.0f ticks per second (%.2f ms per tick with its share of the actions)\n", seconds,
                    static_cast<double>(options_.ticks) / seconds,
                    seconds * 1000.0 / static_cast<double>(options_.ticks));
        std::printf("  ticks with a board: %ld\n", ticksRun_);
        std::printf("  transfers: %d gets and %d sets of report 1, %d gets and %d sets of report 3\n",
                    backend_.CountTransfers(false, 1), backend_.CountTransfers(true, 1),
                    backend_.CountTransfers(false, 3), backend_.CountTransfers(true, 3));
        std::printf("  errors: %ld\n", errors_);
        std::printf(
            "  resident memory: start %.2f MiB, after warm-up (%ld ticks) %.2f MiB, end %.2f MiB; growth after "
            "warm-up %+.3f MiB (target < 1 MiB)\n",
            MiB(startKiB), warmUp, MiB(warmKiB), MiB(endKiB), MiB(endKiB - warmKiB));
    }

    Options options_;
    std::mt19937 random_;
    QDateTime start_;
    ManualClock clock_;
    std::int64_t nowMs_ = 0;
    sim::SimulatedHidBackend backend_;
    ScriptedDialogService dialogs_;
    std::unique_ptr<TfrmQuelvan> window_;
    QPlainTextEdit* mem_ = nullptr;
    long tick_ = 0;
    long ticksRun_ = 0;
    long actions_ = 0;
    long replugs_ = 0;
    long errors_ = 0;
    int logLinesSeen_ = 0;
    bool backendPlugged_ = true;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const auto value = [&] { return i + 1 < argc ? std::strtol(argv[++i], nullptr, 10) : -1L; };
        if (std::strcmp(argv[i], "--ticks") == 0) {
            options.ticks = value();
        } else if (std::strcmp(argv[i], "--seed") == 0) {
            options.seed = static_cast<std::uint32_t>(value());
        } else if (std::strcmp(argv[i], "--warm-up") == 0) {
            options.warmUp = value();
        } else if (std::strcmp(argv[i], "--rss-every") == 0) {
            options.rssEvery = value();
        } else if (std::strcmp(argv[i], "--record-transfers") == 0) {
            options.recordTransfers = true;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--ticks N] [--seed S] [--warm-up N] [--rss-every N] [--record-transfers]\n",
                         argv[0]);
            return 2;
        }
    }
    if (options.ticks <= 0) {
        std::fprintf(stderr, "--ticks needs a positive number\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Soak soak(options);
    return soak.Run();
}
