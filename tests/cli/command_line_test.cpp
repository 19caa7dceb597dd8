#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/command_values.h"

namespace quelvan::cli {
namespace {

struct Parsed {
    ParseOutcome outcome;
    std::string out, err;
};

Parsed Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "quelvanctl");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    Parsed p{ParseCommandLine(static_cast<int>(argv.size()), argv.data(), out, err), {}, {}};
    p.out = out.str();
    p.err = err.str();
    return p;
}

TEST(CommandLine, UsageErrorsExitWithTwoAndSayWhy) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"set", "A"},
        {"set", "A", "101"},
        {"set", "A", "-1"},
        {"set", "A", "100.01"},
        {"set", "A", "abc"},
        {"set", "A", ""},
        {"set", "M", "on"},
        {"set", "all", "50"},
        {"mode", "turbo"},
        {"clock", "25:00"},
        {"clock", "24:30"},
        {"clock", "7"},
        {"status", "extra"},
        {"--bogus", "status"},
    };
    for (const auto& args : cases) {
        const Parsed p = Parse(args);
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_FALSE(p.outcome.request) << joined;
        EXPECT_EQ(p.outcome.exitCode, kExitUsage) << joined;
        EXPECT_FALSE(p.err.empty()) << joined;
        EXPECT_TRUE(p.out.empty()) << joined;
    }
}

TEST(CommandLine, OptionsAndArgumentsReachTheRequest) {
    Parsed p = Parse({"--simulate=/tmp/board.json", "--trace", "/tmp/t.txt", "set", "c", "33,3", "--json"});
    ASSERT_TRUE(p.outcome.request) << p.err;
    Request r = *p.outcome.request;
    EXPECT_TRUE(r.simulate);
    EXPECT_EQ(r.stateFile, "/tmp/board.json");
    EXPECT_EQ(r.traceFile, "/tmp/t.txt");
    EXPECT_TRUE(r.json);
    EXPECT_EQ(r.command, Command::Set);
    EXPECT_EQ(r.channel, 2);
    EXPECT_FALSE(r.on);
    EXPECT_DOUBLE_EQ(r.percent, 33.3);

    p = Parse({"--simulate", "set", "all", "OFF"});
    ASSERT_TRUE(p.outcome.request) << p.err;
    r = *p.outcome.request;
    EXPECT_TRUE(r.simulate);
    EXPECT_EQ(r.stateFile, "");
    EXPECT_EQ(r.channel, kAllChannels);
    EXPECT_EQ(r.on, false);

    p = Parse({"--simulate=true", "status"});
    ASSERT_TRUE(p.outcome.request) << p.err;
    EXPECT_EQ(p.outcome.request->stateFile, "true");

    p = Parse({"clock", "24:00"});
    ASSERT_TRUE(p.outcome.request) << p.err;
    EXPECT_FALSE(p.outcome.request->simulate);
    EXPECT_EQ(p.outcome.request->command, Command::Clock);
    EXPECT_FALSE(p.outcome.request->clockSync);
    EXPECT_EQ(p.outcome.request->hour, 24);
    EXPECT_EQ(p.outcome.request->minute, 0);

    p = Parse({"clock", "sync"});
    ASSERT_TRUE(p.outcome.request);
    EXPECT_TRUE(p.outcome.request->clockSync);

    p = Parse({"mode", "Manuell"});
    ASSERT_TRUE(p.outcome.request);
    EXPECT_EQ(p.outcome.request->mode, 0);

    p = Parse({"save-eeprom"});
    ASSERT_TRUE(p.outcome.request);
    EXPECT_EQ(p.outcome.request->command, Command::SaveEEPROM);
}

}  // namespace
}  // namespace quelvan::cli
