#pragma once
// The page "Tabelle" (tsData): the schedule grid `sg`, "Hochladen" and the two notes. The
// grid is where the table is edited; the table takes the grid's texts only when it is
// sorted, before every upload.

#include <QObject>
#include <functional>

class QLabel;
class QPushButton;
class QWidget;

namespace quelvan {

class BoardProtocol;
struct ScheduleWriteResult;

// Rows are written over the board's program only after a complete load from it; when an
// upload is refused for that reason the user is told, instead of the edit vanishing quietly.
void ReportRefusedUpload(const BoardProtocol& board, const ScheduleWriteResult& result,
                         const std::function<void(const QString&)>& reportStatus);

class BoardProtocol;
class ScheduleGrid;
class ScheduleTable;

class TablePage : public QObject {
    Q_OBJECT
public:
    TablePage(BoardProtocol& board, ScheduleTable& table, QWidget* page, QObject* parent = nullptr);

    // Reads the configuration and the whole schedule from the board, then shows them.
    void LoadFromDevice();
    // Fills the grid from the table, then redraws the graph.
    void ShowSchedule();
    // The grid's texts into the table, sorted by time, shown again.
    void SortSchedule();
    // SortSchedule, then every row to the board (only after a complete load from it).
    void UploadSchedule();

    // A channel column's header (columns 2..13), from the channel names.
    void SetHeader(int column, const QString& name);

    ScheduleGrid& Grid() { return *sg_; }

    // Redraws the graph; set by the window.
    std::function<void()> drawGraph;
    // Says that an upload was refused because the table was not read completely; set by the
    // window (status bar and log).
    std::function<void(const QString&)> reportStatus;

public slots:
    void btnUploadClick();
    void sgRowMoved(int fromIndex, int toIndex);

private:
    BoardProtocol& board_;
    ScheduleTable& table_;
    ScheduleGrid* sg_ = nullptr;
    QPushButton* btnUpload_ = nullptr;
    QLabel* lblDescription1_ = nullptr;
    QLabel* lblDescription2_ = nullptr;
};

}  // namespace quelvan
