#pragma once
// The page "Tabelle" (tsData): the schedule grid `sg`, "Hochladen" and the two notes. The
// grid is where the table is edited; the table takes the grid's texts only when it is
// sorted, before every upload.

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "files/ini_file.h"

class QLabel;
class QPushButton;
class QWidget;

namespace quelvan {

class BoardProtocol;
struct ScheduleWriteResult;

// How the schedule pages speak to the user; set by the window. `report` puts a line into
// the status bar and the log, `show` only into the status bar (confirmations, hints).
struct StatusOutput {
    std::function<void(const QString&)> report;
    std::function<void(const QString&)> show;
};

// What an upload came to. Rows are written over the board's program only after a complete
// load from it; a refusal for that reason is reported, instead of the edit vanishing
// quietly. Otherwise the status bar says whether every row reached the board, so that an
// older message does not stand for this upload. True when every row did.
bool ReportUpload(const BoardProtocol& board, const ScheduleWriteResult& result, const StatusOutput& status);

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
    // SortSchedule, then every row to the board (only after a complete load from it, and
    // only when every cell holds a value the board can run). True when every row reached
    // the board.
    bool UploadSchedule();
    // The table's cells that the board cannot run (an imported file's, or the board's
    // own), named by "Pos." and column; empty when there are none.
    QStringList BadCells() const;
    // After an import: the file's numbers that the table could not hold, shown as the file
    // has them (the table keeps their low byte), so that BadCells names them.
    void ShowFileNumbers(const std::vector<files::UnfittingValue>& numbers);
    // Whether the grid holds edits or moved rows that have not been uploaded since the table
    // was loaded (an open cell editor's text counts once it differs from its cell).
    bool HasUnsentEdits();
    // The grid holds rows that are not on the board (an import held back): leaving the
    // page tries to upload them.
    void MarkUnsent() { unsentEdits_ = true; }

    // A channel column's header (columns 2..13), from the channel names.
    void SetHeader(int column, const QString& name);

    ScheduleGrid& Grid() { return *sg_; }

    // Redraws the graph; set by the window.
    std::function<void()> drawGraph;
    StatusOutput status;

public slots:
    void btnUploadClick();
    void sgRowMoved(int fromIndex, int toIndex);

private:
    void CellChanged();
    void CellRefused(int column, int row, const QString& typed);

    BoardProtocol& board_;
    ScheduleTable& table_;
    ScheduleGrid* sg_ = nullptr;
    QPushButton* btnUpload_ = nullptr;
    QLabel* lblDescription1_ = nullptr;
    QLabel* lblDescription2_ = nullptr;
    // Set by the user's edits and row moves, cleared by a load and by a complete upload:
    // leaving the page uploads only then, so that a program another tool wrote to the board
    // meanwhile is not overwritten by an unchanged grid.
    bool unsentEdits_ = false;
    bool showing_ = false;  // the program fills the grid: its cell changes are not edits
};

}  // namespace quelvan
