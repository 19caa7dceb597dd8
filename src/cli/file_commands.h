#pragma once
// quelvanctl's settings-file commands, the window's "Datei" menu from a terminal:
// "export FILE" writes the board's configuration and day program into an INI file (keeping
// what else the file holds), "import config FILE" and "import table FILE" load either half
// back into the board. Same file, same bytes to the board as the window.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/board_session.h"
#include "cli/command_line.h"

namespace CLI {
class App;
}

namespace quelvan {
class ScheduleTable;
}

namespace quelvan::cli {

// The whole table as the board holds it; only a complete load may be exported or written back
// (a failure says how many entries arrived).
std::optional<Failure> LoadWholeTable(BoardSession& session, ScheduleTable& table);

// Adds "export" and "import config|table" to the command line and fills a request from
// them once it is parsed. Lives as long as the parse.
class FileGrammar {
public:
    explicit FileGrammar(CLI::App& app);
    bool Handles(const std::string& command) const;
    void Fill(const std::string& command, Request& request) const;

private:
    CLI::App* import_ = nullptr;
    CLI::App* importConfig_ = nullptr;
    std::string exportFile_, configFile_, tableFile_;
};

// The files a command names, dealt with before the board is taken, so that a file that
// cannot be used costs no transfer and a shared simulated board is never held meanwhile:
// the import file is read (and must hold what the import needs), the firmware file is read
// and checked, an export target or a picture must be a file that may be written.
struct CommandFiles {
    std::string importText;
    std::vector<std::uint8_t> firmware;
    std::optional<Failure> failure;  // exit 5, or what the check found
};
CommandFiles PrepareCommandFiles(const Request& request);

// Runs the command on the connected board; `sent` collects what the JSON answer reports,
// `err` receives notes (row sections an export took out).
std::optional<Failure> RunFileCommand(BoardSession& session, const Request& request, const CommandFiles& files,
                                      nlohmann::json& sent, std::ostream& err);

}  // namespace quelvan::cli
