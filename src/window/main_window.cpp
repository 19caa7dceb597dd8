#include "window/main_window.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMenu>
#include <QMenuBar>
#include <QMultiHash>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QThread>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

#include "device/identification.h"
#include "window/channel_control.h"
#include "window/daylight_dialog.h"
#include "window/page_tab_widget.h"
#include "window/remembered_state.h"
#include "window/settings_pages.h"
#include "window/status_bar.h"

namespace quelvan {

// The message log, mirrored to standard error when asked for with
// QT_LOGGING_RULES="quelvan.messages.debug=true" (for bug reports and start-up timing).
Q_LOGGING_CATEGORY(lcMessages, "quelvan.messages", QtInfoMsg)

namespace {

// Design sizes of the window: the client area (menu bar excluded), and the outer minimum
// less the frame that the design's window manager drew around it (border and caption).
constexpr int kClientWidth = 682;
constexpr int kClientHeight = 560;
constexpr int kMinimumOuterWidth = 690;
constexpr int kMinimumOuterHeight = 610;
constexpr int kDesignFrameWidth = 8;
constexpr int kDesignFrameHeight = 31;
// The design's font is "Segoe UI" with a cell height of 16 pixels. The cell includes the
// internal leading, while Qt sizes a font by its em: Segoe UI's ascent plus descent is
// 2724 units on its 2048-unit em, so the em is 16 × 2048 / 2724 ≈ 12 pixels (9 points).
constexpr int kFontEmPixels = 12;

struct PageInfo {
    const char* name;
    const char* caption;
};
constexpr PageInfo kPages[] = {
    {"tsChannelsAF", "Kanäle A-F"},   {"tsChannelsGL", "Kanäle G-L"}, {"tsData", "Tabelle"},
    {"tsVisualize", "Grafik"},        {"tsConfig", "Konfiguration"},  {"tsWeather", "Wetter/Mond"},
    {"tsExpert", "Expertenoptionen"}, {"tsJMP", "JMP-Pin"},           {"tsMessages", "Meldungen"},
};

// Device-bound controls and menu items that simply follow the connection. Per-channel
// prefixes are listed separately and composed with 0..11.
// clang-format off
constexpr const char* kBoundNames[] = {
    // menu items
    "mnuDataImport", "mnuConfigImport", "mnuDataConfigExport", "mnuModeManual", "mnuModeAuto", "mnuModeDemo",
    "mnuModeFlash", "mnuModeSlave", "mnuSaveEEPROM", "mnuStep", "mnuAllOff", "mnuAllOn",
    // "Tabelle"
    "sg", "lblDescription1", "lblDescription2", "btnUpload",
    // "Grafik"
    "lblVisualize", "cmbVisualize", "img",
    // "Konfiguration"
    "trbTime", "edtTime", "btnNow", "trbDisplay", "panDisplayMax", "panDisplayMin", "trbTimeLapse", "btnRealtime",
    "edtTimeLapse", "trbFan", "panFanLow", "panFanHigh",
    // "Wetter/Mond"
    "trbCloudCount", "edtCloudCount", "trbCloudSeconds", "edtCloudSeconds", "trbStormCount", "edtStormCount",
    "trbStormMinutes", "edtStormMinutes", "lblCloudRatio", "lblStormRatio", "trbMoonTransit", "edtMoonTransit",
    "lblDescription3",
    // "Expertenoptionen"
    "edtPoweronPosition", "edtPWMPrescaler", "lblPWMPrescaler", "edtTWIBitrate", "lblTWIBitrate", "edtLightningP",
    "edtLightningD", "edtCloudAlpha", "edtCloudStep", "edtStormAlpha", "edtStormStep", "rbtFMOLED", "edtTempOffset",
    "edtFullmoonTransit",
    // "JMP-Pin"
    "rbtJMPIRLearn", "rbtJMPStorm", "rbtJMPCooler", "rbtJMPHeater", "lblJMPWarning1", "lblJMPWarning2",
};
// clang-format on
constexpr const char* kBoundChannelPrefixes[] = {"lblName", "trb",     "edt",          "btnOff",
                                                 "btnOn",   "cmbName", "edtLightning", "edtMoon"};

// The locale's long time format without its time-zone part.
QString LongTimeFormatWithoutZone(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == '\'') quoted = !quoted;
        if (!quoted && c == 't') continue;
        result += c;
    }
    return result.simplified();
}

}  // namespace

TfrmQuelvan::TfrmQuelvan(HidBackend& backend, const Clock& clock, DialogService& dialogs, MainWindowOptions options,
                         QWidget* parent)
    : QMainWindow(parent),
      clock_(clock),
      watchedDialogs_(std::make_unique<FileChoiceWatcher>(dialogs)),
      dialogs_(*watchedDialogs_),
      remembered_(std::make_unique<RememberedState>(options.settingsFile)),
      ppi_(options.ppi ? *options.ppi : (screen() ? screen()->logicalDotsPerInch() : 96.0)),
      board_(clock),
      hidCtl_(std::make_unique<HidDeviceController>(backend)),
      sleep_(options.sleep ? options.sleep : [](std::chrono::milliseconds span) { QThread::msleep(span.count()); }) {
    setObjectName("frmQuelvan");
    QFont font(QStringLiteral("Segoe UI"));
    font.setPixelSize(kFontEmPixels);
    setFont(font);

    menu_ = BuildMainMenu(*this);
    CreatePages();
    sb_ = new PanelStatusBar(ppi_, this);
    setStatusBar(sb_);
    SetStatusPanelSamples();
    CreateTimers();
    channels_ = new ChannelControl(board_, pc_, tsChannelsAF_, tsChannelsGL_, tsConfig_, this);
    settings_ = new SettingsPages(board_, *pc_, ChannelControl::kClockAreaHeight, this);
    // The start page is made active the way the channel commands do it.
    settings_->showPage = [this](QWidget* page) { channels_->showPage(page); };
    hooks.showDeviceConfig = [this] { settings_->ShowDeviceConfig(); };
    hooks.refreshSettings = [this] { settings_->RefreshSettings(); };
    CreateSchedulePages();

    connect(menu_.mnuFile, &QMenu::aboutToShow, this, &TfrmQuelvan::mnuFileClick);
    connect(menu_.mnuExit, &QAction::triggered, this, &TfrmQuelvan::mnuExitClick);
    connect(menu_.mnuFlash, &QAction::triggered, this, &TfrmQuelvan::mnuFlashClick);
    connect(menu_.mnuDataConfigExport, &QAction::triggered, this, &TfrmQuelvan::mnuDataConfigExportClick);
    connect(menu_.mnuConfigImport, &QAction::triggered, this, &TfrmQuelvan::mnuConfigImportClick);
    connect(menu_.mnuDataImport, &QAction::triggered, this, &TfrmQuelvan::mnuDataImportClick);
    connect(findChild<QAction*>("mnuDaylight"), &QAction::triggered, this,
            [this] { OpenDaylightDialog(*this, *remembered_); });
    connect(menu_.mnuAllOff, &QAction::triggered, channels_, &ChannelControl::mnuAllOffClick);
    connect(menu_.mnuAllOn, &QAction::triggered, channels_, &ChannelControl::mnuAllOnClick);

    // FormCreate, in its order.
    ScaleAndPlace();
    // Where the user left the window last time; the start page still follows the board.
    if (const QByteArray geometry = remembered_->WindowGeometry(); !geometry.isEmpty()) restoreGeometry(geometry);
    QString folder = QCoreApplication::applicationDirPath();
    if (!folder.endsWith('/')) folder += '/';
    QDir::setCurrent(folder);  // a failure leaves the current folder as it was
    // The dialogs start where a file was last chosen (also in an earlier run), else in the
    // user's home: the program's own folder (/usr/bin) holds nothing of the user's.
    od.directory = remembered_->DialogFolder();
    sd.directory = od.directory;
    watchedDialogs_->chosen = [this](const QString& file) {
        const QString chosenFolder = QFileInfo(file).absolutePath();
        od.directory = chosenFolder;
        sd.directory = chosenFolder;
        remembered_->SetDialogFolder(chosenFolder);
    };
    const QString caption = QStringLiteral("Quelvan 2.x.") + QString::number(kSupportedFirmwareVersion);
    setWindowTitle(caption);
    QGuiApplication::setApplicationDisplayName(caption);
    pc_->setCurrentWidget(tsMessages_);
    pc_->setTabVisible(pc_->indexOf(tsExpert_), false);
    pc_->setTabVisible(pc_->indexOf(tsJMP_), false);
    SetControlsEnabled(false);
    LogMessage("Die Bedienelemente werden nach dem Anschluss der Platine mit einem USB-Kabel bedienbar.");
    LogMessage(
        "Wenn beim Aktualisieren der Firmware Fehler auftreten oder danach die Platine nicht mehr reagiert, kann der "
        "Bootloader beim Start der Platine erzwungen werden: Dazu im ausgeschalteten Zustand den Jumper auf \"JMP\" "
        "stecken (siehe Anleitung; wie beim Programmieren der Fernbedienung, nur im ausgeschalteten Zustand). Dann "
        "den Strom einschalten. Das Display sollte blinken: Der Bootloader ist aktiv. Nach dem Aktualisieren der "
        "Firmware den Jumper wieder abziehen!");

    StartDeviceNotifications();
}

TfrmQuelvan::~TfrmQuelvan() {
    FormClose();
}

void TfrmQuelvan::CreatePages() {
    pc_ = new PageTabWidget(this);
    pc_->setObjectName("pc");
    for (const PageInfo& info : kPages) {
        auto* page = new QWidget;
        page->setObjectName(info.name);
        pc_->addTab(page, QString::fromUtf8(info.caption));
    }
    auto page = [this](const char* name) { return pc_->findChild<QWidget*>(name); };
    tsChannelsAF_ = page("tsChannelsAF");
    tsChannelsGL_ = page("tsChannelsGL");
    tsConfig_ = page("tsConfig");
    tsExpert_ = page("tsExpert");
    tsJMP_ = page("tsJMP");
    tsMessages_ = page("tsMessages");

    mem_ = new QPlainTextEdit(tsMessages_);
    mem_->setObjectName("mem");
    mem_->setReadOnly(true);
    mem_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mem_->setMaximumBlockCount(0);  // no line limit
    auto* layout = new QVBoxLayout(tsMessages_);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(mem_);
    setCentralWidget(pc_);
}

void TfrmQuelvan::CreateTimers() {
    tmrQuelvan_ = new QTimer(this);
    tmrQuelvan_->setObjectName("tmrQuelvan");
    tmrQuelvan_->setInterval(500);
    connect(tmrQuelvan_, &QTimer::timeout, this, &TfrmQuelvan::tmrQuelvanTimer);
    // Redraws the graph while a mouse button is held on it; its handler belongs to the graph.
    tmrVisualize_ = new QTimer(this);
    tmrVisualize_->setObjectName("tmrVisualize");
    tmrVisualize_->setInterval(25);
    // A board whose first reads fail is tried again until it answers or leaves.
    connectRetry_ = new QTimer(this);
    connectRetry_->setObjectName("tmrConnectRetry");
    connectRetry_->setInterval(1000);
    connect(connectRetry_, &QTimer::timeout, this, &TfrmQuelvan::RetryBoardConnection);
}

void TfrmQuelvan::ScaleAndPlace() {
    const int menuHeight = menuBar()->sizeHint().height();
    setMinimumSize(kMinimumOuterWidth - kDesignFrameWidth, kMinimumOuterHeight - kDesignFrameHeight);
    resize(ScaleForPpi(kClientWidth, ppi_), ScaleForPpi(kClientHeight, ppi_) + menuHeight);
    if (const QScreen* s = screen()) {
        QRect frame = geometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TfrmQuelvan::StartDeviceNotifications() {
    hidCtl_->OnEnumerate = [this](HidDevice& device, int index) { return HidCtlEnumerate(device, index); };
    hidCtl_->OnDeviceChange = [this] { HidCtlDeviceChange(); };
    if (hidCtl_->ChangeFd() >= 0) {
        changeNotifier_ = new QSocketNotifier(hidCtl_->ChangeFd(), QSocketNotifier::Read, this);
        connect(changeNotifier_, &QSocketNotifier::activated, this, &TfrmQuelvan::DeliverNotifications);
    } else if (hidCtl_->RescanIntervalMs() > 0) {
        rescanTimer_ = new QTimer(this);
        rescanTimer_->setInterval(hidCtl_->RescanIntervalMs());
        connect(rescanTimer_, &QTimer::timeout, this, [this] {
            if (flashing_) return;
            try {
                hidCtl_->NotifyDeviceChange();
            } catch (...) {
                // A failing scan is retried by the next notification.
            }
        });
        rescanTimer_->start();
    }
    // The controller's initial notification, delivered once the event loop runs, so that
    // the board is looked for only after the window is complete.
    QTimer::singleShot(0, this, &TfrmQuelvan::DeliverNotifications);
}

void TfrmQuelvan::DeliverNotifications() {
    if (flashing_) return;  // the update rescans when it has ended
    try {
        hidCtl_->ProcessNotifications();
    } catch (...) {
        // A failing scan is retried by the next notification.
    }
}

void TfrmQuelvan::LogMessage(const QString& text) {
    const LocalDateTime now = clock_.Now();
    const QLocale locale;
    const QString stamp = locale.toString(QDate(now.year, now.month, now.day), QLocale::ShortFormat) + ' ' +
                          locale.toString(QTime(now.hour, now.minute, now.second), LongTimeFormatWithoutZone(locale));
    const QString line = '[' + stamp + "] " + text;
    qCDebug(lcMessages).noquote() << line;
    if (heldLogLines_)
        heldLogLines_->append(line);
    else
        mem_->appendPlainText(line);
}

void TfrmQuelvan::HoldLogLines(bool hold) {
    if (hold) {
        if (!heldLogLines_) heldLogLines_ = std::make_unique<QStringList>();
        return;
    }
    if (!heldLogLines_) return;
    const std::unique_ptr<QStringList> lines = std::move(heldLogLines_);
    FlushLogLines(*lines);
}

void TfrmQuelvan::ShowHeldLogLines() {
    if (heldLogLines_) FlushLogLines(*heldLogLines_);
}

void TfrmQuelvan::FlushLogLines(QStringList& lines) {
    // One insertion: the log scrolls (and blits its picture) once, not once per line.
    if (!lines.isEmpty()) mem_->appendPlainText(lines.join('\n'));
    lines.clear();
}

void TfrmQuelvan::ReportStatus(const QString& text) {
    sb_->SetPanelText(0, text);
    LogMessage(text);
}

void TfrmQuelvan::ShowStatusMessage(const QString& text) {
    sb_->SetPanelText(0, text);
}

void TfrmQuelvan::SetControlsEnabled(bool enabled) {
    // One walk over the window's objects instead of one per name.
    QMultiHash<QString, QObject*> byName;
    for (QObject* object : findChildren<QObject*>())
        if (const QString name = object->objectName(); !name.isEmpty()) byName.insert(name, object);
    auto set = [&byName](const QString& name, bool on) {
        for (auto it = byName.constFind(name); it != byName.cend() && it.key() == name; ++it) {
            if (auto* widget = qobject_cast<QWidget*>(it.value()))
                widget->setEnabled(on);
            else if (auto* action = qobject_cast<QAction*>(it.value()))
                action->setEnabled(on);
        }
    };
    auto checked = [this](const char* name) {
        auto* button = findChild<QAbstractButton*>(name);
        return button && button->isChecked();
    };
    for (const char* name : kBoundNames) set(name, enabled);
    // Without a board the note about the mode would not hold.
    if (!enabled && channels_) channels_->ShowModeHint(false);
    for (const char* prefix : kBoundChannelPrefixes)
        for (int n = 0; n < kChannelCount; ++n) set(prefix + QString::number(n), enabled);

    // The settings pages' own conditions, in their order.
    set("rbtFMOWater", enabled && board_.live.Temperature != kNoTemperatureSensor);
    const bool waterEdits = enabled && checked("rbtFMOWater");
    set("edtTempWaterLow", waterEdits);
    set("edtTempWaterHigh", waterEdits);
    const bool jmpEdits = enabled && (checked("rbtJMPCooler") || checked("rbtJMPHeater"));
    set("edtTempJMPLow", jmpEdits);
    set("edtTempJMPHigh", jmpEdits);
}

void TfrmQuelvan::mnuFileClick() {
    menu_.mnuFlash->setEnabled(BoardDevice() != nullptr || BootloaderDevice() != nullptr);
}

void TfrmQuelvan::mnuExitClick() {
    close();
}

void TfrmQuelvan::closeEvent(QCloseEvent* event) {
    remembered_->SetWindowGeometry(saveGeometry());
    FormClose();
    QMainWindow::closeEvent(event);
}

void TfrmQuelvan::FormClose() {
    tmrQuelvan_->stop();
    connectRetry_->stop();
    // Both slots are released even when the first release fails, so the window always closes.
    try {
        if (HidDevice* device = BootloaderDevice()) {
            bootloader_.SetDevice(nullptr);
            hidCtl_->ReleaseDevice(device);
        }
    } catch (...) {
    }
    try {
        if (HidDevice* device = BoardDevice()) {
            board_.SetDevice(nullptr);
            hidCtl_->ReleaseDevice(device);
        }
    } catch (...) {
    }
}

void TfrmQuelvan::LoadFromDevice() {
    if (hooks.loadFromDevice) hooks.loadFromDevice();
}

void TfrmQuelvan::ShowDeviceConfig() {
    if (hooks.showDeviceConfig) hooks.showDeviceConfig();
}

void TfrmQuelvan::RefreshSettings() {
    if (hooks.refreshSettings) hooks.refreshSettings();
}

void TfrmQuelvan::DrawGraph() {
    if (hooks.drawGraph) hooks.drawGraph();
}

}  // namespace quelvan
