#pragma once
// Manual channel control, channel naming and the board-clock controls: the two channel
// pages, the clock controls on the configuration page, and the all-on / all-off commands.

#include <QObject>
#include <QString>
#include <functional>

class QComboBox;
class QTabWidget;
class QWidget;

namespace quelvan {

class BoardProtocol;

class ChannelControl : public QObject {
    Q_OBJECT
public:
    // Creates the twelve channel rows on the two channel pages and the clock controls
    // (trbTime, edtTime, btnNow) on the configuration page. `pc` is the page control
    // (the all-on/all-off commands make the first channel page active).
    ChannelControl(BoardProtocol& board, QTabWidget* pc, QWidget* channelsAF, QWidget* channelsGL,
                   QWidget* configPage, QObject* parent = nullptr);

    // Every channel's display name from ColorName: name choices (unless focused), edit
    // labels, and the hooks below (grid header cells, graph channel list).
    void ShowChannelNames();
    // One poll tick's share: track bars and percentage edits (not a focused edit) ...
    void RefreshChannels();
    // ... and the clock edit (unless focused) and clock track bar.
    void RefreshClock();

    // Later pages plug in here: the schedule grid's header cell for a channel column,
    // and the graph's channel choice with the graph's current channel.
    std::function<void(int column, const QString& name)> setGridHeader;
    QComboBox* cmbVisualize = nullptr;
    std::function<int()> currentGraphChannel;

public slots:
    void mnuAllOffClick();
    void mnuAllOnClick();
};

}  // namespace quelvan
