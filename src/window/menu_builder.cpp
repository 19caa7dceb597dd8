#include "window/menu_builder.h"

#include <QActionGroup>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace quelvan {

namespace {

QAction* AddItem(QMenu* menu, const char* name, const QString& caption, bool checkable = false) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    action->setCheckable(checkable);
    return action;
}

QMenu* AddMenu(QMenuBar* bar, const char* name, const QString& caption) {
    QMenu* menu = bar->addMenu(caption);
    menu->setObjectName(name);
    menu->menuAction()->setObjectName(QString::fromLatin1(name) + "Action");
    return menu;
}

}  // namespace

MainMenu BuildMainMenu(QMainWindow& window) {
    QMenuBar* bar = window.menuBar();
    bar->setObjectName("mnuMain");
    MainMenu m;

    m.mnuFile = AddMenu(bar, "mnuFile", "&Datei");
    m.mnuDataImport = AddItem(m.mnuFile, "mnuDataImport", "Tabelle &importieren von...");
    m.mnuConfigImport = AddItem(m.mnuFile, "mnuConfigImport", "&Konfiguration importieren von...");
    m.mnuFile->addSeparator();
    m.mnuDataConfigExport = AddItem(m.mnuFile, "mnuDataConfigExport", "Tabelle und Konfiguration &exportieren nach...");
    m.mnuFile->addSeparator();
    m.mnuFlash = AddItem(m.mnuFile, "mnuFlash", "&Firmware aktualisieren...");
    m.mnuFile->addSeparator();
    m.mnuExit = AddItem(m.mnuFile, "mnuExit", "&Beenden");

    m.mnuMode = AddMenu(bar, "mnuMode", "&Optionen");
    m.modeGroup = new QActionGroup(m.mnuMode);
    m.modeGroup->setObjectName("mnuModeGroup");
    m.modeGroup->setExclusive(true);
    for (auto [slot, name, caption] :
         {std::tuple{&m.mnuModeManual, "mnuModeManual", "&Manuell"}, std::tuple{&m.mnuModeAuto, "mnuModeAuto", "&Auto"},
          std::tuple{&m.mnuModeDemo, "mnuModeDemo", "&Demo"}, std::tuple{&m.mnuModeFlash, "mnuModeFlash", "&Flash"},
          std::tuple{&m.mnuModeSlave, "mnuModeSlave", "&Slave"}}) {
        *slot = AddItem(m.mnuMode, name, caption, true);
        m.modeGroup->addAction(*slot);
    }
    m.mnuMode->addSeparator();
    m.mnuStep = AddItem(m.mnuMode, "mnuStep", "&Große Schrittweite", true);
    m.mnuMode->addSeparator();
    m.mnuShowExpert = AddItem(m.mnuMode, "mnuShowExpert", "Seite \"&Expertenoptionen\" einblenden", true);
    m.mnuShowJMP = AddItem(m.mnuMode, "mnuShowJMP", "Seite \"&JMP-Pin\" einblenden", true);
    m.mnuMode->addSeparator();
    m.mnuSaveEEPROM = AddItem(m.mnuMode, "mnuSaveEEPROM", "Einstellungen im EE&PROM speichern");
    m.mnuMode->addSeparator();
    // The day from the sun at a place (found by its name, mnuDaylight, by its owner).
    AddItem(m.mnuMode, "mnuDaylight", "&Tageslicht nach Ort …");

    // Commands right on the menu bar, without a drop-down.
    m.mnuAllOff = bar->addAction("ALLES &AUS");
    m.mnuAllOff->setObjectName("mnuAllOff");
    m.mnuAllOn = bar->addAction("ALLES &EIN");
    m.mnuAllOn->setObjectName("mnuAllOn");

    m.mnuHelp = AddMenu(bar, "mnuHelp", "&Hilfe");
    m.mnuDravik = AddItem(m.mnuHelp, "mnuDravik", "&" + kMakerWebAddress);

    // The keyboard: every title and item has its letter (Alt with the title's letter opens
    // a menu; Alt alone enters the menu bar), and F10 opens the first menu.
    auto* openMenus = new QAction(&window);
    openMenus->setObjectName("mnuOpenByKey");
    openMenus->setShortcut(Qt::Key_F10);
    openMenus->setShortcutContext(Qt::WindowShortcut);
    window.addAction(openMenus);
    QObject::connect(openMenus, &QAction::triggered, bar,
                     [bar, file = m.mnuFile] { bar->setActiveAction(file->menuAction()); });
    return m;
}

}  // namespace quelvan
