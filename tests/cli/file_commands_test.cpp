// quelvanctl export / import config / import table on a simulated board kept in a state file:
// the file written, the transfers (exactly the window's), and the failures.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "board_fixture.h"
#include "cli/quelvanctl.h"
#include "files_test_support.h"
#include "run_quelvanctl.h"

namespace quelvan::testing {
namespace {

using Summary = std::vector<std::string>;

ScheduleEntry Row(int hour, int minute, std::uint8_t a) {
    ScheduleEntry e;
    e.Hour = static_cast<std::int8_t>(hour);
    e.Minute = static_cast<std::int8_t>(minute);
    e.Color[0] = a;
    return e;
}

const std::vector<ScheduleEntry> kUnsorted = {Row(12, 0, 100), Row(6, 30, 40), Row(24, 0, 0), Row(0, 0, 5)};

class FileCommands : public ::testing::Test {
protected:
    void SetUp() override {
        WriteBoardState(state_, [](sim::SimulatedHidBackend& b) { b.Board().Schedule() = kUnsorted; });
    }

    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"quelvanctl", "--json", "--simulate=" + state_, "--trace", trace_});
        std::vector<const char*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        std::ostringstream out, err;
        const int code = cli::RunQuelvanctl(static_cast<int>(argv.size()), argv.data(), clock_, out, err);
        out_ = out.str();
        err_ = err.str();
        trace_lines_ = ParseTrace(ReadLines(trace_));
        return code;
    }
    // The board as the state file holds it now.
    std::unique_ptr<sim::SimulatedHidBackend> Board() const {
        auto board = std::make_unique<sim::SimulatedHidBackend>();
        EXPECT_TRUE(board->LoadState(state_));
        return board;
    }

    ScratchDir dir_;
    const std::string state_ = dir_.File("board.state");
    const std::string trace_ = dir_.File("trace.txt");
    const std::string ini_ = dir_.File("tank.ini");
    ManualClock clock_{LocalDateTime{2024, 5, 17, 13, 45, 30, 0}};
    std::string out_, err_;
    std::vector<TraceLine> trace_lines_;
};

const Summary kConnect = {"get 1", "get 2", "get 4", "get 5", "get 6"};
Summary Then(Summary a, const Summary& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Summary Times(int n, const std::string& line) {
    return Summary(static_cast<std::size_t>(n), line);
}

TEST_F(FileCommands, ExportWritesTheSortedTableAndSendsNothing) {
    files::testing::WriteText(ini_, "[Extra]\r\nKeep=1\r\n[9]\r\nHour=3\r\n");
    ASSERT_EQ(Run({"export", ini_}), 0) << err_;
    EXPECT_EQ(TraceSummary(trace_lines_), Then(kConnect, Times(4, "get 3")));
    const auto json = nlohmann::json::parse(out_);
    EXPECT_EQ(json["ok"], true);
    EXPECT_EQ(json["entries"], 4);
    // Row 9 of an earlier, longer table goes, and the command says so.
    EXPECT_EQ(json["removed_rows"], nlohmann::json::array({9}));
    EXPECT_NE(err_.find("note: row 9 of an earlier, longer table was taken out of " + ini_), std::string::npos) << err_;
    const std::string text = files::testing::ReadText(ini_);
    // Kept: the other section, the line ends.
    EXPECT_NE(text.find("[Extra]\r\nKeep=1"), std::string::npos);
    EXPECT_EQ(text.find("[9]"), std::string::npos);
    const std::size_t row0 = text.find("[0]\r\nHour=0\r\nMinute=0\r\nColor0=5");
    const std::size_t row3 = text.find("[3]\r\nHour=24\r\nMinute=0\r\nColor0=0");
    EXPECT_NE(row0, std::string::npos) << text;
    EXPECT_NE(row3, std::string::npos) << text;
    EXPECT_EQ(Board()->Board().Schedule(), kUnsorted) << "the board's own table is not touched";
}

TEST_F(FileCommands, ImportConfigWritesTheWholeRecordOnce) {
    files::testing::WriteText(ini_, "[Config]\nFanLow=10\n[RC5]\nStep=0x1F\n");
    const DeviceConfig before = Board()->Board().Config();
    ASSERT_EQ(Run({"import", "config", ini_}), 0) << err_;
    EXPECT_EQ(TraceSummary(trace_lines_), Then(kConnect, {"set 2", "set 4", "set 5", "set 6"}));
    DeviceConfig expected = before;
    expected.FanLow = 10;
    expected.RC5.Step = 31;
    EXPECT_EQ(Board()->Board().Config(), expected);
    // The bytes are the record's own parts.
    const auto part1 = expected.EncodePart1();
    EXPECT_TRUE(std::equal(part1.begin(), part1.end(), trace_lines_[5].bytes.begin() + 1));
}

TEST_F(FileCommands, ImportTableFillsTheBoardsRowsAndUploadsThemSorted) {
    std::string text;
    const int hours[] = {20, 8, 10, 9, 1, 2};  // six rows for a board of four
    for (int row = 0; row < 6; ++row)
        text += "[" + std::to_string(row) + "]\nHour=" + std::to_string(hours[row]) + "\nMinute=15\n";
    files::testing::WriteText(ini_, text);
    ASSERT_EQ(Run({"import", "table", ini_}), 0) << err_;
    EXPECT_EQ(TraceSummary(trace_lines_), Then(Then(kConnect, Times(4, "get 3")), Times(4, "set 3")));
    const std::vector<ScheduleEntry> board = Board()->Board().Schedule();
    const int sortedHours[] = {8, 9, 10, 20};
    const std::uint8_t colors[] = {40, 5, 0, 100};  // each row keeps its own channel values
    ASSERT_EQ(board.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(board[i].Hour, sortedHours[i]);
        EXPECT_EQ(board[i].Minute, 15);
        EXPECT_EQ(board[i].Color[0], colors[i]) << i;
    }
}

// A file that cannot be used ends with exit 5 before the board is asked for anything; a
// board that fails ends with exit 1. Neither claims success, and a file refused for export
// stays byte for byte as it was.
TEST_F(FileCommands, FailuresClaimNothing) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        nlohmann::json faults;
        int exitCode;
        std::string message;
        bool anyTransfer;
        bool anyWrite;
    };
    files::testing::WriteText(ini_, "[0]\nHour=1\n");
    const std::string binary = dir_.File("data.bin");
    const std::string binaryText("PNG\0\x01\x02[Config]\nFanLow=1\n", 23);
    const std::string notes = dir_.File("notes.ini");
    const std::string fifo = dir_.File("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string laterRows = dir_.File("later.ini");
    const Case cases[] = {
        {"missing file", {"import", "config", dir_.File("gone.ini")}, nullptr, 5, "error: cannot read", false, false},
        {"unwritable export",
         {"export", dir_.File("no/such/folder.ini")},
         nullptr,
         5,
         "error: cannot export to",
         false,
         false},
        {"export into a binary file",
         {"export", binary},
         nullptr,
         5,
         "not a text INI file: it holds NUL bytes",
         false,
         false},
        {"export into a FIFO", {"export", fifo}, nullptr, 5, "not a regular file", false, false},
        {"import from a FIFO", {"import", "table", fifo}, nullptr, 5, "not a regular file", false, false},
        {"import from an endless device",
         {"import", "config", "/dev/zero"},
         nullptr,
         5,
         "not a regular file",
         false,
         false},
        {"a configuration without its sections",
         {"import", "config", notes},
         nullptr,
         5,
         "error: no settings found in " + notes + " (none of the sections Config, Weather, Names, RC5)",
         false,
         false},
        {"a table without any row", {"import", "table", notes}, nullptr, 5, "error: no settings found", false, false},
        // Which rows the board has is known once it is read; nothing is written then.
        {"rows beyond the board's table",
         {"import", "table", laterRows},
         nullptr,
         5,
         "(none of the row sections 0 to 3)",
         true,
         false},
        {"a row read fails",
         {"import", "table", ini_},
         {{"failAttempts", {7}}},
         1,
         "of 4 entries arrived",
         true,
         false},
        {"a row write fails",
         {"import", "table", ini_},
         {{"failAttempts", {10, 11, 12}}},
         1,
         "1 of 4 rows",
         true,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        files::testing::WriteText(binary, binaryText);
        files::testing::WriteText(notes, "[Notes]\nFanLow=1\n");
        files::testing::WriteText(laterRows, "[4]\nHour=1\n[5]\nHour=2\n");
        if (!c.faults.is_null()) {
            nlohmann::json doc = nlohmann::json::parse(ReadFile(state_));
            doc["faults"] = c.faults;
            files::testing::WriteText(state_, doc.dump());
        }
        EXPECT_EQ(Run(c.args), c.exitCode);
        EXPECT_NE(err_.find(c.message), std::string::npos) << err_;
        EXPECT_EQ(nlohmann::json::parse(out_)["ok"], false);
        EXPECT_EQ(!trace_lines_.empty(), c.anyTransfer);
        bool wrote = false;
        for (const TraceLine& l : trace_lines_) wrote = wrote || l.isSet;
        EXPECT_EQ(wrote, c.anyWrite);
        EXPECT_EQ(files::testing::ReadText(binary), binaryText);
    }
}

}  // namespace
}  // namespace quelvan::testing
