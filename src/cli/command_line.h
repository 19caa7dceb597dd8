#pragma once
// The command-line grammar of quelvanctl, parsed with CLI11 into a plain request.

#include <optional>
#include <ostream>
#include <string>

#include "cli/settings_request.h"
#include "cli/sun_request.h"

namespace quelvan::cli {

// Exit codes of quelvanctl.
enum ExitCode : int {
    kExitOk = 0,
    kExitTransferFailed = 1,
    kExitUsage = 2,
    kExitNoBoard = 3,
    kExitPictureFailed = 4,
    // A file named on the command line cannot be used: a settings or firmware file that
    // cannot be read or holds nothing usable, a settings file or picture that cannot be
    // written. Nothing is sent to the board for a file that cannot be read.
    kExitFileUnusable = 5,
};

enum class Command {
    List,
    Status,
    Set,
    Mode,
    Clock,
    SaveEEPROM,
    Flash,
    Config,
    ConfigSet,
    ConfigKeys,
    Weather,
    WeatherSet,
    Schedule,
    Graph,
    Export,
    ImportConfig,
    ImportTable,
    ServiceStatus,
    ServiceForget,
    ServiceWebToken,
    SunPlaces,
    SunShow,
    SunProgram,
    ServiceHistory,  // history, history show ID, restore ID
};

struct Request {
    bool simulate = false;
    std::string stateFile;  // with simulate: where the simulated board lives between calls
    bool trace = false;
    std::string traceFile;
    bool json = false;
    std::string device;    // --device: serial number or path of the board to use
    bool direct = false;   // --direct: open the board itself even where the service runs
    bool service = false;  // --service: through the service quelvand, or not at all
    Command command = Command::Status;

    // set
    int channel = 0;  // 0..11, or kAllChannels
    std::optional<bool> on;
    double percent = 0;
    // mode
    int mode = 0;
    // clock
    bool clockSync = false;
    int hour = 0;
    int minute = 0;
    // flash
    std::string firmwareFile;
    bool assumeYes = false;
    // config set, weather set
    SettingsRequest settings;
    // export, import config, import table
    std::string settingsFile;
    // graph
    std::string graphOutput;
    int graphWidth = 1200;
    int graphHeight = 600;
    int graphChannel = 0;
    // service forget
    std::string forgetSerial;
    // sun places|show|program
    SunRequest sun;
    bool forgetForce = false;
    // service history / history show ID / restore ID [--config|--table]
    std::string historyAction = "list";  // list, show, restore
    int historyEntry = 0;
    std::string historyPart = "all";  // all, config, table
};

struct ParseOutcome {
    std::optional<Request> request;  // set when a command is to run
    int exitCode = kExitOk;          // otherwise: what to exit with (help: 0, errors: 2)
};

// Help goes to `out`, usage errors to `err`.
ParseOutcome ParseCommandLine(int argc, const char* const argv[], std::ostream& out, std::ostream& err);

}  // namespace quelvan::cli
