// The 500 ms status poll: reads the board's live state and settings, shows them, and keeps
// the board's clock in step with the computer's. Part of TfrmQuelvan.

#include <QTabWidget>

#include "device/board_modes.h"
#include "device/numeric.h"
#include "window/channel_control.h"
#include "window/main_window.h"
#include "window/number_format.h"
#include "window/status_bar.h"

namespace quelvan {

namespace {

// The clock is corrected only when it is off by more than this, and not when it is off by
// more than a minute (a different day, or a clock that was set on purpose).
constexpr int kClockToleranceSeconds = 4;
constexpr int kClockCorrectionLimitSeconds = 60;

QString TwoDigits(int value) {
    return FormatNumber(value, NumberPattern::TwoDigits);
}

}  // namespace

void TfrmQuelvan::tmrQuelvanTimer() {
    // Any error ends this tick quietly; the timer goes on.
    try {
        board_.ReadLiveState();
        board_.ReadDeviceConfig();
        const bool manual = board_.config.Mode == 0;
        tsChannelsAF_->setEnabled(manual);
        tsChannelsGL_->setEnabled(manual);
        channels_->ShowModeHint(!manual);
        channels_->RefreshChannels();
        channels_->RefreshClock();
        RefreshSettings();
        ShowStatusPanels();
        DrawGraph();
        CorrectBoardClock();
    } catch (...) {
    }
}

void TfrmQuelvan::ShowStatusPanels() {
    const LiveState& live = board_.live;
    sb_->SetPanelText(
        1, TwoDigits(live.ClockHour) + ':' + TwoDigits(live.ClockMinute) + ':' + TwoDigits(live.ClockSecond) + " Uhr");
    // A mode the window does not know leaves the panel as it was.
    if (const std::string_view name = ModeName(board_.config.Mode); !name.empty())
        sb_->SetPanelText(2, QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    QString power = FormatNumber(live.SupplyVoltage / 1000.0, NumberPattern::UpToTwoDecimals) + " Volt";
    if (live.Temperature != kNoTemperatureSensor)
        power += ", " + FormatNumber(live.Temperature / 10.0, NumberPattern::OneDecimal) + " °C";
    sb_->SetPanelText(3, power);
}

void TfrmQuelvan::CorrectBoardClock() {
    if (board_.config.TimeLapse != 1) return;  // only a clock that runs in real time
    const long long computer = RoundHalfEven(clock_.Now().SecondsOfDay());
    const LiveState& live = board_.live;
    const long long diff = live.ClockHour * 3600LL + live.ClockMinute * 60LL + live.ClockSecond - computer;
    if (diff < -kClockCorrectionLimitSeconds || diff > kClockCorrectionLimitSeconds) return;
    if (diff >= -kClockToleranceSeconds && diff <= kClockToleranceSeconds) return;
    board_.SetClockFromComputer();
    board_.WriteLiveState(true, false, false);
}

}  // namespace quelvan
