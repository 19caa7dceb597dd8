// "quelvanctl sun program": the day program from the sun, fitted to the board's rows, printed,
// and on request written to a table file, drawn, or uploaded (with the moon) and read back.
#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/file_commands.h"
#include "cli/json_text.h"
#include "cli/schedule_commands.h"
#include "cli/sun_commands.h"
#include "files/ini_file.h"
#include "schedule/board_json.h"
#include "schedule/schedule_table.h"
#include "sun/board_program.h"

namespace quelvan::cli {

namespace {

Failure Usage(const std::string& message) {
    return Failure{kExitUsage, "error: " + message, {}};
}

// Writes the rows through the table upload (every row by index), reads the table back and
// compares; then sets today's moon transit.
std::optional<Failure> Upload(BoardSession& session, ScheduleTable& table, const std::vector<ScheduleEntry>& rows,
                              int moonMinute) {
    BoardProtocol& board = session.Protocol();
    const sun::TableUpload upload = sun::UploadTable(board, table, rows);
    if (upload.failed == sun::UploadStep::Write) {
        Failure failure = session.TransferFailure("writing the schedule", upload.write.total);
        failure.message = "error: writing the schedule failed: " + std::to_string(upload.write.failed) + " of " +
                          std::to_string(upload.write.written) + " rows did not arrive";
        return failure;
    }
    if (upload.failed == sun::UploadStep::ReadBack) {
        Failure failure = session.TransferFailure("reading the schedule", TransferResult{false, upload.readBack.reads});
        if (failure.exitCode == kExitTransferFailed)
            failure.message = "error: reading the schedule failed: " + std::to_string(upload.readBack.stored) + " of " +
                              std::to_string(upload.readBack.reads) + " entries arrived; nothing was done";
        return failure;
    }
    if (upload.failed == sun::UploadStep::Differs)
        return Failure{kExitTransferFailed, "error: the board's table read back differs from the program sent", {}};
    const TransferResult moon = sun::WriteMoonTransit(board, moonMinute);
    if (!moon.ok) return session.TransferFailure("writing the moon transit", moon);
    return std::nullopt;
}

}  // namespace

std::optional<Failure> RunSunProgram(const Request& request, const Clock& clock, BoardSession* session,
                                     std::ostream& out, std::ostream& err) {
    SunSubject subject;
    if (auto failure = ResolveSubject(request, clock, subject)) return failure;
    const SunRequest& asked = request.sun;
    if (!asked.iniFile.empty()) {
        if (const files::FileResult check = files::CheckExportTarget(asked.iniFile); !check.ok)
            return Failure{kExitFileUnusable, "error: " + check.error, {}};
    }

    sun::DaylightOptions options;
    options.horizon = asked.twilight == "civil" ? sun::kCivilHorizon : sun::kStandardHorizon;
    if (!asked.noon.empty()) options.noon = sun::ParseMinuteOfDay(asked.noon);
    if (!asked.siesta.empty()) options.siesta = sun::ParseSiesta(asked.siesta);
    if (asked.scale) options.scale = *asked.scale;

    ScheduleTable table;
    int rows = asked.rows.value_or(0);
    int fullMoonMinute = 0;
    if (session) {
        if (auto failure = LoadWholeTable(*session, table)) return failure;
        if (table.Empty()) return Failure{kExitTransferFailed, "error: the board holds no rows", {}};
        // The owner's colour mix stays: each channel's highest value in the board's program.
        options.maxima = sun::ProgramMaxima(table.Entries());
        if (asked.rows && *asked.rows != static_cast<int>(table.Size()) && asked.upload)
            return Usage("--rows " + std::to_string(*asked.rows) + " differs from the board's " +
                         std::to_string(table.Size()) + " rows; --upload writes the board's own number");
        if (!asked.rows) rows = static_cast<int>(table.Size());
        fullMoonMinute = sun::FullMoonMinute(session->Protocol().config);
    }
    if (std::string error; !asked.maxima.empty() && !sun::ParseMaxima(asked.maxima, options.maxima, error))
        return Usage("--max: " + error);
    if (rows < 2) return Usage("--rows N is needed without a board (at least 2)");

    const sun::SunDay day(subject.place, subject.zone, subject.date);
    const sun::DaylightCurve curve(day, options);
    const sun::FittedProgram program = sun::FitProgram(curve, rows);
    const int moonMinute = sun::BoardMoonTransit(day.MoonIlluminatedFraction(), day.MoonIsWaxing(), fullMoonMinute);
    // Sunrise and sunset as the board's clock shows them.
    auto boardTime = [&](const std::optional<double>& local) -> nlohmann::json {
        if (!local) return nullptr;
        return sun::MinuteText(std::fmod(*local - curve.Shift() + 2880.0, 1440.0));
    };
    if (day.PolarState() != sun::Polar::None)
        err << "note: " << (day.PolarState() == sun::Polar::Night ? "polar night: a dark day" : "polar day: no dark")
            << " at " << subject.name << " on " << sun::FormatDate(subject.date) << "\n";

    if (!asked.iniFile.empty()) {
        // Without a board the file gets the rows alone: no made-up settings beside them.
        const files::FileResult written =
            session ? files::ExportSettingsAndTable(asked.iniFile, session->Protocol().config, program.rows)
                    : files::ExportTable(asked.iniFile, program.rows);
        if (!written.ok) return Failure{kExitFileUnusable, "error: " + written.error, {}};
    }
    if (!asked.graphFile.empty()) {
        GraphRequest graph;
        graph.table = program.rows;
        if (session) graph.colorNames = session->Protocol().config.ColorName;
        if (auto failure = DrawGraphPicture(graph, asked.graphFile)) return failure;
    }
    if (asked.upload) {
        if (auto failure = Upload(*session, table, program.rows, moonMinute)) return failure;
    }

    const double maxError = std::round(program.maxError * 100) / 100;
    if (request.json) {
        nlohmann::json json = ScheduleJson(program.rows);
        json["max_error"] = maxError;
        json["sunrise"] = boardTime(day.Sunrise());
        json["sunset"] = boardTime(day.Sunset());
        json["place"] = subject.name;
        json["date"] = sun::FormatDate(subject.date);
        json["moon"] = {{"illumination", std::round(day.MoonIlluminatedFraction() * 100) / 100},
                        {"waxing", day.MoonIsWaxing()},
                        {"transit", sun::MinuteText(moonMinute)},
                        {"fullmoon_transit", sun::MinuteText(fullMoonMinute)}};
        json["uploaded"] = asked.upload;
        out << JsonText(json, 2) << "\n";
    } else {
        PrintSchedule(program.rows, session ? session->Protocol().config : DeviceConfig{}, out);
        err << "max_error " << maxError << " points; sunrise " << boardTime(day.Sunrise()).dump() << ", sunset "
            << boardTime(day.Sunset()).dump() << " on the board's clock"
            << (asked.upload ? "; uploaded and read back, moon transit " + sun::MinuteText(moonMinute) : "") << "\n";
    }
    return std::nullopt;
}

}  // namespace quelvan::cli
