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

QString ClockPanelText(int hour, int minute, int second) {
    return TwoDigits(hour) + ':' + TwoDigits(minute) + ':' + TwoDigits(second) + " Uhr";
}

// `temperature` in 0.1 °C, or kNoTemperatureSensor.
QString PowerPanelText(int millivolts, int temperature) {
    QString power = FormatNumber(millivolts / 1000.0, NumberPattern::UpToTwoDecimals) + " Volt";
    if (temperature != kNoTemperatureSensor)
        power += ", " + FormatNumber(temperature / 10.0, NumberPattern::OneDecimal) + " °C";
    return power;
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
    sb_->SetPanelText(1, ClockPanelText(live.ClockHour, live.ClockMinute, live.ClockSecond));
    // A mode the window does not know leaves the panel as it was.
    if (const std::string_view name = ModeName(board_.config.Mode); !name.empty())
        sb_->SetPanelText(2, QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    sb_->SetPanelText(3, PowerPanelText(live.SupplyVoltage, live.Temperature));
}

void TfrmQuelvan::SetStatusPanelSamples() {
    // Whatever digits the font draws widest; the clock panel is never cut, and the other two
    // keep their width while their values change.
    QStringList clocks;
    QStringList powers;
    for (int d = 0; d <= 9; ++d) {
        clocks << ClockPanelText(11 * d, 11 * d, 11 * d);
        powers << PowerPanelText(11110 * d, -111 * d);
    }
    sb_->SetPanelSamples(1, clocks);
    QStringList modes;
    for (const std::string_view name : kModeNames)
        modes << QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    sb_->SetPanelSamples(2, modes);
    sb_->SetPanelSamples(3, powers);
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
