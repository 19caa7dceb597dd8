// The service's small rules, each a table: who may connect, how the byte stream is cut into
// messages, and how the log lines look.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "backend/service_protocol.h"
#include "service/peer_access.h"
#include "service/repeated_event_log.h"
#include "service/service_log.h"
#include "service/systemd_notifier.h"

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

TEST(ServiceRules, RepeatedEventsAreLoggedAsOneLineAPeriodWithTheirCount) {
    std::vector<std::string> lines;
    {
        RepeatedEventLog refused(LogLevel::Warning, "wrong tokens refused", 150,
                                 [&](LogLevel, const std::string& line) { lines.push_back(line); });
        for (int i = 0; i < 500; ++i) refused.Note("from 127.0.0." + std::to_string(i % 7));
        EXPECT_TRUE(lines.empty()) << "nothing before the period is over";
        QElapsedTimer t;
        t.start();
        while (lines.empty() && t.elapsed() < 2000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], "500 wrong tokens refused in the last 150 ms (the last from 127.0.0.2)");
        refused.Note("from ::1");
        refused.Note("from ::1");
    }
    ASSERT_EQ(lines.size(), 2u) << "what is still counted is logged at the end";
    EXPECT_EQ(lines[1], "2 wrong tokens refused in the last 150 ms (the last from ::1)");
}

TEST(ServiceRules, TheWatchdogIsTheStartedProcesssOnlyAndItsIntervalAPlainNumber) {
    const std::string own = std::to_string(::getpid());
    const std::string other = std::to_string(::getpid() + 1);
    struct Case {
        const char* usec;  // nullptr: unset
        const char* pid;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, 0},     {"30000000", nullptr, 30000000}, {"30000000", own.c_str(), 30000000},
        {"30000000", other.c_str(), 0}, {"30000000", "x", 0},       {"", nullptr, 0},
        {"abc", nullptr, 0},      {"-5", nullptr, 0},              {"12x", nullptr, 0},
        {"0", nullptr, 0},
    };
    for (const Case& c : cases) {
        c.usec ? ::setenv("WATCHDOG_USEC", c.usec, 1) : ::unsetenv("WATCHDOG_USEC");
        c.pid ? ::setenv("WATCHDOG_PID", c.pid, 1) : ::unsetenv("WATCHDOG_PID");
        EXPECT_EQ(SystemdWatchdogMicroseconds(), c.expected) << (c.usec ? c.usec : "unset") << " pid " << (c.pid ? c.pid : "unset");
    }
    ::unsetenv("WATCHDOG_USEC");
    ::unsetenv("WATCHDOG_PID");
}

TEST(ServiceRules, SystemdHearsReadyStatusStoppingAndTheWatchdogOnThePathOrAbstractSocket) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string path = folder.filePath("notify").toStdString();
    const std::string abstract = "@quelvan-notify-test-" + std::to_string(::getpid());
    for (const std::string& name : {path, abstract}) {
        SCOPED_TRACE(name);
        const int listener = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(listener, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.data(), name.size());
        if (name[0] == '@') address.sun_path[0] = '\0';
        const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + (name[0] == '/'));
        ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), size), 0) << std::strerror(errno);
        // The next datagram, while the event loop runs (the watchdog's timer is on it).
        const auto next = [listener] {
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < 3000) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
                pollfd p{listener, POLLIN, 0};
                if (::poll(&p, 1, 10) == 1) {
                    char buffer[512];
                    const ssize_t n = ::recv(listener, buffer, sizeof buffer, 0);
                    return n < 0 ? std::string("(error)") : std::string(buffer, static_cast<std::size_t>(n));
                }
            }
            return std::string("(nothing)");
        };
        // The next message that is not a keep-alive.
        const auto said = [&next] {
            std::string message;
            while ((message = next()) == "WATCHDOG=1") {}
            return message;
        };
        ::setenv("NOTIFY_SOCKET", name.c_str(), 1);
        ::setenv("WATCHDOG_USEC", "100000", 1);  // a keep-alive every 50 ms
        ::unsetenv("WATCHDOG_PID");
        {
            SystemdNotifier notifier;
            EXPECT_EQ(next(), "WATCHDOG=1");
            notifier.Ready("1 board, socket /run/quelvan/quelvand.sock");
            EXPECT_EQ(said(), "READY=1\nSTATUS=1 board, socket /run/quelvan/quelvand.sock");
            notifier.Status("2 boards");
            EXPECT_EQ(said(), "STATUS=2 boards");
            notifier.Stopping();
            EXPECT_EQ(said(), "STOPPING=1");
        }
        ::unsetenv("WATCHDOG_USEC");
        for (pollfd p{listener, POLLIN, 0}; ::poll(&p, 1, 0) == 1;) {
            char drop[64];
            (void)::recv(listener, drop, sizeof drop, 0);  // keep-alives sent after STOPPING
        }
        {
            // Without a watchdog only what is said is sent.
            SystemdNotifier notifier;
            notifier.Status("quiet");
            EXPECT_EQ(next(), "STATUS=quiet");
            QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
            pollfd p{listener, POLLIN, 0};
            EXPECT_EQ(::poll(&p, 1, 200), 0);
        }
        ::unsetenv("NOTIFY_SOCKET");
        ::close(listener);
    }
}

}  // namespace
}  // namespace quelvan::service
