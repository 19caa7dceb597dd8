// Rules of whose a board's topics are, without a broker: when forget may empty them, and what
// counts as a payload at all.

#include <gtest/gtest.h>

#include "mqtt/mqtt_discovery.h"
#include "mqtt/mqtt_forget.h"
#include "mqtt/mqtt_state.h"

namespace quelvan::service {
namespace {

using nlohmann::json;

TEST(MqttOwnerRules, ForgetEmptiesOnlyWhatTheBrokerHoldsOfABoardThatIsGoneAndThisServicesOwn) {
    const mqtt::Topics t("homeassistant", "quelvan", "quelvand-a");
    const std::string id = "QV2-1";
    auto config = [&](const std::string& service) {
        return json{{"availability",
                     {{{"topic", t.Availability(id)}}, {{"topic", "quelvan/service/" + service + "/availability"}}}}}
            .dump();
    };
    const std::string lightConfig = t.Config(mqtt::Component::Light, id, "channel_a");
    using Held = std::map<std::string, std::string>;
    struct Case {
        const char* what;
        Held held;
        bool force;
        const char* refusal;  // nullptr: taken
        std::size_t topics = 0;
    };
    const Case cases[] = {
        {"nothing held: a mistyped serial", {}, false, "the broker holds nothing for board QV2-1"},
        {"nothing held, forced all the same", {}, true, "holds nothing"},
        {"held by this service and gone",
         {{t.State(id), R"({"service":"quelvand-a"})"}, {t.Availability(id), "offline"}, {lightConfig, config("x")}},
         false,
         nullptr,
         3},
        {"online",
         {{t.Availability(id), "online"}, {t.State(id), R"({"service":"quelvand-b"})"}},
         false,
         "board QV2-1 is online (held by the service quelvand-b)"},
        {"online, owner unknown", {{t.Availability(id), "online"}}, false, "board QV2-1 is online;"},
        {"online, forced", {{t.Availability(id), "online"}}, true, nullptr, 1},
        {"another service's state",
         {{t.State(id), R"({"service":"quelvand.b"})"}, {t.Availability(id), "offline"}},
         false,
         "belongs to the service quelvand_b, not to this one (quelvand-a)"},
        {"another service's, forced", {{t.State(id), R"({"service":"quelvand-b"})"}}, true, nullptr, 1},
        {"no state: the configs name the service",
         {{lightConfig, config("quelvand-b")}},
         false,
         "belongs to the service quelvand-b"},
        {"no state, configs of this service", {{lightConfig, config("quelvand-a")}}, false, nullptr, 1},
        {"a state that names nobody", {{t.State(id), R"({"service":7})"}}, false, nullptr, 1},
        {"a state with a NUL names nobody, it is no state",
         {{t.State(id), std::string("{\"service\":\"quelvand-b\"}\0", 25)}},
         false,
         nullptr,
         1},
        {"topics that are not the board's are not emptied",
         {{"quelvan/QV2-1/channel_a/set", "{}"}, {"quelvan/QV2-10/state", "{}"}},
         false,
         "holds nothing"},
    };
    for (const Case& c : cases) {
        const mqtt::ForgetVerdict verdict = mqtt::JudgeForget(t, id, c.held, c.force);
        EXPECT_EQ(verdict.ok, c.refusal == nullptr) << c.what << ": " << verdict.refusal;
        if (c.refusal) {
            EXPECT_NE(verdict.refusal.find(c.refusal), std::string::npos) << c.what << ": " << verdict.refusal;
        } else {
            EXPECT_EQ(verdict.topics.size(), c.topics) << c.what;
            for (const std::string& topic : verdict.topics) EXPECT_TRUE(c.held.count(topic)) << c.what << topic;
        }
    }
}

TEST(MqttOwnerRules, APayloadWithANulByteIsNoJson) {
    EXPECT_TRUE(mqtt::ParsePayload(R"(["QV2-1"])").is_array());
    EXPECT_TRUE(mqtt::ParsePayload(std::string("[\"QV2-1\"]\0[]", 12)).is_discarded());
    EXPECT_TRUE(mqtt::ParsePayload(std::string("\0", 1)).is_discarded());
    EXPECT_TRUE(mqtt::ParsePayload("").is_discarded());
}

TEST(MqttOwnerRules, TheTopicsForLookingAtABoardAndItsService) {
    const mqtt::Topics t("ha", "home/quelvan", "quelvand-tank.lan");
    EXPECT_EQ(t.BoardConfigs("X"), "ha/+/X/+/config");
    EXPECT_EQ(t.BoardTopics("X"), "home/quelvan/X/#");
    EXPECT_EQ(t.ServiceProbe(), "home/quelvan/service/quelvand-tank_lan/probe");
    EXPECT_EQ(t.ParseServiceAvailability("home/quelvan/service/quelvand-b/availability"), "quelvand-b");
    EXPECT_FALSE(t.ParseServiceAvailability("home/quelvan/service/a/b/availability"));
    EXPECT_FALSE(t.ParseServiceAvailability("quelvan/service/b/availability"));
    EXPECT_FALSE(t.ParseServiceAvailability("home/quelvan/X/availability"));
}

}  // namespace
}  // namespace quelvan::service
