// The state file: separate backends (processes) on one file share one board; the clock
// runs on between them; a broken file is refused with a message.

#include "simulator/state_file.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>

#include "sim_bench.h"

namespace quelvan::sim::testing {
namespace {

namespace fs = std::filesystem;

class StateFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("quelvan-sim-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = (dir / "board.json").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    nlohmann::json ReadJson() const {
        std::ifstream in(path);
        return nlohmann::json::parse(in);
    }
    void WriteText(const std::string& text) const {
        std::ofstream out(path, std::ios::trunc);
        out << text;
    }
    std::string ReadText(const std::string& file = {}) const {
        std::ifstream in(file.empty() ? path : file);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir;
    std::string path;
};

TEST_F(StateFile, TwoBackendsOnOneFileShareTheBoard) {
    SimBench a;
    a.Board().SetFrozen(true);
    ASSERT_TRUE(a.backend->SetStateFile(path));
    ASSERT_TRUE(fs::exists(path));
    a.Acquire(kBoardProduct);
    a.protocol.ReadDeviceConfig();
    a.protocol.config.Mode = 0;
    a.protocol.WriteDeviceConfig();
    a.protocol.ReadLiveState();
    a.protocol.live.ChannelValue.fill(777);
    a.protocol.WriteLiveState(false, false, true);

    SimBench b;
    std::string error;
    ASSERT_TRUE(b.backend->SetStateFile(path, &error)) << error;
    EXPECT_TRUE(b.Board().Frozen());
    EXPECT_EQ(b.Board().Config().Mode, 0);
    EXPECT_EQ(b.Board().Live().ChannelValue, a.protocol.live.ChannelValue);
    EXPECT_EQ(b.backend->Enumerate().at(0).identity, a.backend->Enumerate().at(0).identity) << "the same interface";

    // A change made through one is seen by the other: the board moves to its bootloader.
    a.protocol.EnterBootloader();
    EXPECT_EQ(b.Board().Mode(), BoardMode::Bootloader);
    pollfd p{b.backend->ChangeFd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 1) << "the other backend signals the change";
    ASSERT_NE(b.Rescan(kBootloader2Product), nullptr);
    std::array<std::uint8_t, bootloader::kBlockSize> block;
    block.fill(0x5A);
    ASSERT_TRUE(b.bootloader.WriteBlock(0x100, block));

    // ... and flash, RAM and mode survive both instances.
    b.backend.reset();
    a.controller.reset();
    a.backend.reset();
    SimBench c;
    ASSERT_TRUE(c.backend->SetStateFile(path));
    EXPECT_EQ(c.Board().Mode(), BoardMode::Bootloader);
    EXPECT_EQ(c.Board().Flash().at(0x100), 0x5A);
    EXPECT_EQ(c.Board().Flash().at(0xFF), 0xFF);
    EXPECT_EQ(c.Board().BlocksWritten(), 1);
    c.Board().PowerCycle();
    EXPECT_EQ(c.Board().Config().Mode, 1) << "the EEPROM still holds the defaults";
}

TEST_F(StateFile, SettingsAndBusStateTravelToo) {
    {
        BoardSettings settings;
        settings.firmwareVersion = 3;
        settings.temperatureSensor = false;
        settings.serialNumber = u"Prüfling-7";
        SimBench a(settings);
        a.backend->SetOpenError(EACCES);
        a.backend->AddForeignDevice({});
        a.backend->Unplug();
        a.Board().SetEntryCountOverride(17);
        a.Board().SetNextScheduleIndex(300);  // odd values set by tests come back as they were
        ASSERT_TRUE(a.backend->SaveState(path));
    }
    SimBench b;
    std::string error;
    ASSERT_TRUE(b.backend->LoadState(path, &error)) << error;
    EXPECT_EQ(b.Board().Settings().firmwareVersion, 3);
    EXPECT_EQ(b.Board().Settings().serialNumber, u"Prüfling-7");
    EXPECT_EQ(b.Board().Mode(), BoardMode::Absent);
    EXPECT_EQ(b.Board().NextScheduleIndex(), 300);
    EXPECT_EQ(b.backend->Enumerate().size(), 1u) << "the foreign device only";
    b.backend->Plug();
    EXPECT_EQ(b.Board().Live().FirmwareVersion, 3);
    EXPECT_EQ(b.Board().Live().Temperature, kNoTemperatureSensor);
    EXPECT_EQ(b.Board().Live().EntryCount, 17);
    EXPECT_FALSE(b.backend->Open(b.backend->Enumerate().at(0)).readWrite);
}

TEST_F(StateFile, ClockRunsOnWhileNoProcessHoldsTheBoard) {
    {
        SimBench a({}, At(9, 0));
        a.Board().Config().Mode = 0;  // keep the channels still; only time matters here
        ASSERT_TRUE(a.backend->SetStateFile(path));
    }
    // Three days and two hours later.
    nlohmann::json doc = ReadJson();
    const std::int64_t saved = doc["savedAtUnixMs"].get<std::int64_t>();
    doc["savedAtUnixMs"] = saved - (3LL * 24 + 2) * 3600 * 1000;
    WriteText(doc.dump());

    SimBench b;
    ASSERT_TRUE(b.backend->SetStateFile(path));
    const LiveState& live = b.Board().Live();
    EXPECT_EQ(live.ClockHour, 11);
    EXPECT_EQ(live.ClockMinute, 0);
    EXPECT_LE(live.ClockSecond, 5);
}

TEST_F(StateFile, BrokenFilesAreRefusedWithAMessage) {
    {
        SimBench a;
        ASSERT_TRUE(a.backend->SaveState(path));
    }
    const nlohmann::json good = ReadJson();
    struct Case {
        const char* what;
        std::function<void(nlohmann::json&)> breakIt;
    };
    const Case cases[] = {
        {"pageSize", [](auto& d) { d["settings"]["pageSize"] = "big"; }},
        {"live", [](auto& d) { d["ram"]["live"] = "00ff"; }},
        {"report2", [](auto& d) { d["eeprom"]["config"]["report2"] = "zz"; }},
        {"device", [](auto& d) { d["device"] = "Sideways"; }},
        {"schedule", [](auto& d) { d["ram"]["schedule"] = 5; }},
        {"random", [](auto& d) { d["random"] = "not a generator"; }},
        {"format", [](auto& d) { d.erase("format"); }},
        {"bytes", [](auto& d) { d["flash"]["bytes"] = "ff"; }},
        {"firmware", [](auto& d) { d["firmware"] = "Absent"; }},
    };
    for (const Case& c : cases) {
        nlohmann::json doc = good;
        c.breakIt(doc);
        WriteText(doc.dump());
        SimBench b;
        b.Board().Config().FanLow = 42;
        std::string error;
        EXPECT_FALSE(b.backend->SetStateFile(path, &error)) << c.what;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_NE(error.find(c.what), std::string::npos) << error;
        EXPECT_EQ(b.Board().Config().FanLow, 42) << "the board stays as it was";
        EXPECT_EQ(ReadJson(), doc) << "a refused file is not overwritten";
    }
    for (const std::string text : {"", "{not json", "[1, 2]", "null"}) {
        WriteText(text);
        SimBench b;
        std::string error;
        EXPECT_FALSE(b.backend->LoadState(path, &error)) << text;
        EXPECT_FALSE(error.empty());
    }
    std::string error;
    SimBench b;
    EXPECT_FALSE(b.backend->LoadState((dir / "missing.json").string(), &error));
    EXPECT_NE(error.find("missing.json"), std::string::npos);
}

// A board on the state file, connected and read as a program connects it.
struct FileBoard {
    explicit FileBoard(const std::string& path) {
        bench.Board().SetFrozen(true);
        ok = bench.backend->SetStateFile(path, &error);
        if (!ok) return;
        bench.Acquire(kBoardProduct);
        ok = bench.protocol.ReadLiveState().ok && bench.protocol.ReadDeviceConfig().ok;
    }
    bool SetMode(int mode) {
        bench.protocol.config.Mode = static_cast<std::uint8_t>(mode);
        return bench.protocol.WriteDeviceConfig().ok;
    }
    SimBench bench;
    bool ok = false;
    std::string error;
};

// The file is the user's: what cannot be kept in it does not happen, and a file that has
// become unusable is neither overwritten nor silently ignored.
TEST_F(StateFile, UnusableFilesAreLeftAloneAndMakeTransfersFail) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& dir, const std::string& path)> breakIt;
        const char* problem;
        bool fileRemains;
    };
    const Case cases[] = {
        {"broken by another program",
         [](const fs::path&, const std::string& file) { std::ofstream(file, std::ios::trunc) << "{ not json"; },
         "not a valid state file", true},
        {"replaced by a folder",
         [](const fs::path&, const std::string& file) {
             fs::remove(file);
             fs::create_directory(file);
         },
         "is a folder", true},
        {"folder removed", [](const fs::path& folder, const std::string&) { fs::remove_all(folder); }, "cannot open",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::create_directories(dir);
        fs::remove_all(path);
        std::string before;
        {
            FileBoard board(path);
            ASSERT_TRUE(board.ok) << board.error;
            ASSERT_TRUE(board.SetMode(2));
            c.breakIt(dir, path);
            if (c.fileRemains && fs::is_regular_file(path)) before = ReadText();
            EXPECT_FALSE(board.SetMode(3));
            EXPECT_FALSE(board.bench.protocol.ReadLiveState().ok);
            EXPECT_NE(board.bench.backend->Problem().find(c.problem), std::string::npos)
                << board.bench.backend->Problem();
        }  // the backend's end saves nothing over the file
        if (c.fileRemains && !before.empty()) {
            EXPECT_EQ(ReadText(), before);
        }
        EXPECT_EQ(fs::exists(path), c.fileRemains);
    }

    // Once a good file is back, the board works again.
    fs::remove_all(dir);
    fs::create_directories(dir);
    FileBoard board(path);
    ASSERT_TRUE(board.ok);
    const std::string good = ReadText();
    WriteText("garbage");
    EXPECT_FALSE(board.SetMode(1));
    WriteText(good);
    EXPECT_TRUE(board.SetMode(1));
    EXPECT_TRUE(board.bench.backend->Problem().empty());
    EXPECT_EQ(ReadJson()["ram"]["config"]["report2"].get<std::string>().substr(0, 2), "01");
}

TEST_F(StateFile, OnlyRegularFilesOfSaneSizeAreAccepted) {
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string large = (dir / "large.json").string();
    { std::ofstream out(large); }
    fs::resize_file(large, kMaxStateFileBytes + 1);  // sparse: costs no disk
    const std::pair<std::string, const char*> cases[] = {
        {"/dev/zero", "not a regular file"},
        {fifo, "not a regular file"},
        {dir.string(), "is a folder"},
        {large, "too large"},
    };
    for (const auto& [file, problem] : cases) {
        SimulatedHidBackend backend;
        std::string error;
        EXPECT_FALSE(backend.SetStateFile(file, &error)) << file;
        EXPECT_NE(error.find(problem), std::string::npos) << file << ": " << error;
    }
}

TEST_F(StateFile, SavesGoThroughAFreshTemporaryFileAndKeepThePermissions) {
    // A link planted where a predictable temporary name would be is never followed.
    const std::string victim = (dir / "victim").string();
    {
        std::ofstream out(victim);
        out << "keep";
    }
    for (const std::string& planted : {path + ".tmp." + std::to_string(::getpid()), path + ".tmp", path + "~"})
        fs::create_symlink(victim, planted);
    FileBoard board(path);
    ASSERT_TRUE(board.ok) << board.error;
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(board.SetMode(0));
    EXPECT_EQ(ReadText(victim), "keep");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // Nothing is left behind but the file and its lock.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        if (!fs::is_symlink(entry.symlink_status())) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"board.json", "board.json.lock", "victim"}));
}

// Two processes sharing a board: every write of each arrives (each EEPROM store counts).
TEST_F(StateFile, ProcessesSharingTheFileLoseNoWrite) {
    {
        FileBoard board(path);
        ASSERT_TRUE(board.ok) << board.error;
    }
    constexpr int kStores = 40;
    std::vector<pid_t> children;
    for (int child = 0; child < 2; ++child) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool ok = true;
            {
                FileBoard board(path);
                ok = board.ok;
                for (int i = 0; ok && i < kStores; ++i) ok = board.bench.protocol.SaveEEPROM().ok;
            }
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(ReadJson()["eeprom"]["storeCount"].get<int>(), 2 * kStores);
}

// A plan of failures in the file is replayed by the next process that uses the board and
// removed from the file.
TEST_F(StateFile, FaultPlanIsTakenOverAndReplayed) {
    {
        FileBoard board(path);
        ASSERT_TRUE(board.ok);
    }
    nlohmann::json doc = ReadJson();
    doc["faults"] = {{"failAttempts", {2, 3}}, {"unplugBeforeAttempt", 5}};
    WriteText(doc.dump());

    SimBench bench;
    ASSERT_TRUE(bench.backend->SetStateFile(path));
    EXPECT_FALSE(ReadJson().contains("faults"));
    bench.Acquire(kBoardProduct);
    std::vector<bool> attempts;
    for (int i = 0; i < 6; ++i) attempts.push_back(bench.protocol.ReadScheduleEntry().has_value());  // one attempt each
    EXPECT_EQ(attempts, (std::vector<bool>{true, false, false, true, false, false}));
    EXPECT_EQ(bench.Board().Mode(), BoardMode::Absent);

    // A plan is checked like everything else in the file.
    doc["faults"] = {{"failAttempts", {0}}};
    WriteText(doc.dump());
    SimulatedHidBackend other;
    std::string error;
    EXPECT_FALSE(other.SetStateFile(path, &error));
    EXPECT_NE(error.find("failAttempts"), std::string::npos) << error;
}

}  // namespace
}  // namespace quelvan::sim::testing
