#pragma once
// The schedule's string grid `sg`: a fixed column "Pos." (the row header, where rows are
// moved by dragging), a fixed header row, and one row per table entry whose cells are
// edited in place. Rows the user moved are only moved on screen; everything here reads
// and writes the grid in the order the user sees.
//
// The columns are as wide as their captions and values need in the grid's font, and share
// out the rest of the width, so the grid fills its page at any size. Where the captions do
// not fit side by side, they are turned to read upwards and the columns only need the
// values' width.
//
// An edited cell is checked when it is committed: a value the board cannot run is refused
// (cellRefused) and the cell keeps what it held; an accepted one is written in the grid's
// form ("7:05" as "07:05").

#include <QString>
#include <QTableWidget>

namespace quelvan {

class GridHeader;

class ScheduleGrid : public QTableWidget {
    Q_OBJECT
public:
    static constexpr int kColumns = 14;  // "Pos.", "Zeit", channels A..L

    explicit ScheduleGrid(QWidget* parent = nullptr);

    // Rows counted as shown, the header row being row 0; columns 0 "Pos." .. 13.
    int GridRowCount() const { return rowCount() + 1; }
    QString Cell(int column, int row) const;
    void SetCell(int column, int row, const QString& text);
    // `entries` rows below the header, in their own order again, all cells empty.
    void ResetRows(int entries);
    // Takes the text of an open cell editor into its cell.
    void CommitEditor();
    // Whether the channel captions are turned to read upwards.
    bool HeaderTextsTurned() const;
    // The room a caption or value needs beside its text, on either side.
    int TextPadding() const;

signals:
    // A cell's edit was refused (a time not from 00:00 to 24:00, a percentage not from 0 to
    // 100): the cell keeps its previous text. Column and row as Cell() counts them.
    void cellRefused(int column, int row, const QString& typed);
    // A row was dragged from row `fromIndex` to row `toIndex` (header row 0).
    void rowMoved(int fromIndex, int toIndex);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void FitColumns();
    QTableWidgetItem* ItemAt(int column, int row) const;

    GridHeader* header_ = nullptr;
    QWidget* corner_ = nullptr;
    QString cornerText_;
    bool fitting_ = false;
};

}  // namespace quelvan
