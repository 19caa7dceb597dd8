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

// The state file is joined with "=": the help shows it so, and a space instead, whose file
// name is then an argument nobody expects, is told how to write it.
TEST(CommandLine, SimulateStateFileIsJoinedWithEquals) {
    const Parsed help = Parse({"--help"});
    EXPECT_EQ(help.outcome.exitCode, kExitOk);
    EXPECT_NE(help.out.find("--simulate[=STATEFILE]"), std::string::npos) << help.out;
    EXPECT_EQ(help.out.find("--simulate [=STATEFILE]"), std::string::npos) << help.out;

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--simulate", "/tmp/board.json", "status"}, {"status", "--simulate", "board.json"}}) {
        const Parsed p = Parse(args);
        EXPECT_EQ(p.outcome.exitCode, kExitUsage);
        EXPECT_NE(p.err.find("write --simulate=FILE"), std::string::npos) << p.err;
        EXPECT_EQ(p.err.find("not expected"), std::string::npos) << p.err;
    }
    // Another stray argument keeps the parser's own message.
    EXPECT_NE(Parse({"--simulate", "status", "extra"}).err.find("not expected"), std::string::npos);
    // A bare --simulate before a command's own arguments is no mistake.
    const Parsed set = Parse({"set", "--simulate", "A", "50"});
    ASSERT_TRUE(set.outcome.request) << set.err;
    EXPECT_TRUE(set.outcome.request->simulate);
    EXPECT_EQ(set.outcome.request->stateFile, "");
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
