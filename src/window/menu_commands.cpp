#include "window/menu_commands.h"

#include <QAction>
#include <QDesktopServices>
#include <QMenu>
#include <QTabWidget>
#include <array>

#include "device/board_protocol.h"
#include "window/menu_builder.h"
#include "window/table_page.h"

namespace quelvan {

namespace {

// The page each mode item shows; nullptr: the page stays.
constexpr std::array<const char*, 5> kModePages = {"tsChannelsAF", "tsData", "tsChannelsGL", "tsChannelsAF", nullptr};

}  // namespace

MenuCommands::MenuCommands(BoardProtocol& board, const MainMenu& menu, QTabWidget& pc, TablePage& table,
                           QObject* parent)
    : QObject(parent), board_(board), menu_(menu), pc_(pc), table_(table) {
    openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    connect(menu_.mnuMode, &QMenu::aboutToShow, this, &MenuCommands::mnuModeClick);
    connect(menu_.mnuModeManual, &QAction::triggered, this, &MenuCommands::mnuModeManualClick);
    connect(menu_.mnuModeAuto, &QAction::triggered, this, &MenuCommands::mnuModeAutoClick);
    connect(menu_.mnuModeDemo, &QAction::triggered, this, &MenuCommands::mnuModeDemoClick);
    connect(menu_.mnuModeFlash, &QAction::triggered, this, &MenuCommands::mnuModeFlashClick);
    connect(menu_.mnuModeSlave, &QAction::triggered, this, &MenuCommands::mnuModeSlaveClick);
    connect(menu_.mnuStep, &QAction::triggered, this, &MenuCommands::mnuStepClick);
    connect(menu_.mnuShowExpert, &QAction::triggered, this, &MenuCommands::mnuShowExpertClick);
    connect(menu_.mnuShowJMP, &QAction::triggered, this, &MenuCommands::mnuShowJMPClick);
    connect(menu_.mnuSaveEEPROM, &QAction::triggered, this, &MenuCommands::mnuSaveEEPROMClick);
    connect(menu_.mnuDravik, &QAction::triggered, this, &MenuCommands::mnuDravikClick);
}

QWidget* MenuCommands::Page(const char* name) const {
    return pc_.findChild<QWidget*>(name);
}

void MenuCommands::mnuModeClick() {
    const std::array<QAction*, 5> items = {menu_.mnuModeManual, menu_.mnuModeAuto, menu_.mnuModeDemo,
                                           menu_.mnuModeFlash, menu_.mnuModeSlave};
    // A mode the menu does not know leaves the radio items as they are.
    if (board_.config.Mode < items.size()) items[board_.config.Mode]->setChecked(true);
    menu_.mnuStep->setChecked(board_.config.Step == 1);
}

void MenuCommands::ChooseMode(int mode) {
    board_.config.Mode = static_cast<std::uint8_t>(mode);
    board_.WriteDeviceConfig();
    // Made active by the program: no upload, no reload.
    if (const char* page = kModePages[static_cast<std::size_t>(mode)]) pc_.setCurrentWidget(Page(page));
}

void MenuCommands::mnuModeManualClick() {
    ChooseMode(0);
}

void MenuCommands::mnuModeAutoClick() {
    ChooseMode(1);
}

void MenuCommands::mnuModeDemoClick() {
    ChooseMode(2);
}

void MenuCommands::mnuModeFlashClick() {
    ChooseMode(3);
}

void MenuCommands::mnuModeSlaveClick() {
    ChooseMode(4);
}

void MenuCommands::mnuStepClick() {
    board_.config.Step = menu_.mnuStep->isChecked() ? 1 : 0;
    board_.WriteDeviceConfig();
}

void MenuCommands::ShowHiddenPage(const char* name, bool shown) {
    QWidget* page = Page(name);
    if (!page) return;
    pc_.setTabVisible(pc_.indexOf(page), shown);
    if (shown) pc_.setCurrentWidget(page);
}

void MenuCommands::mnuShowExpertClick() {
    ShowHiddenPage("tsExpert", menu_.mnuShowExpert->isChecked());
}

void MenuCommands::mnuShowJMPClick() {
    ShowHiddenPage("tsJMP", menu_.mnuShowJMP->isChecked());
}

void MenuCommands::mnuSaveEEPROMClick() {
    if (pc_.currentWidget() == Page("tsData")) table_.UploadSchedule();
    const TransferResult saved = board_.SaveEEPROM();
    // Nothing goes to the log; the status bar says what became of the command, so that an
    // older message does not stand for it.
    if (!board_.Device() || !showStatus) return;
    showStatus(saved.ok ? QStringLiteral("Einstellungen im EEPROM gespeichert")
                        : QStringLiteral("Einstellungen nicht im EEPROM gespeichert: keine Antwort der Platine"));
}

void MenuCommands::mnuDravikClick() {
    OpenWebAddress(kMakerWebAddress);
}

void MenuCommands::OpenWebAddress(const QString& address) {
    if (openUrl) openUrl(QUrl::fromUserInput(address));
}

void MenuCommands::pcChanging(QWidget* left) {
    // Only what the user changed in the grid is uploaded: an unchanged grid would write the
    // program as it was loaded over one that another tool has written to the board since.
    if (left && left == Page("tsData") && table_.HasUnsentEdits()) table_.UploadSchedule();
}

void MenuCommands::pcChange(QWidget* entered) {
    if (entered && (entered == Page("tsData") || entered == Page("tsVisualize"))) table_.LoadFromDevice();
}

}  // namespace quelvan
