#include "cli/file_commands.h"

#include <CLI/CLI.hpp>

#include "files/ini_file.h"
#include "schedule/schedule_table.h"
#include "schedule/schedule_transfer.h"

namespace quelvan::cli {

namespace {

Failure FileFailure(const std::string& what, const std::string& path, const files::FileResult& result) {
    return Failure{kExitTransferFailed, "error: cannot " + what + " " + path + ": " + result.reason, {}};
}

// The whole table as the board holds it; only a complete load may be exported or written back.
std::optional<Failure> LoadWholeTable(BoardSession& session, ScheduleTable& table) {
    const ScheduleLoadResult load = LoadSchedule(session.Protocol(), table);
    if (load.complete) return std::nullopt;
    Failure failure = session.TransferFailure("reading the schedule", TransferResult{false, load.reads});
    if (failure.exitCode == kExitTransferFailed)
        failure.message = "error: reading the schedule failed: " + std::to_string(load.stored) + " of " +
                          std::to_string(load.reads) + " entries arrived; nothing was done";
    return failure;
}

}  // namespace

FileGrammar::FileGrammar(CLI::App& app) {
    auto* exportCommand =
        app.add_subcommand("export", "Write the board's configuration and day program into an INI file");
    exportCommand->add_option("FILE", exportFile_, "The settings file (other contents of it are kept)")->required();
    import_ = app.add_subcommand("import", "Load the configuration or the day program from an INI file");
    import_->require_subcommand(1);
    importConfig_ = import_->add_subcommand("config", "Load the configuration and write it to the board");
    importConfig_->add_option("FILE", configFile_, "The settings file")->required();
    auto* table = import_->add_subcommand("table", "Load the board's rows of the day program and upload them sorted");
    table->add_option("FILE", tableFile_, "The settings file")->required();
}

bool FileGrammar::Handles(const std::string& command) const {
    return command == "export" || command == "import";
}

void FileGrammar::Fill(const std::string& command, Request& request) const {
    if (command == "export") {
        request.command = Command::Export;
        request.settingsFile = exportFile_;
    } else if (importConfig_->parsed()) {
        request.command = Command::ImportConfig;
        request.settingsFile = configFile_;
    } else {
        request.command = Command::ImportTable;
        request.settingsFile = tableFile_;
    }
}

FileText ReadImportFile(const Request& request) {
    FileText file;
    if (request.command != Command::ImportConfig && request.command != Command::ImportTable) return file;
    const files::FileResult read = files::ReadSettingsFile(request.settingsFile, file.text);
    if (!read.ok) file.failure = FileFailure("read", request.settingsFile, read);
    return file;
}

std::optional<Failure> RunFileCommand(BoardSession& session, const Request& request, const std::string& importText,
                                      nlohmann::json& sent) {
    BoardProtocol& board = session.Protocol();
    sent["file"] = request.settingsFile;
    if (request.command == Command::ImportConfig) {
        // The whole record goes to the board, the file's mode and step width included.
        files::ReadConfiguration(importText, board.config);
        return session.WriteDeviceConfig();
    }

    ScheduleTable table;
    if (auto failure = LoadWholeTable(session, table)) return failure;
    if (request.command == Command::ImportTable) files::ReadTable(importText, table.Rows());
    table.SortByTime();
    sent["entries"] = table.Size();
    if (request.command == Command::Export) {
        const files::FileResult written =
            files::ExportSettingsAndTable(request.settingsFile, board.config, table.Entries());
        if (!written.ok) return FileFailure("export to", request.settingsFile, written);
        return std::nullopt;
    }
    const ScheduleWriteResult write = WriteSchedule(board, table);
    if (write.failed == 0) return std::nullopt;
    Failure failure = session.TransferFailure("writing the schedule", write.total);
    if (failure.exitCode == kExitTransferFailed)
        failure.message = "error: writing the schedule failed: " + std::to_string(write.failed) + " of " +
                          std::to_string(write.written) + " rows did not arrive after " +
                          std::to_string(BoardProtocol::kWriteAttempts) + " attempts each";
    return failure;
}

}  // namespace quelvan::cli
