#pragma once
// A day from the sun made for one board and sent to it: the maxima from its own day program,
// the rows fitted to its row count, the moon's transit against its full-moon transit, and
// the upload through the table's own upload (every row by index, the table read back and
// compared), the moon transit written after it. quelvanctl and quelvand both use it.

#include <array>
#include <vector>

#include "device/board_protocol.h"
#include "schedule/schedule_table.h"
#include "schedule/schedule_transfer.h"
#include "sun/daylight.h"

namespace quelvan::sun {

// Each channel's highest value in a day program: the owner's colour mix.
std::array<double, kChannelCount> ProgramMaxima(const std::vector<ScheduleEntry>& rows);
// The board's full-moon transit as a minute of the day.
int FullMoonMinute(const DeviceConfig& config);

struct BoardDayProgram {
    FittedProgram fitted;
    int moonMinute = 0;  // the transit that makes the board's moon show the real one
    double shift = 0;    // the place's clock minus the board's (DaylightCurve::Shift)
};
BoardDayProgram MakeBoardDayProgram(const SunDay& day, const DaylightOptions& options, int rows, int fullMoonMinute);

// Whether the board's table (in whatever order it holds its rows) is these rows.
bool TableHolds(const ScheduleTable& table, const std::vector<ScheduleEntry>& rows);
// Whether the live state's moon transit is this minute.
bool MoonTransitIs(const LiveState& live, int minute);

enum class UploadStep { Done, Write, ReadBack, Differs };
struct TableUpload {
    UploadStep failed = UploadStep::Done;
    ScheduleWriteResult write;
    ScheduleLoadResult readBack;
    bool Ok() const { return failed == UploadStep::Done; }
};
// `table` is the board's table loaded completely in this session; its rows become `rows`
// (sorted by time), written, read back and compared.
TableUpload UploadTable(BoardProtocol& board, ScheduleTable& table, const std::vector<ScheduleEntry>& rows);
// The live-state write with the moon transit alone.
TransferResult WriteMoonTransit(BoardProtocol& board, int minute);

}  // namespace quelvan::sun
