// The pages "Tabelle" and "Grafik" and the menu commands, plugged into the window: the
// connection sequence and the poll, the channel names, and the user's page changes.
// Part of TfrmQuelvan.

#include <QComboBox>

#include "window/channel_control.h"
#include "window/graph_page.h"
#include "window/main_window.h"
#include "window/menu_commands.h"
#include "window/page_tab_widget.h"
#include "window/table_page.h"

namespace quelvan {

void TfrmQuelvan::CreateSchedulePages() {
    tablePage_ = new TablePage(board_, schedule_, pc_->findChild<QWidget*>("tsData"), this);
    graphPage_ = new GraphPage(board_, schedule_, pc_->findChild<QWidget*>("tsVisualize"), *tmrVisualize_, this);
    tablePage_->drawGraph = [this] { graphPage_->DrawGraph(); };
    graphPage_->showSchedule = [this] { tablePage_->ShowSchedule(); };
    const StatusOutput status{[this](const QString& text) { ReportStatus(text); },
                              [this](const QString& text) { ShowStatusMessage(text); }};
    tablePage_->status = status;
    graphPage_->status = status;
    hooks.loadFromDevice = [this] { tablePage_->LoadFromDevice(); };
    hooks.drawGraph = [this] { graphPage_->DrawGraph(); };

    channels_->setGridHeader = [this](int column, const QString& name) { tablePage_->SetHeader(column, name); };
    channels_->cmbVisualize = graphPage_->ChannelChoice();
    channels_->currentGraphChannel = [this] { return graphPage_->Channel(); };

    menuCommands_ = new MenuCommands(board_, menu_, *pc_, *tablePage_, this);
    menuCommands_->showStatus = [this](const QString& text) { ShowStatusMessage(text); };
    connect(static_cast<PageTabWidget*>(pc_), &PageTabWidget::userPageChanged, menuCommands_,
            [this](QWidget* left, QWidget* entered) {
                menuCommands_->pcChanging(left);
                menuCommands_->pcChange(entered);
            });
}

}  // namespace quelvan
