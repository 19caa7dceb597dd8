#pragma once
// The commands of the menu "Optionen" (operating mode, large step width, the two hidden
// pages, EEPROM), the maker's web address in "Hilfe", and what the user's page changes do
// to the schedule: leaving "Tabelle" uploads the grid's unsent edits, entering "Tabelle" or
// "Grafik" reloads it.

#include <QObject>
#include <QUrl>
#include <functional>

class QTabWidget;
class QWidget;

namespace quelvan {

class BoardProtocol;
class TablePage;
struct MainMenu;

class MenuCommands : public QObject {
    Q_OBJECT
public:
    MenuCommands(BoardProtocol& board, const MainMenu& menu, QTabWidget& pc, TablePage& table,
                 QObject* parent = nullptr);

    // Opens an address in the user's web browser through the desktop's URL handler. Tests
    // replace the opener; the default is QDesktopServices.
    void OpenWebAddress(const QString& address);
    std::function<void(const QUrl&)> openUrl;
    // Status panel 0 without the log, for the EEPROM command's outcome; set by the window.
    std::function<void(const QString&)> showStatus;

public slots:
    void mnuModeClick();
    void mnuModeManualClick();
    void mnuModeAutoClick();
    void mnuModeDemoClick();
    void mnuModeFlashClick();
    void mnuModeSlaveClick();
    void mnuStepClick();
    void mnuShowExpertClick();
    void mnuShowJMPClick();
    void mnuSaveEEPROMClick();
    void mnuDravikClick();
    // The user's page changes: before (the page left) and after (the page entered).
    void pcChanging(QWidget* left);
    void pcChange(QWidget* entered);

private:
    void ChooseMode(int mode);
    void ShowHiddenPage(const char* page, bool shown);
    QWidget* Page(const char* name) const;

    BoardProtocol& board_;
    const MainMenu& menu_;
    QTabWidget& pc_;
    TablePage& table_;
};

}  // namespace quelvan
