// The settings history: the store's files (round trip through the export's format, 200
// kept, nothing lost when a write fails), and quelvand keeping it for a simulated board:
// one entry per change naming what changed and who, a restore that brings the board back
// byte for byte, an entry just before a firmware update and just before an import, and a
// folder that cannot be written costing nothing but one line in the log.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "board_fixture.h"
#include "daemon/history_store.h"
#include "files_test_support.h"
#include "service_process.h"

namespace quelvan::testing {
namespace {

using nlohmann::json;
using service::HistoryEntry;
using service::HistoryRecord;
using service::HistoryStore;

HistoryRecord SomeRecord(int seed) {
    HistoryRecord r;
    r.config.FanLow = static_cast<std::uint8_t>(seed);
    r.config.Mode = 1;
    r.config.ColorName[3] = 7;
    r.table.resize(3);
    for (std::size_t i = 0; i < r.table.size(); ++i) {
        r.table[i].Hour = static_cast<std::int8_t>(6 + 4 * i);
        r.table[i].Minute = 30;
        r.table[i].Color[i] = static_cast<std::uint8_t>(10 * seed + i);
    }
    return r;
}

TEST(HistoryStoreFiles, AnEntryIsASettingsFileThatReadsBackTheSameRecordAndTheLast200AreKept) {
    ScratchDir dir;
    HistoryStore store(dir.File("history"));
    const HistoryRecord first = SomeRecord(1), second = SomeRecord(2);
    EXPECT_EQ(service::RecordOfText(service::HistoryText(first)).config, first.config);
    EXPECT_EQ(service::RecordOfText(service::HistoryText(first)).table, first.table);
    EXPECT_EQ(service::HistoryDifferences(first, second),
              (std::vector<std::string>{"FanLow", "row 0", "row 1", "row 2"}));

    for (int i = 1; i <= 250; ++i) {
        std::string error;
        ASSERT_EQ(store.Add("QV2-1", HistoryEntry{0, "2026-12-09 17:00:00", "quelvanctl", {"FanLow"}},
                            service::HistoryText(SomeRecord(i % 200)), &error),
                  std::optional<int>(i))
            << error;
    }
    const std::vector<HistoryEntry> list = store.List("QV2-1");
    ASSERT_EQ(list.size(), 200u);
    EXPECT_EQ(list.front().id, 51);
    EXPECT_EQ(list.back().id, 250);
    EXPECT_EQ(list.back().by, "quelvanctl");
    EXPECT_EQ(list.back().changed, std::vector<std::string>{"FanLow"});
    std::size_t files = 0;
    for (const auto& f : std::filesystem::directory_iterator(dir.File("history/QV2-1"))) {
        ++files;
        struct stat st {};
        ASSERT_EQ(::stat(f.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f.path();
    }
    EXPECT_EQ(files, 200u) << "no temporary file left behind";
    const std::string text = *store.Text("QV2-1", 250);
    EXPECT_EQ(service::RecordOfText(text).config.FanLow, 250 % 200);
}

TEST(HistoryStoreFiles, AWriteThatFailsLosesNoEarlierEntry) {
    ScratchDir dir;
    HistoryStore store(dir.File("history"), 2);
    for (int i = 1; i <= 2; ++i) ASSERT_TRUE(store.Add("QV2-1", {}, service::HistoryText(SomeRecord(i)), nullptr));
    const std::string before = *store.Text("QV2-1", 1) + *store.Text("QV2-1", 2);
    // A disk that is full: no file may grow past a few bytes (root is not stopped by modes).
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit tiny = saved;
    tiny.rlim_cur = 64;
    ::setrlimit(RLIMIT_FSIZE, &tiny);
    std::string error;
    const std::optional<int> id = store.Add("QV2-1", {}, service::HistoryText(SomeRecord(3)), &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(id);
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    ASSERT_EQ(store.List("QV2-1").size(), 2u);
    EXPECT_EQ(*store.Text("QV2-1", 1) + *store.Text("QV2-1", 2), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("history/QV2-1")), {}), 2);
}

class HistoryThroughTheService : public ::testing::Test {
protected:
    void Start(const std::string& moreConfig = {}) {
        WriteBoardState(state_, [](sim::SimulatedHidBackend& b) { b.Board().Config().FanLow = 40; });
        ServiceProcess::Options options;
        options.stateFiles = {state_};
        options.pollMs = 200;
        options.traceFile = trace_;
        options.moreConfig = moreConfig.empty() ? "[history]\nfolder = " + dir_.File("history") + "\n" : moreConfig;
        service_ = std::make_unique<ServiceProcess>(options);
        ASSERT_TRUE(service_->Running());
    }
    void TearDown() override {
        if (!service_) return;
        std::string log;
        EXPECT_EQ(service_->Stop(&log), 0) << log;
    }
    static ProcessResult Ctl(std::vector<std::string> args) {
        args.insert(args.begin(), "--service");
        return RunQuelvanctlBinary(args);
    }
    json Entries() {
        const ProcessResult r = Ctl({"--json", "service", "history"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const json reply = json::parse(r.out, nullptr, false);
        return reply.is_object() ? reply.value("entries", json::array()) : json::array();
    }
    // Waits (bounded) until the history has `count` entries.
    json WaitForEntries(std::size_t count) {
        json entries;
        for (int i = 0; i < 100; ++i) {
            entries = Entries();
            if (entries.size() >= count) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_EQ(entries.size(), count) << entries.dump(1);
        return entries;
    }
    // The settings and the day program as the board holds them (the state file's RAM).
    json BoardRecords() {
        const json state = json::parse(ReadFile(state_), nullptr, false);
        return {state["ram"]["config"], state["ram"]["schedule"]};
    }

    ScratchDir dir_;
    const std::string state_ = dir_.File("board.state");
    const std::string trace_ = dir_.File("trace.txt");
    std::unique_ptr<ServiceProcess> service_;
};

TEST_F(HistoryThroughTheService, ConfigSetMakesOneEntryNamingTheKeyAndWhoChangedIt) {
    Start();
    WaitForEntries(1);
    ASSERT_EQ(Ctl({"config", "set", "FanLow", "77"}).exitCode, 0);
    json entries = WaitForEntries(2);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));  // a few polls: nothing more
    entries = WaitForEntries(2);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1]["changed"], json::array({"FanLow"}));
    EXPECT_EQ(entries[1]["by"], "quelvanctl");

    const ProcessResult shown = Ctl({"service", "history", "show", std::to_string(entries[1]["id"].get<int>())});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_NE(shown.out.find("FanLow=77"), std::string::npos) << shown.out;
    // The entry is a settings file the import takes as it stands.
    std::ofstream(dir_.File("entry.ini")) << Ctl({"service", "history", "show", "1"}).out;
    EXPECT_EQ(Ctl({"import", "config", dir_.File("entry.ini")}).exitCode, 0);
    entries = WaitForEntries(4);
    EXPECT_EQ(entries[2]["by"], "before an import by quelvanctl");
    EXPECT_EQ(entries[3]["changed"], json::array({"FanLow"}));
}

TEST_F(HistoryThroughTheService, ARestoreBringsTheBoardBackByteForByteAndIsRecordedItself) {
    Start();
    const std::string first = std::to_string(WaitForEntries(1)[0]["id"].get<int>());
    const json original = BoardRecords();
    ASSERT_EQ(Ctl({"config", "set", "FanLow", "77"}).exitCode, 0);
    ASSERT_EQ(Ctl({"config", "set", "FanHigh", "200"}).exitCode, 0);
    std::string changedTable = Ctl({"service", "history", "show", first}).out;
    const std::size_t row = changedTable.find("\n[1]");
    ASSERT_NE(row, std::string::npos) << changedTable;
    const std::size_t value = changedTable.find("Color0=", row) + 7;
    const std::size_t end = changedTable.find('\n', value);
    changedTable.replace(value, end - value, changedTable.substr(value, end - value) == "50" ? "51" : "50");
    std::ofstream(dir_.File("table.ini")) << changedTable;
    ASSERT_EQ(Ctl({"import", "table", dir_.File("table.ini")}).exitCode, 0);
    WaitForEntries(5);
    ASSERT_NE(BoardRecords(), original);

    const std::size_t traceBefore = ReadLines(trace_).size();
    const ProcessResult restored = Ctl({"service", "restore", first});
    ASSERT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_EQ(BoardRecords(), original);
    const json entries = WaitForEntries(7);
    EXPECT_EQ(entries[5]["by"], "before a restore of entry " + first);
    EXPECT_EQ(entries[6]["by"], "a restore of entry " + first);

    // What the restore sent: the settings as first read, byte for byte, and every row.
    const std::vector<TraceLine> lines = ParseTrace(ReadLines(trace_));
    std::map<int, std::vector<std::uint8_t>> firstRead, written;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const TraceLine& t = lines[i];
        if (!t.ok || t.reportId == 1 || t.reportId == 3) continue;
        if (!t.isSet && !firstRead.count(t.reportId)) firstRead[t.reportId] = t.bytes;
        if (t.isSet && i >= traceBefore) written[t.reportId] = t.bytes;
    }
    ASSERT_EQ(written.size(), 4u);
    EXPECT_EQ(written, firstRead);
    int rows = 0;
    for (std::size_t i = traceBefore; i < lines.size(); ++i) rows += lines[i].isSet && lines[i].reportId == 3 ? 1 : 0;
    EXPECT_GT(rows, 0) << "the day program was written back";
}

TEST_F(HistoryThroughTheService, AFirmwareUpdateThroughTheServiceLeavesAnEntryFromBeforeIt) {
    Start();
    WaitForEntries(1);
    ASSERT_EQ(Ctl({"config", "set", "FanLow", "77"}).exitCode, 0);
    WaitForEntries(2);
    const std::string firmware = dir_.File("new.vbf328p");
    files::testing::WriteBytes(firmware, files::testing::FirmwareBytes(0, 29999));
    const ProcessResult flashed = Ctl({"flash", firmware, "--yes"});
    ASSERT_EQ(flashed.exitCode, 0) << flashed.err;
    json entries;
    for (int i = 0; i < 100 && entries.size() < 4; ++i) {
        entries = Entries();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_GE(entries.size(), 3u) << entries.dump(1);
    EXPECT_EQ(entries[2]["by"], "before a firmware update");
    const std::string text = Ctl({"service", "history", "show", std::to_string(entries[2]["id"].get<int>())}).out;
    EXPECT_NE(text.find("FanLow=77"), std::string::npos) << "the settings before the update";
}

// `text` with the value of `key` in `section` (the first one anywhere when empty) replaced.
std::string WithValue(std::string text, const std::string& section, const std::string& key,
                      const std::function<std::string(const std::string&)>& change) {
    const std::size_t from = section.empty() ? 0 : text.find("\n[" + section + "]");
    const std::size_t at = from == std::string::npos ? from : text.find("\n" + key + "=", from);
    if (at == std::string::npos) return {};
    const std::size_t value = at + key.size() + 2, end = text.find('\n', value);
    text.replace(value, end - value, change(text.substr(value, end - value)));
    return text;
}

TEST_F(HistoryThroughTheService, AnImportLeavesAnEntryOfTheSettingsJustBeforeItAndOneOfTheChange) {
    struct Case {
        const char* part;
        const char* section;
        const char* key;
        const char* changed;
    };
    const Case cases[] = {
        {"config", "", "FanLow", "FanLow"},
        {"table", "1", "Color0", "row 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        Start();
        WaitForEntries(1);
        // A change first, so that the settings before the import are not the first entry's.
        ASSERT_EQ(Ctl({"config", "set", "FanLow", "77"}).exitCode, 0);
        WaitForEntries(2);
        const std::string before = dir_.File(std::string(c.part) + "-before.ini");
        ASSERT_EQ(Ctl({"export", before}).exitCode, 0);
        const std::string imported =
            WithValue(ReadFile(before), c.section, c.key, [](const std::string& v) { return v == "91" ? "92" : "91"; });
        ASSERT_FALSE(imported.empty()) << ReadFile(before);
        const std::string file = dir_.File(std::string(c.part) + "-import.ini");
        std::ofstream(file) << imported;
        const ProcessResult run = Ctl({"import", c.part, file});
        ASSERT_EQ(run.exitCode, 0) << run.err;

        const json entries = WaitForEntries(4);
        ASSERT_EQ(entries.size(), 4u);
        EXPECT_EQ(entries[2]["by"], "before an import by quelvanctl");
        EXPECT_EQ(entries[3]["by"], "quelvanctl");
        EXPECT_EQ(entries[3]["changed"], json::array({c.changed}));
        auto shown = [](const json& entry) {
            return service::RecordOfText(
                Ctl({"service", "history", "show", std::to_string(entry["id"].get<int>())}).out);
        };
        const HistoryRecord board = service::RecordOfText(ReadFile(before)), wanted = service::RecordOfText(imported);
        const HistoryRecord justBefore = shown(entries[2]), after = shown(entries[3]);
        EXPECT_EQ(justBefore.config, board.config);
        EXPECT_EQ(justBefore.table, board.table);
        EXPECT_EQ(after.config, std::string(c.part) == "config" ? wanted.config : board.config);
        EXPECT_EQ(after.table, std::string(c.part) == "table" ? wanted.table : board.table);

        std::string log;
        EXPECT_EQ(service_->Stop(&log), 0) << log;
        service_.reset();
        std::filesystem::remove_all(dir_.File("history"));
    }
}

TEST_F(HistoryThroughTheService, AnAnnouncedImportThatWritesNothingLeavesNoMarkOnLaterWrites) {
    Start();
    WaitForEntries(1);
    RawClient client(service_->Socket());
    ASSERT_EQ(client.Ask({{"id", 1}, {"op", "hello"}, {"version", 1}, {"client", "raw"}})["ok"], true);
    const std::string device = client.Ask({{"id", 2}, {"op", "list"}})["devices"].at(0)["device"];
    // Only within the client's own session.
    EXPECT_EQ(client.Ask({{"id", 3}, {"op", "importing"}, {"device", device}})["code"], "no-session");
    EXPECT_EQ(client.Ask({{"id", 4}, {"op", "importing"}, {"device", "nothing"}})["code"], "no-device");
    ASSERT_EQ(client.Ask({{"id", 5}, {"op", "begin"}, {"device", device}})["ok"], true);
    EXPECT_EQ(client.Ask({{"id", 6}, {"op", "importing"}, {"device", device}})["ok"], true);
    ASSERT_EQ(client.Ask({{"id", 7}, {"op", "end"}, {"device", device}})["ok"], true);
    // The next session's writes are no import, whoever makes them.
    ASSERT_EQ(client.Ask({{"id", 8}, {"op", "begin"}, {"device", device}})["ok"], true);
    const json read = client.Ask({{"id", 9},
                                  {"op", "get"},
                                  {"device", device},
                                  {"data", std::string(2 * report::kConfigPart1Length, '0').replace(0, 2, "02")}});
    ASSERT_EQ(read["ok"], true) << read.dump();
    EXPECT_EQ(client.Ask({{"id", 10}, {"op", "set"}, {"device", device}, {"data", read["data"]}})["ok"], true);
    ASSERT_EQ(client.Ask({{"id", 11}, {"op", "end"}, {"device", device}})["ok"], true);
    ASSERT_EQ(Ctl({"config", "set", "FanLow", "77"}).exitCode, 0);
    const json entries = WaitForEntries(2);
    for (const json& e : entries) EXPECT_EQ(e["by"].get<std::string>().find("import"), std::string::npos) << e;
}

TEST_F(HistoryThroughTheService, AFolderThatCannotBeWrittenStopsNothingAndIsLoggedOnce) {
    Start("[history]\nfolder = /proc/self/quelvan-history\n");
    for (const char* value : {"77", "78", "79"}) ASSERT_EQ(Ctl({"config", "set", "FanLow", value}).exitCode, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_TRUE(service_->Running());
    const std::string log = service_->Log();
    std::size_t count = 0;
    for (std::size_t at = log.find("history cannot be kept"); at != std::string::npos;
         at = log.find("history cannot be kept", at + 1))
        ++count;
    EXPECT_EQ(count, 1u) << log;
    const ProcessResult status = Ctl({"status"});
    EXPECT_EQ(status.exitCode, 0) << status.err;
}

}  // namespace
}  // namespace quelvan::testing
