#pragma once
// The page "Grafik" (tsVisualize): the graph of the day in `img`, the choice of the
// channel that can be dragged (`cmbVisualize`), and the drag editing of its points. While a
// point is dragged, its time and percentage stand beside the cursor (a small label over the
// image, not part of the picture), and the status bar says what dragging changes.

#include <QObject>
#include <functional>
#include <vector>

#include "schedule/graph_geometry.h"
#include "window/table_page.h"

class QComboBox;
class QLabel;
class QTimer;
class QWidget;

namespace quelvan {

class BoardProtocol;
class GraphImage;
class ScheduleTable;

class GraphPage : public QObject {
    Q_OBJECT
public:
    // `tmrVisualize` is the window's 25 ms timer that redraws while a button is held.
    GraphPage(BoardProtocol& board, ScheduleTable& table, QWidget* page, QTimer& tmrVisualize,
              QObject* parent = nullptr);

    // Redraws the whole bitmap from the table, the board's clock and the colour names.
    void DrawGraph();

    int Channel() const { return channel_; }
    int DraggedEntry() const { return dragged_; }
    const std::vector<GraphPoint>& GraphPoints() const { return points_; }
    QComboBox* ChannelChoice() const { return cmbVisualize_; }
    GraphImage& Image() const { return *img_; }
    QLabel& DragInfo() const { return *lblDragInfo_; }

    // Shows grid and graph after a release; set by the window.
    std::function<void()> showSchedule;
    // The status bar and the log, for the upload at the mouse's release and the hints.
    StatusOutput status;
    // Device pixels per logical pixel that the graph is drawn with; the screen's of the
    // image unless set (tests set it).
    std::function<double()> pixelRatio;

public slots:
    void cmbVisualizeChange(int index);
    void tmrVisualizeTimer();
    void imgResize();
    void imgMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void imgMouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void imgMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

private:
    // The dragged point's time and percentage beside the cursor at (x, y).
    void ShowDragInfo(int x, int y);

    BoardProtocol& board_;
    ScheduleTable& table_;
    QTimer& tmrVisualize_;
    GraphImage* img_ = nullptr;
    QLabel* lblVisualize_ = nullptr;
    QComboBox* cmbVisualize_ = nullptr;
    QLabel* lblDragInfo_ = nullptr;
    std::vector<GraphPoint> points_;
    int channel_ = 0;
    int dragged_ = -1;
};

}  // namespace quelvan
