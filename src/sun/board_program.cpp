#include "sun/board_program.h"

#include <algorithm>

namespace quelvan::sun {

std::array<double, kChannelCount> ProgramMaxima(const std::vector<ScheduleEntry>& rows) {
    std::array<double, kChannelCount> maxima{};
    for (const ScheduleEntry& e : rows)
        for (std::size_t c = 0; c < e.Color.size() && c < maxima.size(); ++c)
            maxima[c] = std::max(maxima[c], static_cast<double>(e.Color[c]));
    return maxima;
}

int FullMoonMinute(const DeviceConfig& config) {
    return (config.FullmoonTransitHour * 60 + config.FullmoonTransitMinute) % 1440;
}

BoardDayProgram MakeBoardDayProgram(const SunDay& day, const DaylightOptions& options, int rows, int fullMoonMinute) {
    const DaylightCurve curve(day, options);
    BoardDayProgram program;
    program.fitted = FitProgram(curve, rows);
    program.shift = curve.Shift();
    program.moonMinute = BoardMoonTransit(day.MoonIlluminatedFraction(), day.MoonIsWaxing(), fullMoonMinute);
    return program;
}

bool TableHolds(const ScheduleTable& table, const std::vector<ScheduleEntry>& rows) {
    std::vector<ScheduleEntry> held = table.Entries(), wanted = rows;
    SortTableByTime(held);
    SortTableByTime(wanted);
    return held == wanted;
}

bool MoonTransitIs(const LiveState& live, int minute) {
    return live.MoonTransitHour * 60 + live.MoonTransitMinute == minute;
}

TableUpload UploadTable(BoardProtocol& board, ScheduleTable& table, const std::vector<ScheduleEntry>& rows) {
    TableUpload upload;
    table.Rows() = rows;
    table.SortByTime();
    upload.write = WriteSchedule(board, table);
    if (upload.write.failed > 0 || !upload.write.allowed) {
        upload.failed = UploadStep::Write;
        return upload;
    }
    ScheduleTable back;
    upload.readBack = LoadSchedule(board, back);
    if (!upload.readBack.complete)
        upload.failed = UploadStep::ReadBack;
    else if (back.Entries() != table.Entries())
        upload.failed = UploadStep::Differs;
    return upload;
}

TransferResult WriteMoonTransit(BoardProtocol& board, int minute) {
    board.live.MoonTransitHour = static_cast<std::int8_t>(minute / 60);
    board.live.MoonTransitMinute = static_cast<std::int8_t>(minute % 60);
    return board.WriteLiveState(false, true, false);
}

}  // namespace quelvan::sun
