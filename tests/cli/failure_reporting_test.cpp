// quelvanctl never claims what it did not finish: a transfer that finally fails, a trace
// that cannot be written, a state file that cannot be used and a wrong argument each end
// the command with a non-zero exit and a message (one JSON object under --json), and a
// failed read is never followed by a write.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "board_fixture.h"
#include "cli/flash_command.h"
#include "cli/quelvanctl.h"
#include "device/board_protocol.h"
#include "device/channel_values.h"
#include "files/firmware_flasher.h"
#include "files_test_support.h"
#include "run_quelvanctl.h"

namespace quelvan::testing {
namespace {

struct Outcome {
    int exitCode = -1;
    std::string out, err;
    std::vector<TraceLine> trace;
};

class FailureReporting : public ::testing::Test {
protected:
    // A fresh board on the state file (in mode "Manuell"), with an optional fault plan.
    void PrepareBoard(const nlohmann::json& faults = nullptr) {
        WriteBoardState(state_, [](sim::SimulatedHidBackend& b) { b.Board().Config().Mode = 0; });
        if (faults.is_null()) return;
        nlohmann::json doc = nlohmann::json::parse(ReadFile(state_));
        doc["faults"] = faults;
        std::ofstream(state_, std::ios::trunc) << doc.dump();
    }

    // quelvanctl in this process, as main() runs it.
    Outcome Run(std::vector<std::string> args) {
        args.insert(args.begin(), "quelvanctl");
        std::vector<const char*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        std::ostringstream out, err;
        Outcome o;
        o.exitCode = cli::RunQuelvanctl(static_cast<int>(argv.size()), argv.data(), clock_, out, err);
        o.out = out.str();
        o.err = err.str();
        o.trace = ParseTrace(ReadLines(trace_));
        return o;
    }
    Outcome RunOnBoard(const std::vector<std::string>& command) {
        std::vector<std::string> args = {"--json", "--simulate=" + state_, "--trace", trace_};
        args.insert(args.end(), command.begin(), command.end());
        return Run(args);
    }

    ScratchDir dir_;
    const std::string state_ = dir_.File("board.state");
    const std::string trace_ = dir_.File("trace.txt");
    const std::string settings_ = dir_.File("settings.ini");
    ManualClock clock_{LocalDateTime{2024, 5, 17, 13, 45, 30, 0}};
};

// Attempts one operation may take: the live-state read and every write three, the other
// reads one. Consecutive attempts of one transfer after a failure are its retries.
int MaxAttempts(const TraceLine& line) {
    return line.isSet || line.reportId == 1 ? 3 : 1;
}

// For each transfer of the trace: did its last attempt fail?
std::vector<bool> FinalFailures(const std::vector<TraceLine>& trace) {
    std::vector<bool> finals;
    for (std::size_t i = 0; i < trace.size();) {
        std::size_t j = i;
        while (j + 1 < trace.size() && !trace[j].ok && static_cast<int>(j + 1 - i) < MaxAttempts(trace[i]) &&
               trace[j + 1].isSet == trace[i].isSet && trace[j + 1].reportId == trace[i].reportId &&
               trace[j + 1].length == trace[i].length)
            ++j;
        finals.push_back(!trace[j].ok);
        i = j + 1;
    }
    return finals;
}

TEST_F(FailureReporting, EveryCommandUnderAFaultAtEveryAttempt) {
    const std::vector<std::vector<std::string>> commands = {
        {"status"},
        {"set", "C", "50"},
        {"set", "all", "on"},
        {"set", "all", "off"},
        {"mode", "auto"},
        {"clock", "07:30"},
        {"clock", "sync"},
        {"save-eeprom"},
        {"config"},
        {"config", "set", "FanLow", "80", "RC5.Step", "7"},
        {"weather"},
        {"weather", "set", "--clouds-per-day", "100", "--storm-minutes", "45"},
        {"schedule"},
        {"export", settings_},
        {"import", "config", settings_},
        {"import", "table", settings_},
    };
    int runs = 0;
    for (const auto& command : commands) {
        PrepareBoard();
        std::ofstream(settings_) << "[Config]\nFanLow=10\n[0]\nHour=3\n";
        const Outcome clean = RunOnBoard(command);
        ASSERT_EQ(clean.exitCode, 0) << command[0] << ": " << clean.err;
        const int attempts = static_cast<int>(clean.trace.size());
        ASSERT_GE(attempts, 5) << command[0] << ": at least the connection's reads";
        runs += 3 * attempts;

        for (int k = 1; k <= attempts; ++k) {
            const std::map<std::string, nlohmann::json> plans = {
                {"one failed attempt", {{"failAttempts", {k}}}},
                {"a transfer failing in full", {{"failAttempts", {k, k + 1, k + 2}}}},
                {"unplugged", {{"unplugBeforeAttempt", k}}},
            };
            for (const auto& [planName, plan] : plans) {
                SCOPED_TRACE(command[0] + (command.size() > 1 ? " " + command[1] : std::string()) + ", attempt " +
                             std::to_string(k) + ", " + planName);
                PrepareBoard(plan);
                const Outcome o = RunOnBoard(command);
                const std::vector<bool> finals = FinalFailures(o.trace);
                const bool anyFailed = std::find(finals.begin(), finals.end(), true) != finals.end();
                if (anyFailed) {
                    EXPECT_NE(o.exitCode, 0);
                    EXPECT_NE(o.err.find("error: "), std::string::npos) << o.err;
                    const auto json = nlohmann::json::parse(o.out);
                    EXPECT_EQ(json["ok"], false);
                } else {
                    EXPECT_EQ(o.exitCode, 0) << o.err;
                }
                // After a read that failed in full, nothing is written.
                bool readFailed = false;
                std::size_t line = 0;
                for (std::size_t t = 0; t < finals.size(); ++t) {
                    const TraceLine& first = o.trace[line];
                    EXPECT_FALSE(readFailed && first.isSet) << "a write after a failed read";
                    if (!first.isSet && finals[t]) readFailed = true;
                    // Skip to the next transfer: its attempts are consecutive.
                    std::size_t n = 1;
                    while (line + n < o.trace.size() && !o.trace[line + n - 1].ok &&
                           static_cast<int>(n) < MaxAttempts(first) && o.trace[line + n].isSet == first.isSet &&
                           o.trace[line + n].reportId == first.reportId)
                        ++n;
                    line += n;
                }
            }
        }
    }
    EXPECT_GE(runs, 3 * 16 * 5);
}

// quelvanctl flash with each of its transfers failing in full, and with the board unplugged
// right before each: a non-zero exit with a message, no claim that did not come true, no
// waiting on a bootloader that has left, and once the board is back the update runs again.
// In process, so that the waits after failed blocks are only counted.
TEST(FlashFailureReporting, EveryTransferFailingInFullOrUnplugged) {
    ScratchDir dir;
    const std::string firmware = dir.File("small.vbf328p");
    const std::vector<std::uint8_t> file = files::testing::FirmwareBytes(0, 1023);
    files::testing::WriteBytes(firmware, file);
    ManualClock clock{LocalDateTime{2024, 5, 17, 13, 45, 30, 0}};

    struct Outcome {
        int exitCode = -1;
        std::string err;
        nlohmann::json json;
        std::vector<sim::SimTransfer> transfers;
        std::size_t waits = 0;
    };
    auto flash = [&](sim::SimulatedHidBackend& backend) {
        cli::Request request;
        request.command = cli::Command::Flash;
        request.firmwareFile = firmware;
        request.assumeYes = true;
        request.json = true;
        std::vector<std::chrono::milliseconds> waits;
        cli::FlashConsole console;
        console.sleep = [&](std::chrono::milliseconds time) { waits.push_back(time); };
        console.arrivalTimeout = std::chrono::milliseconds(300);
        std::ostringstream out, err;
        backend.ClearTransfers();
        Outcome o;
        o.exitCode = cli::RunFlashCommand(request, backend, clock, nullptr, out, err, console);
        o.err = err.str();
        o.json = nlohmann::json::parse(out.str());
        o.transfers = backend.Transfers();
        o.waits = waits.size();
        return o;
    };
    auto freshBoard = [&] {
        auto backend = std::make_unique<sim::SimulatedHidBackend>(sim::BoardSettings{}, &clock);
        backend->Board().SetFrozen(true);
        return backend;
    };
    auto contains = [](const std::string& text, const char* part) { return text.find(part) != std::string::npos; };

    std::vector<sim::SimTransfer> clean;
    {
        auto backend = freshBoard();
        const Outcome o = flash(*backend);
        ASSERT_EQ(o.exitCode, 0) << o.err;
        clean = o.transfers;
    }
    // Into the bootloader, its information, eight blocks, back to the application.
    ASSERT_EQ(clean.size(), 11u);

    int runs = 0;
    for (std::size_t k = 1; k <= clean.size(); ++k) {
        const sim::SimTransfer& target = clean[k - 1];
        const int attempts = target.device == "board"               ? BoardProtocol::kWriteAttempts
                             : target.isSet && target.bytes[0] == 2 ? files::kBlockAttempts
                                                                    : 1;
        for (const bool unplug : {false, true}) {
            SCOPED_TRACE("transfer " + std::to_string(k) + (unplug ? ", unplugged before it" : ", failing in full"));
            auto backend = freshBoard();
            if (unplug) {
                backend->PlanFaults({}, static_cast<std::int64_t>(k));
            } else {
                std::vector<std::int64_t> failing;
                for (int a = 0; a < attempts; ++a) failing.push_back(static_cast<std::int64_t>(k) + a);
                backend->PlanFaults(failing);
            }
            const Outcome o = flash(*backend);
            EXPECT_NE(o.exitCode, 0);
            EXPECT_TRUE(contains(o.err, "error: ")) << o.err;
            EXPECT_EQ(o.json["ok"], false);
            EXPECT_FALSE(o.json.value("error", std::string()).empty()) << o.json.dump();

            // What the command says happened, happened.
            const int written = backend->Board().BlocksWritten();
            const sim::BoardMode mode = backend->Board().Mode();
            struct Claim {
                const char* text;
                bool holds;
            };
            const Claim claims[] = {
                {"Fertig!", written == 8},
                {"nothing was flashed", written == 0},
                {"the board is back", mode == sim::BoardMode::Application},
                {"waits in its bootloader", mode == sim::BoardMode::Bootloader},
            };
            for (const Claim& claim : claims) EXPECT_TRUE(!contains(o.err, claim.text) || claim.holds) << o.err;
            if (o.json.contains("blocks") && o.json["blocks"] > 0) {
                EXPECT_EQ(o.json["blocks"].get<int>() - o.json["failed_blocks"].get<int>(), written) << o.json.dump();
            }
            if (unplug) {
                EXPECT_EQ(o.waits, 0u) << "no retries for a bootloader that has left";
            }

            // The board is plugged in again (it may come back in its bootloader): the update
            // runs through.
            backend->PlanFaults({});
            backend->Plug();
            const Outcome again = flash(*backend);
            EXPECT_EQ(again.exitCode, 0) << again.err;
            EXPECT_TRUE(contains(again.err, "Fertig!")) << again.err;
            EXPECT_EQ(backend->Board().Mode(), sim::BoardMode::Application);
            const std::vector<std::uint8_t>& bytes = backend->Board().Flash();
            EXPECT_TRUE(std::equal(file.begin() + 8, file.begin() + 8 + 1024, bytes.begin()));
            ++runs;
        }
    }
    EXPECT_EQ(runs, 22);
}

TEST_F(FailureReporting, TraceThatCannotBeWrittenIsAnError) {
    struct Case {
        const char* name;
        std::vector<std::string> args;  // before the command
        int exitCode;
        const char* message;
        bool stateFileCreated;
    };
    const std::string state = "--simulate=" + state_;
    const Case cases[] = {
        {"full disk",
         {"--trace", "/dev/full", state},
         1,
         "error: cannot write the trace file /dev/full: No space left on device",
         true},
        {"empty name", {"--trace", "", state}, 2, "error: --trace needs a file name", false},
        {"missing folder",
         {"--trace", dir_.File("missing/trace.txt"), state},
         2,
         "error: cannot write the trace file",
         false},
    };
    for (const Case& c : cases) {
        for (bool json : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (json ? " (json)" : ""));
            std::filesystem::remove(state_);
            std::vector<std::string> args = c.args;
            if (json) args.insert(args.begin(), "--json");
            args.insert(args.end(), {"set", "C", "50"});
            const Outcome o = Run(args);
            EXPECT_EQ(o.exitCode, c.exitCode);
            EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
            EXPECT_EQ(std::filesystem::exists(state_), c.stateFileCreated);
            if (json) {
                EXPECT_EQ(nlohmann::json::parse(o.out)["ok"], false);
            } else {
                EXPECT_TRUE(o.out.empty()) << o.out;
            }
        }
    }
}

TEST_F(FailureReporting, EveryFailureUnderJsonPrintsOneObject) {
    PrepareBoard();
    const std::string fifo = dir_.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {{"--bogus", "status"}, 2, "--bogus"},
        {{"--simulate", "set", "X", "5"}, 2, "unknown channel 'X'"},
        {{"--simulate", "clock", "25:00"}, 2, "25:00"},
        {{"--simulate", "--simulate=" + state_, "status"}, 2, "--simulate given more than once"},
        {{"--simulate=/dev/zero", "status"}, 2, "not a regular file"},
        {{"--simulate=" + fifo, "status"}, 2, "not a regular file"},
        {{"--simulate=" + dir_.File(""), "status"}, 2, "is a folder"},
        {{"--simulate=" + dir_.File("no/such/folder.json"), "status"}, 2, "cannot create"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "--json");
        const Outcome o = Run(args);
        SCOPED_TRACE(args[1] + " " + args[2]);
        EXPECT_EQ(o.exitCode, c.exitCode);
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
        std::istringstream lines(o.out);
        std::string first, second;
        std::getline(lines, first);
        EXPECT_FALSE(std::getline(lines, second)) << "more than one line: " << o.out;
        const auto json = nlohmann::json::parse(first);
        EXPECT_EQ(json["ok"], false);
        EXPECT_NE(json["error"].get<std::string>().find(c.message), std::string::npos) << first;
    }
}

// Two commands on one shared board at once: each runs as one piece, nothing is lost.
TEST_F(FailureReporting, ConcurrentCommandsOnASharedBoardLoseNothing) {
    PrepareBoard();
    for (int round = 0; round < 15; ++round) {
        const std::string c = std::to_string(10 + round), d = std::to_string(60 + round);
        const std::vector<ProcessResult> results = RunQuelvanctlBinariesTogether(
            {{"--simulate=" + state_, "set", "C", c}, {"--simulate=" + state_, "set", "D", d}});
        for (const ProcessResult& r : results) ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto status =
            nlohmann::json::parse(RunQuelvanctlBinary({"--json", "--simulate=" + state_, "status"}).out);
        bool sawC = false, sawD = false;
        for (const auto& channel : status["channels"]) {
            if (channel["letter"] == "C") sawC = channel["value"] == ChannelValueFromPercent(std::stod(c));
            if (channel["letter"] == "D") sawD = channel["value"] == ChannelValueFromPercent(std::stod(d));
        }
        EXPECT_TRUE(sawC && sawD) << "round " << round << ": " << status.dump();
    }
}

}  // namespace
}  // namespace quelvan::testing
