#pragma once
// quelvanctl's day-program commands: "schedule" prints the table as the board holds it,
// "graph" draws the picture of the window's page "Grafik" into a PNG file. The drawing
// needs Qt, which quelvanctl does not load: a small renderer program beside it
// (quelvanctl-graph) is handed the table and returns the picture, which quelvanctl writes
// under the name given, byte for byte, through a temporary file renamed over the old one.

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/board_session.h"
#include "cli/command_line.h"
#include "device/records.h"
#include "schedule/graph_request.h"

namespace CLI {
class App;
}

namespace quelvan::cli {

// The name of the renderer program, looked for beside quelvanctl's own executable.
inline constexpr const char* kGraphRendererName = "quelvanctl-graph";

// Adds "schedule" and "graph" with their options to the command line, and fills a request
// from them once it is parsed. Lives as long as the parse.
class ScheduleGrammar {
public:
    explicit ScheduleGrammar(CLI::App& app);
    bool Handles(const std::string& command) const;
    // Nullopt when the options are good, otherwise what is wrong with them.
    std::optional<std::string> Fill(const std::string& command, Request& request) const;

private:
    std::string output_;
    std::string size_;
    std::string channel_ = "A";
};

// "WxH" with each side a whole number; nullopt for anything else.
std::optional<std::pair<int, int>> ParseSize(std::string_view text);

// Draws the picture through the renderer and writes it under `output`.
std::optional<Failure> DrawGraphPicture(const GraphRequest& graph, const std::string& output);

// Loads the table from the connected board and prints it or draws it.
std::optional<Failure> RunScheduleCommand(BoardSession& session, const Request& request, std::ostream& out);

// The table as text (index, time, a column per channel headed by its name); as JSON it is
// ScheduleJson (schedule/board_json.h).
void PrintSchedule(const std::vector<ScheduleEntry>& table, const DeviceConfig& config, std::ostream& out);

}  // namespace quelvan::cli
