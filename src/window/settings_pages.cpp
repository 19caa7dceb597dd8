#include "window/settings_pages.h"

#include <QTabWidget>

#include "device/board_protocol.h"
#include "window/config_page.h"
#include "window/expert_page.h"
#include "window/jmp_page.h"
#include "window/moon_display.h"
#include "window/weather_page.h"

namespace quelvan {

namespace {

constexpr int kModeAuto = 1;

}  // namespace

SettingsPages::SettingsPages(BoardProtocol& board, QTabWidget& pc, int configTop, QObject* parent)
    : QObject(parent), board_(board), pc_(pc) {
    auto page = [&pc](const char* name) { return pc.findChild<QWidget*>(QLatin1String(name)); };
    config_ = new ConfigPage(board, page("tsConfig"), configTop, this);
    weather_ = new WeatherPage(board, page("tsWeather"), this);
    expert_ = new ExpertPage(board, page("tsExpert"), this);
    jmp_ = new JmpPage(board, page("tsJMP"), this);
    showPage = [&pc](QWidget* page) { pc.setCurrentWidget(page); };
}

void SettingsPages::ShowDeviceConfig() {
    expert_->ShowWeatherFields();
    jmp_->ShowJmpMode();
    jmp_->ShowTemperatures();
    expert_->ShowOffsetAndTransit();
    const char* start = board_.config.Mode == kModeAuto ? "tsData" : "tsChannelsAF";
    if (QWidget* page = pc_.findChild<QWidget*>(QLatin1String(start)); page && showPage) showPage(page);
}

void SettingsPages::RefreshSettings() {
    config_->RefreshFan();
    expert_->RefreshFanMode();
    expert_->RefreshEdits();
    config_->RefreshDisplay();
    config_->RefreshTimeLapse();
    weather_->RefreshClouds();
    weather_->RefreshStorms();
    weather_->Moon().RefreshMoonDisplay();
    weather_->RefreshShares();
}

}  // namespace quelvan
