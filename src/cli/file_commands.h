#pragma once
// quelvanctl's settings-file commands, the window's "Datei" menu from a terminal:
// "export FILE" writes the board's configuration and day program into an INI file (keeping
// what else the file holds), "import config FILE" and "import table FILE" load either half
// back into the board. Same file, same bytes to the board as the window.

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>

#include "cli/board_session.h"
#include "cli/command_line.h"

namespace CLI {
class App;
}

namespace quelvan::cli {

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

// Runs the command on the connected board; `sent` collects what the JSON answer reports.
// The file to import is read before the session connects (FileText), so that a file that
// cannot be read costs no transfer.
struct FileText {
    std::string text;
    std::optional<Failure> failure;
};
FileText ReadImportFile(const Request& request);
std::optional<Failure> RunFileCommand(BoardSession& session, const Request& request, const std::string& importText,
                                      nlohmann::json& sent);

}  // namespace quelvan::cli
