// quelvanctl sun: the binary, offline and against a simulated board in a state file. Nothing
// reaches the board without --upload; the upload writes every row by index, reads the table
// back and sets the moon's transit; wrong places and options exit 2 naming them.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "board_fixture.h"
#include "run_quelvanctl.h"
#include "schedule/moon_phase.h"

namespace quelvan::testing {
namespace {

std::vector<ScheduleEntry> BoardRows() {
    std::vector<ScheduleEntry> rows(24);
    for (int i = 0; i < 24; ++i) {
        rows[static_cast<std::size_t>(i)].Hour = static_cast<std::int8_t>(i);
        rows[static_cast<std::size_t>(i)].Color = {10, 0, 5};
    }
    rows[12].Color = {90, 0, 45};  // the owner's maxima: A 90 %, C 45 %, the rest off
    return rows;
}

class SunCommands : public ::testing::Test {
protected:
    void SetUp() override {
        WriteBoardState(state_, [](sim::SimulatedHidBackend& b) {
            b.Board().Schedule() = BoardRows();
            b.Board().Config().FullmoonTransitHour = 23;
            b.Board().Config().FullmoonTransitMinute = 30;
        });
    }
    ProcessResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--simulate=" + state_, "--trace", trace_});
        ProcessResult r = RunQuelvanctlBinary(args);
        lines_ = ParseTrace(ReadLines(trace_));
        return r;
    }
    std::vector<TraceLine> Sets() const {
        std::vector<TraceLine> sets;
        for (const TraceLine& l : lines_)
            if (l.isSet) sets.push_back(l);
        return sets;
    }

    ScratchDir dir_;
    const std::string state_ = dir_.File("board.state");
    const std::string trace_ = dir_.File("trace.txt");
    std::vector<TraceLine> lines_;
};

TEST_F(SunCommands, ProgramReadsTheBoardAndWritesNothingWithoutUpload) {
    const ProcessResult r = Run({"sun", "program", "Manaus", "--date", "2026-03-20", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto json = nlohmann::json::parse(r.out);
    ASSERT_EQ(json["entries"].size(), 24u);  // the board's row count
    EXPECT_LE(json["max_error"].get<double>(), 1.0);
    EXPECT_EQ(json["uploaded"], false);
    int topA = 0, topC = 0, topB = 0;
    for (const auto& e : json["entries"]) {
        topA = std::max(topA, e["channels"][0].get<int>());
        topB = std::max(topB, e["channels"][1].get<int>());
        topC = std::max(topC, e["channels"][2].get<int>());
    }
    EXPECT_EQ(topA, 90);
    EXPECT_EQ(topB, 0);
    EXPECT_EQ(topC, 45);
    EXPECT_TRUE(Sets().empty());
    EXPECT_FALSE(lines_.empty());  // it did read the board
}

TEST_F(SunCommands, UploadWritesEveryRowReadsBackAndSetsTheMoon) {
    const ProcessResult r = Run({"sun", "program", "Europe/Berlin", "--date", "2026-03-29", "--upload", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto json = nlohmann::json::parse(r.out);
    const auto& entries = json["entries"];
    ASSERT_EQ(entries.size(), 24u);
    const std::vector<TraceLine> sets = Sets();
    ASSERT_EQ(sets.size(), 25u);  // 24 rows, then the live state with the moon
    for (std::size_t i = 0; i < 24; ++i) {
        SCOPED_TRACE(i);
        const TraceLine& row = sets[i];
        EXPECT_EQ(row.reportId, 3);
        ASSERT_EQ(row.bytes.size(), 16u);
        EXPECT_EQ(row.bytes[1], i);
        EXPECT_EQ(row.bytes[2], entries[i]["hour"].get<int>());
        EXPECT_EQ(row.bytes[3], entries[i]["minute"].get<int>());
        for (std::size_t c = 0; c < 12; ++c) EXPECT_EQ(row.bytes[4 + c], entries[i]["channels"][c].get<int>());
    }
    // After the writes the whole table is read back before the moon is set.
    int readsBack = 0;
    bool afterLastRow = false;
    for (const TraceLine& l : lines_) {
        if (l.isSet && l.reportId == 3 && l.bytes[1] == 23)
            afterLastRow = true;
        else if (afterLastRow && !l.isSet && l.reportId == 3)
            ++readsBack;
    }
    EXPECT_EQ(readsBack, 24);
    // The moon: only the transit changes (clock and channels A..D marked to stay), and the
    // board's own phase rule reads today's moon from it against its full-moon transit 23:30.
    const TraceLine& live = sets[24];
    EXPECT_EQ(live.reportId, 1);
    EXPECT_EQ(live.bytes[7], 255);
    EXPECT_NE(live.bytes[11], 255);
    for (std::size_t b = 13; b <= 20; ++b) EXPECT_EQ(live.bytes[b], 0xFF);
    const MoonPhase board =
        ComputeMoonPhase(static_cast<std::int8_t>(live.bytes[12]), static_cast<std::int8_t>(live.bytes[11]), 23, 30);
    // 2026-03-29: a waxing gibbous moon (first quarter 03-25, full 04-01), about 0.8 lit.
    EXPECT_NEAR(board.phase, json["moon"]["illumination"].get<double>(), 0.01);
    EXPECT_GT(board.phase, 0.7);
    EXPECT_LT(board.phase, 0.95);
    EXPECT_TRUE(board.litRight);

    // The program is on the board now: a second run without --upload writes nothing.
    ASSERT_EQ(Run({"sun", "program", "Europe/Berlin", "--date", "2026-03-29"}).exitCode, 0);
    EXPECT_TRUE(Sets().empty());
}

TEST_F(SunCommands, TableFileGoesBackThroughImportTable) {
    const std::string ini = dir_.File("day.ini");
    ProcessResult r = Run({"sun", "program", "Sydney", "--date", "2026-01-15", "--ini", ini, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Sets().empty());
    const auto json = nlohmann::json::parse(r.out);
    r = Run({"import", "table", ini});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<TraceLine> sets = Sets();
    ASSERT_EQ(sets.size(), 24u);
    for (std::size_t i = 0; i < 24; ++i) {
        EXPECT_EQ(sets[i].bytes[2], json["entries"][i]["hour"].get<int>());
        EXPECT_EQ(sets[i].bytes[3], json["entries"][i]["minute"].get<int>());
        EXPECT_EQ(sets[i].bytes[4], json["entries"][i]["channels"][0].get<int>());
    }
}

TEST(SunCommandsOffline, PlacesShowAndProgramNeedNoBoard) {
    ProcessResult r = RunQuelvanctlBinary({"sun", "places", "manaus", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto places = nlohmann::json::parse(r.out);
    ASSERT_EQ(places.size(), 1u);
    EXPECT_EQ(places[0]["zone"], "America/Manaus");
    EXPECT_EQ(places[0]["country"], "BR");
    EXPECT_NEAR(places[0]["latitude"].get<double>(), -3.1333, 1e-4);

    r = RunQuelvanctlBinary({"sun", "show", "Europe/London", "--date", "2015-12-01", "--tz", "UTC", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto day = nlohmann::json::parse(r.out);
    EXPECT_EQ(day["sunrise"], "07:43");  // the published almanac's times
    EXPECT_EQ(day["sunset"], "15:55");
    EXPECT_EQ(day["polar"], nullptr);

    r = RunQuelvanctlBinary({"sun", "program", "-13.5,34.0", "--tz", "Africa/Blantyre", "--date", "2026-06-01",
                             "--rows", "24", "--noon", "20:00", "--siesta", "19:00-20:30=50", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto program = nlohmann::json::parse(r.out);
    EXPECT_EQ(program["entries"].size(), 24u);
    EXPECT_LE(program["max_error"].get<double>(), 1.0);

    // The picture of the page "Grafik", drawn by the graph renderer.
    ScratchDir dir;
    const std::string png = dir.File("day.png");
    r = RunQuelvanctlBinary({"sun", "program", "Manaus", "--rows", "24", "--graph", png});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(png).substr(0, 8), "\x89PNG\r\n\x1a\n");

    // A table file made without a board holds the rows alone, no made-up settings.
    const std::string ini = dir.File("day.ini");
    r = RunQuelvanctlBinary({"sun", "program", "Manaus", "--rows", "6", "--ini", ini});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string table = ReadFile(ini);
    EXPECT_NE(table.find("[5]"), std::string::npos) << table;
    EXPECT_EQ(table.find("[6]"), std::string::npos) << table;
    EXPECT_EQ(table.find("[Config]"), std::string::npos) << table;
    r = RunQuelvanctlBinary({"sun", "program", "Manaus", "--ini", ini});
    EXPECT_EQ(r.exitCode, 3) << "without --rows the board's row count is needed, and there is no board";

    r = RunQuelvanctlBinary({"sun", "program", "Arctic/Longyearbyen", "--date", "2026-12-21", "--rows", "6", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("polar night"), std::string::npos) << r.err;
    const nlohmann::json dark = nlohmann::json::parse(r.out);
    for (const auto& e : dark["entries"])
        for (const auto& v : e["channels"]) EXPECT_EQ(v, 0);
}

TEST(SunCommandsOffline, BadPlacesAndOptionsExitTwoNamingThem) {
    struct Case {
        std::vector<std::string> args;
        const char* named;
    };
    const Case cases[] = {
        {{"sun", "show", "Atlantis"}, "Atlantis"},
        {{"sun", "show", "America/I"}, "America/Indiana/Indianapolis"},
        {{"sun", "show", "95,10"}, "95,10"},
        {{"sun", "show", "Manaus", "--tz", "Mars/Olympus"}, "Mars/Olympus"},
        {{"sun", "show", "Manaus", "--date", "2026-02-30"}, "--date"},
        {{"sun", "program", "Manaus", "--rows", "24", "--twilight", "dusk"}, "--twilight"},
        {{"sun", "program", "Manaus", "--rows", "24", "--siesta", "14:00-12:00=50"}, "--siesta"},
        {{"sun", "program", "Manaus", "--rows", "24", "--max", "Q=50"}, "--max"},
        {{"sun", "program", "Manaus", "--rows", "24", "--noon", "25:00"}, "--noon"},
        {{"sun", "program", "Manaus", "--rows", "1"}, "--rows"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named);
        const ProcessResult r = RunQuelvanctlBinary(c.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace quelvan::testing
