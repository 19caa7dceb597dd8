#pragma once
// Moving the whole day program between the board and the table: the board hands out its
// rows one per read, in an order of its own choosing; writing sends every row by index.

#include "device/board_protocol.h"
#include "schedule/schedule_table.h"

namespace quelvan {

struct ScheduleLoadResult {
    int reads = 0;        // gets of report 3 sent
    int failedReads = 0;  // gets that yielded no entry
    int dropped = 0;      // entries whose index lay at or past the end of the table
    int stored = 0;
    bool complete = false;  // every row arrived
};

// EntryCount reads of report 3 (EntryCount from the last live state read), each entry
// stored at the index the board sends with it. A failed read stores nothing and the load
// goes on, so that one lost transfer costs one row; rows that did not arrive keep what
// they held. Without a board every read fails at once.
ScheduleLoadResult LoadSchedule(BoardProtocol& board, ScheduleTable& table);

struct ScheduleWriteResult {
    bool allowed = false;  // the table was loaded completely from the board held now
    int written = 0;       // rows sent (whatever their outcome)
    int failed = 0;        // rows whose every attempt failed
    TransferResult total;  // attempts of all rows; ok when every row went through
};

// Writes row i with index i for every row, from 0 upward, but only when the table was
// loaded completely from the board held now: rows that never arrived (a failed or
// partial load, another board plugged in since) must not be sent over its program.
ScheduleWriteResult WriteSchedule(BoardProtocol& board, const ScheduleTable& table);

}  // namespace quelvan
