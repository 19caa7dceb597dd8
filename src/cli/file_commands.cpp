#include "cli/file_commands.h"

#include <CLI/CLI.hpp>

#include "cli/flash_command.h"
#include "files/file_access.h"
#include "files/ini_file.h"
#include "schedule/schedule_table.h"
#include "schedule/schedule_transfer.h"

namespace quelvan::cli {

namespace {

Failure FileFailure(const files::FileResult& result) {
    return Failure{kExitFileUnusable, "error: " + result.error, {}};
}

}  // namespace

std::optional<Failure> LoadWholeTable(BoardSession& session, ScheduleTable& table) {
    const ScheduleLoadResult load = LoadSchedule(session.Protocol(), table);
    if (load.complete) return std::nullopt;
    Failure failure = session.TransferFailure("reading the schedule", TransferResult{false, load.reads});
    if (failure.exitCode == kExitTransferFailed)
        failure.message = "error: reading the schedule failed: " + std::to_string(load.stored) + " of " +
                          std::to_string(load.reads) + " entries arrived; nothing was done";
    return failure;
}

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

CommandFiles PrepareCommandFiles(const Request& request) {
    CommandFiles files;
    switch (request.command) {
        case Command::ImportConfig:
        case Command::ImportTable: {
            const std::string& path = request.settingsFile;
            if (const files::FileResult read = files::ReadSettingsFile(path, files.importText); !read.ok)
                files.failure = FileFailure(read);
            else if (request.command == Command::ImportConfig && !files::HasConfiguration(files.importText))
                files.failure = FileFailure(files::NoSettingsFound(path, files::kConfigurationSectionsText));
            // Which rows the board has is known once it is connected; a file without any row
            // section is refused now.
            else if (request.command == Command::ImportTable && !files::HasTableRows(files.importText, 256))
                files.failure = FileFailure(files::NoSettingsFound(path, "no row sections 0, 1, ..."));
            break;
        }
        case Command::Export:
            if (const files::FileResult check = files::CheckExportTarget(request.settingsFile); !check.ok)
                files.failure = FileFailure(check);
            break;
        case Command::Graph: {
            files::WriteTarget target;
            if (const int error = files::PrepareWriteTarget(request.graphOutput, target)) {
                files.failure = Failure{
                    kExitFileUnusable,
                    "error: cannot write the picture " + request.graphOutput + ": " + files::FileErrorText(error),
                    {}};
            }
            break;
        }
        case Command::Flash:
            files.failure = LoadFirmware(request.firmwareFile, files.firmware);
            break;
        default:
            break;
    }
    return files;
}

std::optional<Failure> RunFileCommand(BoardSession& session, const Request& request, const CommandFiles& files,
                                      nlohmann::json& sent, std::ostream& err) {
    BoardProtocol& board = session.Protocol();
    sent["file"] = request.settingsFile;
    if (request.command == Command::ImportConfig) {
        // The whole record goes to the board, the file's mode and step width included.
        files::ReadConfiguration(files.importText, board.config);
        session.AnnounceImport();
        return session.WriteDeviceConfig();
    }

    ScheduleTable table;
    if (auto failure = LoadWholeTable(session, table)) return failure;
    if (request.command == Command::ImportTable) {
        if (!files::HasTableRows(files.importText, table.Size()))
            return FileFailure(files::NoSettingsFound(request.settingsFile, files::RowSectionsText(table.Size())));
        files::ReadTable(files.importText, table.Rows());
        session.AnnounceImport();
    }
    table.SortByTime();
    sent["entries"] = table.Size();
    if (request.command == Command::Export) {
        const files::FileResult written =
            files::ExportSettingsAndTable(request.settingsFile, board.config, table.Entries());
        if (!written.ok) return FileFailure(written);
        if (!written.removedRows.empty()) {
            sent["removed_rows"] = written.removedRows;
            const bool one = written.removedRows.size() == 1;
            err << "note: " << (one ? "row " : "rows ") << files::RowNumbersText(written.removedRows, "to", "and")
                << " of an earlier, longer table " << (one ? "was" : "were") << " taken out of " << request.settingsFile
                << "\n";
        }
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
