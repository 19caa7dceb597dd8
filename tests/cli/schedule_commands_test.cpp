// quelvanctl schedule and graph: the binary against a simulated board in a state file, and
// in-process where a failure must be injected.

#include "cli/schedule_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "board_fixture.h"
#include "cli/quelvanctl.h"
#include "files_test_support.h"
#include "run_quelvanctl.h"

namespace quelvan::testing {
namespace {

using Summary = std::vector<std::string>;
const Summary kConnect = {"get 1", "get 2", "get 4", "get 5", "get 6"};

ScheduleEntry At(int hour, int minute, std::array<std::uint8_t, kChannelCount> percent) {
    ScheduleEntry e;
    e.Hour = static_cast<std::int8_t>(hour);
    e.Minute = static_cast<std::int8_t>(minute);
    e.Color = percent;
    return e;
}

// Unsorted, with a minute byte of 200 and a percentage byte of 255; the board starts its
// rotation at the third row.
const std::vector<ScheduleEntry> kRows = {
    At(12, 0, {100, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}),
    At(6, 30, {30}),
    At(7, 200, {255}),
    At(24, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 99}),
};

Summary ScheduleReads(std::size_t rows) {
    Summary s = kConnect;
    s.insert(s.end(), rows, "get 3");
    return s;
}

// Width and height from a PNG file's header.
std::pair<int, int> PngSize(const std::string& bytes) {
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return {0, 0};
    auto be32 = [&](std::size_t at) {
        int v = 0;
        for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
        return v;
    };
    return {be32(16), be32(20)};
}

class ScheduleCommands : public ::testing::Test {
protected:
    void SetUp() override {
        WriteBoardState(state_, [](sim::SimulatedHidBackend& b) {
            b.Board().Schedule() = kRows;
            b.Board().SetNextScheduleIndex(2);
        });
    }

    ProcessResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--simulate=" + state_, "--trace", trace_});
        ProcessResult r = RunQuelvanctlBinary(args);
        lines_ = ParseTrace(ReadLines(trace_));
        return r;
    }
    bool NothingWritten() const {
        for (const TraceLine& l : lines_)
            if (l.isSet) return false;
        return true;
    }

    ScratchDir dir_;
    const std::string state_ = dir_.File("board.state");
    const std::string trace_ = dir_.File("trace.txt");
    std::vector<TraceLine> lines_;
};

TEST_F(ScheduleCommands, ScheduleListsTheTableInBoardOrder) {
    ProcessResult r = Run({"schedule"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(TraceSummary(lines_), ScheduleReads(4));
    std::istringstream text(r.out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(lines[0],
              "Pos.  Zeit    Weiß  Kaltweiß  Warmweiß  Royalblau  Blau  Rot  Grün   UV  Mondlicht  Gelb  Pink  "
              "Kanal L");
    // Each channel column as wide as its name (at least three), right-aligned.
    EXPECT_EQ(lines[1], std::string("   0  12:00 ") + "   100" + "         1" + "         2" + "          3" +
                            "     4" + "    5" + "     6" + "    7" + "          8" + "     9" + "    10" +
                            "       11");
    EXPECT_EQ(lines[3].substr(0, 18), "   2  07:-56   255");
    EXPECT_EQ(lines[4].substr(0, 11), "   3  24:00");

    r = Run({"schedule", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto json = nlohmann::json::parse(r.out);
    ASSERT_EQ(json["entries"].size(), 4u);
    const auto& third = json["entries"][2];
    EXPECT_EQ(third["index"], 2);
    EXPECT_EQ(third["hour"], 7);
    EXPECT_EQ(third["minute"], -56);
    EXPECT_EQ(third["time"], "07:-56");
    EXPECT_EQ(third["channels"][0], 255);
    EXPECT_EQ(json["entries"][1]["time"], "06:30");
    EXPECT_EQ(json["entries"][0]["channels"], nlohmann::json({100, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    EXPECT_TRUE(NothingWritten());
}

TEST_F(ScheduleCommands, ScheduleWithIndicesPastTheEndFails) {
    WriteBoardState(state_, [](sim::SimulatedHidBackend& b) {
        b.Board().Schedule() = kRows;
        b.Board().SetScheduleIndexOverride(9);
    });
    ProcessResult r = Run({"schedule"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("0 of 4 entries arrived"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
    r = Run({"--json", "graph", "--output", dir_.File("never.png")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(nlohmann::json::parse(r.out)["ok"], false);
    EXPECT_TRUE(ReadFile(dir_.File("never.png")).empty());
    EXPECT_TRUE(NothingWritten());
}

TEST_F(ScheduleCommands, GraphWritesAPngOfTheChosenSize) {
    const std::string png = dir_.File("day.png");
    ProcessResult r = Run({"graph", "--output", png});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(PngSize(ReadFile(png)), std::make_pair(1200, 600));
    EXPECT_EQ(TraceSummary(lines_), ScheduleReads(4));

    r = Run({"--json", "graph", "--output", png, "--size", "640x480", "--channel", "l"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(PngSize(ReadFile(png)), std::make_pair(640, 480));
    const auto json = nlohmann::json::parse(r.out);
    EXPECT_EQ(json["ok"], true);
    EXPECT_EQ(json["channel"], "L");
    EXPECT_EQ(json["width"], 640);
    EXPECT_EQ(json["entries"], 4);
    EXPECT_TRUE(NothingWritten());
}

TEST_F(ScheduleCommands, GraphUsageErrorsSendNothing) {
    const std::string png = dir_.File("x.png");
    const std::vector<std::vector<std::string>> cases = {
        {"graph"},
        {"graph", "--output", png, "--size", "1200"},
        {"graph", "--output", png, "--size", "40x600"},
        {"graph", "--output", png, "--size", "1200x41"},
        {"graph", "--output", png, "--size", "9000x600"},
        {"graph", "--output", png, "--size", "-5x600"},
        {"graph", "--output", png, "--channel", "all"},
        {"graph", "--output", png, "--channel", "M"},
    };
    for (const auto& args : cases) {
        const ProcessResult r = Run(args);
        EXPECT_EQ(r.exitCode, 2) << args.back();
        EXPECT_TRUE(lines_.empty()) << args.back();
    }
    EXPECT_TRUE(ReadFile(png).empty());
}

// The picture is written as the export writes its file: only into a regular file or under
// a new name, byte for byte the name given, through a temporary file renamed over the old
// picture. A target that cannot be written is found before the board is asked.
TEST_F(ScheduleCommands, GraphOutputIsWrittenWholeOrNotAtAll) {
    const std::string old = dir_.File("old.png");
    files::testing::WriteText(old, "the old picture");
    struct Case {
        const char* what;
        std::string output;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {"a missing folder", dir_.File("no/such/folder/x.png"), 5, "cannot write the picture"},
        {"a device", "/dev/null", 5, "not a regular file"},
        {"a folder", dir_.File(""), 5, "is a folder"},
        {"a name that is not UTF-8", dir_.File("x\xe9.png"), 0, ""},
        {"over an old picture", old, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ProcessResult r = Run({"--json", "graph", "--output", c.output});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(nlohmann::json::parse(r.out)["ok"], c.exitCode == 0) << r.out;
        if (c.exitCode == 0) {
            EXPECT_EQ(PngSize(ReadFile(c.output)), std::make_pair(1200, 600));
        } else {
            EXPECT_TRUE(lines_.empty()) << "nothing asked of the board";
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.File("x\xef\xbf\xbd.png")));
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(dir_.File(""))))
        EXPECT_NE(entry.path().filename().string().front(), '.') << "a temporary file is left";
}

TEST(ScheduleCommandsInProcess, FailedReadAndMissingRendererAreReported) {
    ScratchDir dir;
    ManualClock clock(LocalDateTime{2024, 5, 17, 13, 45, 30, 0});
    sim::SimulatedHidBackend backend({}, &clock);
    backend.Board().SetFrozen(true);
    auto run = [&](std::vector<std::string> args, std::string& out, std::string& err) {
        args.insert(args.begin(), "quelvanctl");
        std::vector<const char*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        std::ostringstream o, e;
        const int code = cli::RunQuelvanctl(static_cast<int>(argv.size()), argv.data(), backend, clock, o, e);
        out = o.str();
        err = e.str();
        return code;
    };
    std::string out, err;
    backend.FailNext(false, report::kSchedule, 1);
    EXPECT_EQ(run({"schedule"}, out, err), 1);
    EXPECT_NE(err.find("9 of 10 entries arrived"), std::string::npos) << err;

    // This test program has no renderer beside it.
    EXPECT_EQ(run({"graph", "--output", dir.File("x.png")}, out, err), 4);
    EXPECT_NE(err.find(cli::kGraphRendererName), std::string::npos) << err;
    EXPECT_NE(err.find("missing"), std::string::npos) << err;
}

TEST(ScheduleCommandsParse, SizesAreWidthByHeight) {
    EXPECT_EQ(cli::ParseSize("1200x600"), std::make_pair(1200, 600));
    EXPECT_EQ(cli::ParseSize("64X48"), std::make_pair(64, 48));
    for (const char* bad : {"", "x", "1200", "1200x", "x600", "12.5x600", "1200x600x2", "+5x5", "123456x5"})
        EXPECT_FALSE(cli::ParseSize(bad)) << bad;
}

}  // namespace
}  // namespace quelvan::testing
