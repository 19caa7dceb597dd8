#include "cli/schedule_commands.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <iomanip>

#include "cli/command_values.h"
#include "cli/json_text.h"
#include "device/channel_names.h"
#include "files/file_access.h"
#include "schedule/board_json.h"
#include "schedule/graph_request.h"
#include "schedule/schedule_table.h"
#include "schedule/schedule_transfer.h"
#include "schedule/time_text.h"

extern char** environ;

namespace quelvan::cli {

namespace {

// Display width of a UTF-8 string: the bytes that start a character.
std::size_t Columns(const std::string& text) {
    std::size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::string PadLeft(const std::string& text, std::size_t width) {
    const std::size_t columns = Columns(text);
    return columns >= width ? text : std::string(width - columns, ' ') + text;
}

std::string ReadFailure(const ScheduleLoadResult& load) {
    return "error: reading the schedule failed: " + std::to_string(load.stored) + " of " + std::to_string(load.reads) +
           " entries arrived" +
           (load.dropped > 0 ? " (" + std::to_string(load.dropped) + " with an index past the table's end)" : "");
}

std::string RendererPath() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return kGraphRendererName;
    return (self.parent_path() / kGraphRendererName).string();
}

// The largest picture the renderer may hand back; an 8192 x 8192 PNG stays far below.
constexpr std::size_t kMaxPictureBytes = 512u << 20;

// Runs the renderer with `input` on its standard input and collects the PNG from its
// standard output; its messages go to our standard error. Returns what went wrong, or nullopt.
std::optional<std::string> RunRenderer(const std::string& path, const std::string& input, std::string& picture) {
    if (access(path.c_str(), X_OK) != 0) return "the renderer " + path + " is missing (it is built with the window)";
    int toRenderer[2], fromRenderer[2];
    if (pipe2(toRenderer, O_CLOEXEC) != 0) return std::string("cannot start the renderer: ") + std::strerror(errno);
    if (pipe2(fromRenderer, O_CLOEXEC) != 0) {
        close(toRenderer[0]);
        close(toRenderer[1]);
        return std::string("cannot start the renderer: ") + std::strerror(errno);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toRenderer[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromRenderer[1], STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toRenderer[0]);
    close(fromRenderer[1]);
    if (spawned != 0) {
        close(toRenderer[1]);
        close(fromRenderer[0]);
        return std::string("cannot start the renderer: ") + std::strerror(spawned);
    }
    // A renderer that ends early must not take quelvanctl down with SIGPIPE.
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    // The renderer reads its whole request before it writes, so one after the other is enough.
    std::size_t written = 0;
    while (written < input.size()) {
        const ssize_t n = write(toRenderer[1], input.data() + written, input.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    close(toRenderer[1]);
    const timespec noWait{0, 0};
    while (sigtimedwait(&pipeSignal, nullptr, &noWait) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    picture.clear();
    bool tooLarge = false;
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(fromRenderer[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (picture.size() + static_cast<std::size_t>(n) > kMaxPictureBytes) {
            tooLarge = true;
            break;
        }
        picture.append(chunk, static_cast<std::size_t>(n));
    }
    close(fromRenderer[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!tooLarge && WIFEXITED(status) && WEXITSTATUS(status) == 0 && !picture.empty()) return std::nullopt;
    return std::string("the renderer could not draw the picture");
}

}  // namespace

ScheduleGrammar::ScheduleGrammar(CLI::App& app) {
    app.add_subcommand("schedule", "Show the day program: time and twelve percentages per entry");
    auto* graph = app.add_subcommand("graph", "Draw the day program into a PNG file, as the window's page \"Grafik\"");
    graph->add_option("--output", output_, "The PNG file to write")->type_name("FILE")->required();
    graph->add_option("--size", size_, "Picture size in pixels (default 1200x600)")->type_name("WxH");
    graph->add_option("--channel", channel_, "The highlighted channel, A..L (default A)")->type_name("LETTER");
}

bool ScheduleGrammar::Handles(const std::string& command) const {
    return command == "schedule" || command == "graph";
}

std::optional<std::string> ScheduleGrammar::Fill(const std::string& command, Request& request) const {
    if (command == "schedule") {
        request.command = Command::Schedule;
        return std::nullopt;
    }
    request.command = Command::Graph;
    request.graphOutput = output_;
    if (!size_.empty()) {
        const auto size = ParseSize(size_);
        if (!size || size->first < kMinGraphWidth || size->second < kMinGraphHeight ||
            size->first > GraphRequest::kMaxSide || size->second > GraphRequest::kMaxSide)
            return "'" + size_ + "' is not a size WxH between " + std::to_string(kMinGraphWidth) + "x" +
                   std::to_string(kMinGraphHeight) + " and " + std::to_string(GraphRequest::kMaxSide) + "x" +
                   std::to_string(GraphRequest::kMaxSide);
        request.graphWidth = size->first;
        request.graphHeight = size->second;
    }
    const auto channel = ParseChannel(channel_);
    if (!channel || *channel == kAllChannels) return "unknown channel '" + channel_ + "' (A..L)";
    request.graphChannel = *channel;
    return std::nullopt;
}

std::optional<std::pair<int, int>> ParseSize(std::string_view text) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos) return std::nullopt;
    auto number = [](std::string_view part) -> std::optional<int> {
        if (part.empty() || part.size() > 5) return std::nullopt;
        int value = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (error != std::errc() || end != part.data() + part.size()) return std::nullopt;
        return value;
    };
    const auto width = number(text.substr(0, x));
    const auto height = number(text.substr(x + 1));
    if (!width || !height) return std::nullopt;
    return std::make_pair(*width, *height);
}

void PrintSchedule(const std::vector<ScheduleEntry>& table, const DeviceConfig& config, std::ostream& out) {
    std::array<std::string, kChannelCount> names;
    std::array<std::size_t, kChannelCount> widths{};
    for (int c = 0; c < kChannelCount; ++c) {
        const auto n = static_cast<std::size_t>(c);
        names[n] = ChannelDisplayName(c, config.ColorName[n]);
        widths[n] = std::max<std::size_t>(3, Columns(names[n]));
    }
    out << "Pos.  Zeit  ";
    for (std::size_t c = 0; c < names.size(); ++c) out << "  " << PadLeft(names[c], widths[c]);
    out << "\n";
    for (std::size_t i = 0; i < table.size(); ++i) {
        const ScheduleEntry& e = table[i];
        const std::string time = FormatTimeOfDay(e.Hour, e.Minute);
        out << PadLeft(std::to_string(i), 4) << "  " << time << std::string(time.size() < 6 ? 6 - time.size() : 0, ' ');
        for (std::size_t c = 0; c < e.Color.size(); ++c) out << "  " << PadLeft(std::to_string(e.Color[c]), widths[c]);
        out << "\n";
    }
}

std::optional<Failure> DrawGraphPicture(const GraphRequest& graph, const std::string& output) {
    std::string picture;
    if (const auto problem = RunRenderer(RendererPath(), EncodeGraphRequest(graph), picture))
        return Failure{kExitPictureFailed, "error: " + *problem, {}};
    // Written as the export writes: a full disk leaves the old picture, and the name is
    // the one given, whatever its encoding.
    files::WriteTarget target;
    int error = files::PrepareWriteTarget(output, target);
    if (error == 0) error = files::WriteFileContents(target, picture);
    if (error != 0)
        return Failure{
            kExitFileUnusable, "error: cannot write the picture " + output + ": " + files::FileErrorText(error), {}};
    return std::nullopt;
}

std::optional<Failure> RunScheduleCommand(BoardSession& session, const Request& request, std::ostream& out) {
    BoardProtocol& board = session.Protocol();
    ScheduleTable table;
    const ScheduleLoadResult load = LoadSchedule(board, table);
    if (!load.complete) return Failure{kExitTransferFailed, ReadFailure(load), {}};

    if (request.command == Command::Schedule) {
        if (request.json)
            out << JsonText(ScheduleJson(table.Entries()), 2) << "\n";
        else
            PrintSchedule(table.Entries(), board.config, out);
        return std::nullopt;
    }

    GraphRequest graph;
    graph.table = table.Entries();
    graph.clockHour = board.live.ClockHour;
    graph.clockMinute = board.live.ClockMinute;
    graph.colorNames = board.config.ColorName;
    graph.channel = request.graphChannel;
    graph.width = request.graphWidth;
    graph.height = request.graphHeight;
    if (auto failure = DrawGraphPicture(graph, request.graphOutput)) return failure;
    if (request.json) {
        out << JsonText(nlohmann::json{{"ok", true},
                                       {"output", request.graphOutput},
                                       {"width", graph.width},
                                       {"height", graph.height},
                                       {"channel", std::string(1, ChannelLetter(graph.channel))},
                                       {"entries", graph.table.size()}})
            << "\n";
    }
    return std::nullopt;
}

}  // namespace quelvan::cli
