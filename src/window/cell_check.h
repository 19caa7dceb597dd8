#pragma once
// What a cell of the schedule grid may hold: the board runs a day from 00:00 to 24:00 and
// brightness from 0 to 100 %. A value outside that would be stored as some other byte, or
// put a point above the graph where it cannot be grabbed, so it is refused and named
// instead of being sent.

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace quelvan {

// A time typed as H:MM or HH:MM from 00:00 to 24:00, in the grid's form ("7:05" gives
// "07:05"); nullopt when it is none.
std::optional<QString> CheckedTimeCell(const QString& text);
// A percentage from 0 to 100 with a decimal point or comma, as the whole number the board
// keeps ("33,4" gives "33"); nullopt when it is none.
std::optional<QString> CheckedPercentCell(const QString& text);

// The status bar's text for a cell that kept its previous value. `row` is the entry's
// number in the column "Pos.", `caption` the column's header.
QString RefusedCellText(int column, const QString& pos, const QString& caption, const QString& typed);

// The cells of the grid whose texts the board cannot run, each as Pos. N "caption" (text).
// A row is the grid's texts from "Pos." on ("Pos.", "Zeit", A..L); `captions` are the
// headers of the columns "Zeit" and A..L. The texts are checked rather than the table's
// bytes, since a file's number that no byte holds would pass as its low byte.
QStringList BadCells(const std::vector<QStringList>& rows, const QStringList& captions);
// "ungültige Werte in ..." with the first few of them named.
QString BadCellsText(const QStringList& cells);

}  // namespace quelvan
