// quelvand.conf read as a whole, each section a table: the owner's [service], the broker's
// [mqtt] (and what it asks of [service]) and the page's [web].

#include <gtest/gtest.h>

#include "daemon/daemon_config.h"

namespace quelvan::service {
namespace {

TEST(ConfigRules, ConfigurationKeysDefaultsAndBadValues) {
    struct Case {
        const char* text;
        int pollMs;
        std::vector<std::string> boards;
        std::string socket;
        std::size_t errors, warnings;
    };
    const Case cases[] = {
        {"", 1000, {}, "", 0, 0},
        {"# only comments\n[service]\n#poll_ms = 5\n", 1000, {}, "", 0, 0},
        {"[service]\npoll_ms = 250\nboards = QV2-1, QV2-2\nsocket = /tmp/q.sock\n",
         250,
         {"QV2-1", "QV2-2"},
         "/tmp/q.sock",
         0,
         0},
        {"[SERVICE]\nPoll_MS = 0\nboards = all\n", 0, {}, "", 0, 0},
        {"[service]\npoll_ms = 50\n", 1000, {}, "", 1, 0},
        {"[service]\npoll_ms = fast\n", 1000, {}, "", 1, 0},
        {"[service]\npoll_ms = -1\n", 1000, {}, "", 1, 0},
        {"[service]\nboards =\n", 1000, {}, "", 1, 0},
        {"[service]\nsocket = relative.sock\n", 1000, {}, "", 1, 0},
        {"[service]\ncolour = blue\n[garden]\nhost = x\n", 1000, {}, "", 0, 2},
        {"[service]\npoll_ms = 200\npoll_ms = 300\n", 200, {}, "", 0, 1},
        {"[service]\npoll_ms 200\n", 1000, {}, "", 1, 0},
    };
    for (const Case& c : cases) {
        const ConfigOutcome outcome = ParseServiceConfig(c.text);
        EXPECT_EQ(outcome.config.service.pollMs, c.pollMs) << c.text;
        EXPECT_EQ(outcome.config.service.boards, c.boards) << c.text;
        EXPECT_EQ(outcome.config.service.socket, c.socket) << c.text;
        EXPECT_EQ(outcome.errors.size(), c.errors) << c.text;
        EXPECT_EQ(outcome.warnings.size(), c.warnings) << c.text;
    }
    EXPECT_FALSE(LoadServiceConfig("/nonexistent/quelvand.conf", true).errors.empty());
    EXPECT_TRUE(LoadServiceConfig("/nonexistent/quelvand.conf", false).errors.empty());
}

TEST(ConfigRules, WebSectionIsOffUnlessPresentAndTakesAddressPortAndTokenFile) {
    struct Case {
        const char* text;
        bool enabled;
        std::string listen;
        int port;
        std::string tokenFile;
        bool loopback;
        std::size_t errors;
    };
    const Case cases[] = {
        {"", false, "127.0.0.1", 8468, "", true, 0},
        {"[web]\n", true, "127.0.0.1", 8468, "", true, 0},
        {"[Web]\nlisten = ::1\nport = 9000\ntoken_file = /etc/quelvan/web-token\n", true, "::1", 9000,
         "/etc/quelvan/web-token", true, 0},
        {"[web]\nlisten = 0.0.0.0:8080\n", true, "0.0.0.0", 8080, "", false, 0},
        {"[web]\nlisten = [::1]:8080\nport = 8080\n", true, "::1", 8080, "", true, 0},
        {"[web]\nlisten = localhost\n", true, "127.0.0.1", 8468, "", true, 0},
        {"[web]\nlisten = 127.0.0.1:8080\nport = 9090\n", true, "127.0.0.1", 8080, "", true, 1},
        {"[web]\nlisten = tank.local\n", true, "127.0.0.1", 8468, "", true, 1},
        {"[web]\nport = 0\n", true, "127.0.0.1", 8468, "", true, 1},
        {"[web]\nport = 70000\n", true, "127.0.0.1", 8468, "", true, 1},
        {"[web]\ntoken_file = web-token\n", true, "127.0.0.1", 8468, "", true, 1},
    };
    for (const Case& c : cases) {
        const ConfigOutcome outcome = ParseServiceConfig(c.text);
        const WebSection& web = outcome.config.web;
        EXPECT_EQ(web.enabled, c.enabled) << c.text;
        EXPECT_EQ(web.listen, c.listen) << c.text;
        EXPECT_EQ(web.port, c.port) << c.text;
        EXPECT_EQ(web.tokenFile, c.tokenFile) << c.text;
        EXPECT_EQ(WebListensOnLoopback(web), c.loopback) << c.text;
        EXPECT_EQ(outcome.errors.size(), c.errors) << c.text;
    }
}

TEST(ConfigRules, TheMqttSectionsKeysDefaultsAndBadValues) {
    const ConfigOutcome none = ParseServiceConfig("");
    EXPECT_FALSE(none.config.mqtt.Enabled());
    EXPECT_EQ(none.config.mqtt.discoveryPrefix, "homeassistant");
    EXPECT_EQ(none.config.mqtt.baseTopic, "quelvan");
    EXPECT_EQ(none.config.mqtt.keepalive, 60);
    EXPECT_EQ(none.config.service.configPollMs, 10000);

    const ConfigOutcome full = ParseServiceConfig(
        "[mqtt]\nhost = broker.lan\nusername = tank\npassword_file = /etc/quelvan/mqtt.pw\n"
        "ca_file = /etc/ssl/ca.pem\nkeepalive = 30\nclient_id = tank-1\ndiscovery_prefix = ha\n"
        "base_topic = home/quelvan\n[service]\nconfig_poll_ms = 0\n");
    ASSERT_TRUE(full.errors.empty()) << full.errors.front();
    const MqttSection& m = full.config.mqtt;
    EXPECT_TRUE(m.Enabled() && m.Tls());
    EXPECT_EQ(m.Port(), 8883) << "TLS without a port: the TLS port";
    EXPECT_EQ(m.host + m.username + m.passwordFile + m.caFile + m.clientId + m.discoveryPrefix + m.baseTopic,
              "broker.lantank/etc/quelvan/mqtt.pw/etc/ssl/ca.pemtank-1hahome/quelvan");
    EXPECT_EQ(m.keepalive, 30);
    EXPECT_EQ(full.config.service.configPollMs, 0);
    EXPECT_EQ(ParseServiceConfig("[mqtt]\nhost = h\nport = 1884\n").config.mqtt.Port(), 1884);
    EXPECT_EQ(ParseServiceConfig("[mqtt]\nhost = h\n").config.mqtt.Port(), 1883);

    struct Bad {
        const char* text;
        std::size_t errors, warnings;
    };
    const Bad cases[] = {
        {"[mqtt]\nhost = h\nport = 70000\n", 1, 0},
        {"[mqtt]\nhost = h\nkeepalive = 2\n", 1, 0},
        {"[mqtt]\nhost = h\nbase_topic = quelvan/#\n", 1, 0},
        {"[mqtt]\nhost = h\ndiscovery_prefix = /ha\n", 1, 0},
        {"[mqtt]\nhost = h\nbase_topic =\n", 1, 0},
        {"[mqtt]\nhost = h\npassword_file = relative.pw\n", 1, 0},
        {"[mqtt]\nhost = h\n[service]\npoll_ms = 0\n", 1, 0},
        {"[mqtt]\nusername = tank\n", 0, 1},
        {"[mqtt]\nhost = h\nqos = 2\n", 0, 1},
    };
    for (const Bad& c : cases) {
        const ConfigOutcome outcome = ParseServiceConfig(c.text);
        EXPECT_EQ(outcome.errors.size(), c.errors) << c.text;
        EXPECT_EQ(outcome.warnings.size(), c.warnings) << c.text;
    }
}

}  // namespace
}  // namespace quelvan::service
