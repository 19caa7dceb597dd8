#pragma once
// The four settings pages together: what the connection sequence and a configuration import
// show once (ShowDeviceConfig), and what every poll tick refreshes (RefreshSettings), each in
// its order across the pages.

#include <QObject>
#include <functional>

class QTabWidget;
class QWidget;

namespace quelvan {

class BoardProtocol;
class ConfigPage;
class ExpertPage;
class JmpPage;
class WeatherPage;

class SettingsPages : public QObject {
    Q_OBJECT
public:
    // The pages are found in `pc` by name: tsConfig (below the clock controls, which start
    // at its top and take `configTop` pixels), tsWeather, tsExpert, tsJMP.
    SettingsPages(BoardProtocol& board, QTabWidget& pc, int configTop, QObject* parent = nullptr);

    // The fields the poll does not cover, then the start page: "Tabelle" in mode 1 ("Auto"),
    // otherwise "Kanäle A-F".
    void ShowDeviceConfig();
    // The polled fields, the moon and the shares.
    void RefreshSettings();

    // How the start page is made active; the default is pc.setCurrentWidget.
    std::function<void(QWidget* page)> showPage;

    ConfigPage& Config() { return *config_; }
    WeatherPage& Weather() { return *weather_; }
    ExpertPage& Expert() { return *expert_; }
    JmpPage& Jmp() { return *jmp_; }

private:
    BoardProtocol& board_;
    QTabWidget& pc_;
    ConfigPage* config_ = nullptr;
    WeatherPage* weather_ = nullptr;
    ExpertPage* expert_ = nullptr;
    JmpPage* jmp_ = nullptr;
};

}  // namespace quelvan
