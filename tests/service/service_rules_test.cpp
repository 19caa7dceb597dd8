// The service's small rules, each a table: who may connect, how the byte stream is cut into
// messages, and how the log lines look.

#include <gtest/gtest.h>

#include "backend/service_protocol.h"
#include "service/peer_access.h"
#include "service/service_log.h"

namespace quelvan::service {
namespace {

TEST(ServiceRules, OnlyRootTheServicesUserAndItsGroupMayConnect) {
    const ServiceIdentity service{997, 990};  // user and group "quelvan"
    struct Case {
        const char* who;
        PeerIdentity peer;
        bool allowed;
    };
    const Case cases[] = {
        {"root", {0, 0, {}, 1}, true},
        {"the service's own user", {997, 997, {}, 2}, true},
        {"primary group quelvan", {1000, 990, {}, 3}, true},
        {"supplementary group quelvan", {1000, 1000, {24, 990}, 4}, true},
        {"another user", {1000, 1000, {24, 27}, 5}, false},
        {"nobody", {65534, 65534, {}, 6}, false},
        {"root's group only", {1001, 0, {}, 7}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(PeerAllowed(c.peer, service), c.allowed) << c.who;
}

TEST(ServiceRules, MessagesAreCutAtLineBreaksAndOversizedOnesCostOnlyThemselves) {
    struct Case {
        std::vector<std::string> pieces;
        std::vector<std::string> lines;  // "!" for a message reported as too long
    };
    const std::string big(40, 'x'), bigThenOk = big + "\nok\n", bigTail = big.substr(20) + "tail";
    const std::string full(32, 'y'), fullLine = full + "\n";
    const Case cases[] = {
        {{"ab\ncd\n"}, {"ab", "cd"}}, {{"a", "b", "\nc", "d\n", "e"}, {"ab", "cd"}},         {{"\n"}, {""}},
        {{bigThenOk}, {"!", "ok"}},   {{big.substr(0, 20), bigTail, "\nok\n"}, {"!", "ok"}}, {{fullLine}, {full}},
    };
    for (const Case& c : cases) {
        wire::LineSplitter splitter(32);
        std::vector<std::string> lines;
        for (const std::string& p : c.pieces) {
            splitter.Feed(p.data(), p.size());
            while (auto line = splitter.Next()) lines.push_back(line->tooLong ? "!" : line->text);
        }
        EXPECT_EQ(lines, c.lines) << c.pieces.front();
    }
    const std::uint8_t bytes[] = {0x01, 0xAB, 0x00, 0xFF};
    EXPECT_EQ(wire::ToHex(bytes, 4), "01ab00ff");
    EXPECT_EQ(wire::FromHex("01AB00ff"), (std::vector<std::uint8_t>{0x01, 0xAB, 0x00, 0xFF}));
    for (const char* bad : {"0", "0g", "zz", "01 2"}) EXPECT_FALSE(wire::FromHex(bad)) << bad;
}

TEST(ServiceRules, LogLinesCarryTheJournalsPriorityUnderSystemd) {
    EXPECT_EQ(LogLine(LogLevel::Error, "socket gone", true), "<3>socket gone");
    EXPECT_EQ(LogLine(LogLevel::Warning, "refused", true), "<4>refused");
    EXPECT_EQ(LogLine(LogLevel::Info, "two\nlines", true), "<6>two lines");
    EXPECT_EQ(LogLine(LogLevel::Info, "held", false), "quelvand: held");
}

}  // namespace
}  // namespace quelvan::service
