#pragma once
// The main menu `mnuMain`: its tree, captions (each with its keyboard letter), object
// names, radio and check items, and the keys that reach it (Alt, F10).

#include <QString>

class QAction;
class QActionGroup;
class QMainWindow;
class QMenu;

namespace quelvan {

// The maker's web address, the caption of mnuDravik.
inline const QString kMakerWebAddress = QStringLiteral("www.dravik.info");

struct MainMenu {
    QMenu* mnuFile = nullptr;
    QAction* mnuDataImport = nullptr;
    QAction* mnuConfigImport = nullptr;
    QAction* mnuDataConfigExport = nullptr;
    QAction* mnuFlash = nullptr;
    QAction* mnuExit = nullptr;

    QMenu* mnuMode = nullptr;
    QActionGroup* modeGroup = nullptr;  // the five exclusive mode items
    QAction* mnuModeManual = nullptr;
    QAction* mnuModeAuto = nullptr;
    QAction* mnuModeDemo = nullptr;
    QAction* mnuModeFlash = nullptr;
    QAction* mnuModeSlave = nullptr;
    QAction* mnuStep = nullptr;
    QAction* mnuShowExpert = nullptr;
    QAction* mnuShowJMP = nullptr;
    QAction* mnuSaveEEPROM = nullptr;

    QAction* mnuAllOff = nullptr;
    QAction* mnuAllOn = nullptr;

    QMenu* mnuHelp = nullptr;
    QAction* mnuDravik = nullptr;
};

// Fills the window's menu bar (named mnuMain). Only the structure: commands are connected
// by their owners.
MainMenu BuildMainMenu(QMainWindow& window);

}  // namespace quelvan
