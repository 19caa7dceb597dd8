#pragma once
// The one window `frmQuelvan`: pages, menu, status bar and message log; the services every
// page uses (LogMessage, ReportStatus, SetControlsEnabled); the board and bootloader slots
// with their discovery; and the 500 ms status poll.

#include <QMainWindow>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "device/board_protocol.h"
#include "device/bootloader_protocol.h"
#include "device/clock.h"
#include "device/hid_device_controller.h"
#include "schedule/schedule_table.h"
#include "window/dialog_service.h"
#include "window/menu_builder.h"

class QPlainTextEdit;
class QSocketNotifier;
class QTabWidget;
class QTimer;

namespace quelvan {

class ChannelControl;
class GraphPage;
class MenuCommands;
class PanelStatusBar;
class RememberedState;
class SettingsPages;
class TablePage;

struct MainWindowOptions {
    // Pixels per inch to scale the window for; the screen's logical PPI when not set.
    std::optional<double> ppi;
    // The blocking wait between a firmware block's attempts (tests record it instead).
    std::function<void(std::chrono::milliseconds)> sleep;
    // Where the window keeps what it remembers between starts (the file dialogs' folder, its
    // size and place); empty: nothing is remembered (RememberedState).
    QString settingsFile;
};

// What later pages plug into the connection sequence and the poll. Empty hooks do nothing.
struct PageHooks {
    std::function<void()> loadFromDevice;    // read the schedule, show grid and graph
    std::function<void()> showDeviceConfig;  // show the settings after connecting
    std::function<void()> refreshSettings;   // the settings pages' share of a poll tick
    std::function<void()> drawGraph;         // redraw the schedule graph
};

class TfrmQuelvan : public QMainWindow {
    Q_OBJECT
public:
    TfrmQuelvan(HidBackend& backend, const Clock& clock, DialogService& dialogs, MainWindowOptions options = {},
                QWidget* parent = nullptr);
    ~TfrmQuelvan() override;

    // ---- window services ----
    // Appends "[date time] text" to the message log.
    void LogMessage(const QString& text);
    // While held, log lines are kept back (stamped when logged) until ShowHeldLogLines or
    // the end of holding adds them at once: a firmware update logs a line per block, and
    // each line shown on its own costs the log a scroll of its whole picture.
    void HoldLogLines(bool hold);
    void ShowHeldLogLines();
    // Status panel 0 and the log.
    void ReportStatus(const QString& text);
    // Status panel 0 only: confirmations and hints, which the log does not keep. Replaces
    // whatever the panel showed, an older error included.
    void ShowStatusMessage(const QString& text);
    // Every device-bound control and menu item that exists, found by name.
    void SetControlsEnabled(bool enabled);

    // ---- device discovery (the controller's two events) ----
    bool HidCtlEnumerate(HidDevice& device, int index);
    void HidCtlDeviceChange();
    // Writes a firmware file through the held bootloader, with the progress shown.
    void FlashFirmware(const QString& fileName);

    // ---- status poll: one tick ----
    void tmrQuelvanTimer();

    // ---- parts for pages, tests and the program ----
    BoardProtocol& Board() { return board_; }
    BootloaderProtocol& Bootloader() { return bootloader_; }
    HidDevice* BoardDevice() const { return board_.Device(); }
    HidDevice* BootloaderDevice() const { return bootloader_.Device(); }
    HidDeviceController& HidCtl() { return *hidCtl_; }
    ChannelControl& Channels() { return *channels_; }
    SettingsPages& Settings() { return *settings_; }
    PanelStatusBar& StatusPanels() { return *sb_; }
    QTabWidget& PageControl() { return *pc_; }
    const MainMenu& Menu() const { return menu_; }
    DialogService& Dialogs() { return dialogs_; }
    const Clock& ComputerClock() const { return clock_; }
    double Ppi() const { return ppi_; }
    QTimer& StatusTimer() { return *tmrQuelvan_; }
    QTimer& VisualizeTimer() { return *tmrVisualize_; }
    // Runs while a held board has not answered the connection's reads yet.
    QTimer& ConnectRetryTimer() { return *connectRetry_; }
    // One retry of a held board's connection, as the retry timer runs it.
    void RetryBoardConnection();
    // The window's copy of the board's day program and the pages that show it.
    ScheduleTable& Schedule() { return schedule_; }
    TablePage& Table() { return *tablePage_; }
    GraphPage& Graph() { return *graphPage_; }
    MenuCommands& Commands() { return *menuCommands_; }

    PageHooks hooks;
    // The file-open and file-save dialogs' settings (title, filter, suffix, folder).
    FileDialogSettings od;
    FileDialogSettings sd;

public slots:
    // The "Datei" menu opens: "Firmware aktualisieren..." only while a slot holds a device.
    void mnuFileClick();
    void mnuExitClick();
    // "Firmware aktualisieren...": the warning and the board's restart into its bootloader,
    // or, with only the bootloader held, the file and the update.
    void mnuFlashClick();
    // The settings file: table and configuration out, either half back in.
    void mnuDataConfigExportClick();
    void mnuConfigImportClick();
    void mnuDataImportClick();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreatePages();
    void CreateTimers();
    void CreateSchedulePages();
    void ScaleAndPlace();
    void StartDeviceNotifications();
    void DeliverNotifications();
    void FormClose();

    void FlushLogLines(QStringList& lines);
    void TryConnectBoard();
    void ConnectBoard(int version);
    void ConnectionFailed(const QString& message);
    void BootloaderFound(int index, const QString& extension);
    void LoadFromDevice();
    void ShowDeviceConfig();
    void RefreshSettings();
    void DrawGraph();
    void ShowStatusPanels();
    // The widest texts of the status panels 1 to 3, so that they are sized for them.
    void SetStatusPanelSamples();
    void CorrectBoardClock();

    const Clock& clock_;
    // The dialogs the window was given, watched for the folder of every file chosen.
    std::unique_ptr<FileChoiceWatcher> watchedDialogs_;
    DialogService& dialogs_;
    std::unique_ptr<RememberedState> remembered_;
    double ppi_;
    BoardProtocol board_;
    BootloaderProtocol bootloader_;
    std::unique_ptr<HidDeviceController> hidCtl_;

    MainMenu menu_;
    QTabWidget* pc_ = nullptr;
    QWidget* tsChannelsAF_ = nullptr;
    QWidget* tsChannelsGL_ = nullptr;
    QWidget* tsConfig_ = nullptr;
    QWidget* tsExpert_ = nullptr;
    QWidget* tsJMP_ = nullptr;
    QWidget* tsMessages_ = nullptr;
    QPlainTextEdit* mem_ = nullptr;
    std::unique_ptr<QStringList> heldLogLines_;
    PanelStatusBar* sb_ = nullptr;
    QTimer* tmrQuelvan_ = nullptr;
    QTimer* tmrVisualize_ = nullptr;
    QTimer* rescanTimer_ = nullptr;
    QTimer* connectRetry_ = nullptr;
    // The last connection failure reported, so that a board that stays silent is reported
    // once and not at every retry.
    QString connectFailure_;
    QSocketNotifier* changeNotifier_ = nullptr;
    std::function<void(std::chrono::milliseconds)> sleep_;
    // Set while a firmware update runs: device notifications wait until it has ended.
    bool flashing_ = false;
    ChannelControl* channels_ = nullptr;
    SettingsPages* settings_ = nullptr;
    ScheduleTable schedule_;
    TablePage* tablePage_ = nullptr;
    GraphPage* graphPage_ = nullptr;
    MenuCommands* menuCommands_ = nullptr;
};

}  // namespace quelvan
