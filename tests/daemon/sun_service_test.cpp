// The day from the sun through a real quelvand, a real broker and the page's API: with
// [sun] follow = daily the board gets today's program at the start, Home Assistant is told
// of the two timestamp sensors and reads them from the board's state, and the page's status
// carries the place and today's times; without it no sensor is announced and no row written.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <regex>

#include "broker_service.h"

namespace quelvan::testing {
namespace {

using nlohmann::json;

constexpr const char* kSerial = "QV2-000123";
constexpr const char* kToken = "abcdefghijklmnopqrstuvwxyz234567";

// One GET over loopback, the body of the answer (bounded in time by the socket's timeout).
std::string HttpGet(int port, const std::string& path) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return {};
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + kToken +
                                    "\r\nConnection: close\r\n\r\n";
        if (::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) answer.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    const std::size_t body = answer.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : answer.substr(body + 4);
}

class SunThroughTheService : public BrokerService {
protected:
    void SetUp() override {
        ASSERT_TRUE(broker_.Running()) << "mosquitto did not start";
        WriteBoardState(state_, [](sim::SimulatedHidBackend& b) {
            std::vector<ScheduleEntry> rows(12);
            for (int i = 0; i < 12; ++i) {
                rows[static_cast<std::size_t>(i)].Hour = static_cast<std::int8_t>(2 * i);
                rows[static_cast<std::size_t>(i)].Color = {60, 30};
            }
            b.Board().Schedule() = rows;
        });
        std::ofstream(tokenFile_) << kToken << "\n";
        ::chmod(tokenFile_.c_str(), 0600);
    }
    void Start(const std::string& sun) {
        StartService("[web]\nport = " + std::to_string(webPort_) + "\ntoken_file = " + tokenFile_ + "\n" + sun, trace_);
    }
    int RowWrites() const {
        int n = 0;
        for (const TraceLine& l : ParseTrace(ReadLines(trace_)))
            if (l.isSet && l.reportId == 3 && !l.bytes.empty() && l.bytes.size() > 1 && l.bytes[1] != 255) ++n;
        return n;
    }

    const std::string trace_ = dir_.File("trace");
    const std::string tokenFile_ = dir_.File("web-token");
    const int webPort_ = FreeLoopbackPort();
};

std::string TodayUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &utc);
    return text;
}

TEST_F(SunThroughTheService, FollowingAnnouncesTwoTimestampSensorsAndThePageShowsTheDay) {
    Start("[sun]\nfollow = daily\nplace = Europe/London\n");
    const std::string stateTopic = std::string("quelvan/") + kSerial + "/state";
    ASSERT_TRUE(client_->WaitUntil([&] {
        const auto m = client_->Last(stateTopic);
        if (!m) return false;
        const json state = json::parse(m->payload, nullptr, false);
        return state.is_object() && state.contains("sun") && state["sun"].is_object();
    })) << service_->Log();
    const json sun = json::parse(client_->Last(stateTopic)->payload)["sun"];
    EXPECT_EQ(sun["place"], "Europe/London");
    EXPECT_EQ(sun["uploaded"], true);
    const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
    for (const char* key : {"sunrise_utc", "sunset_utc"}) {
        ASSERT_TRUE(sun[key].is_string()) << sun.dump();
        EXPECT_TRUE(std::regex_match(sun[key].get<std::string>(), iso)) << sun[key];
        EXPECT_EQ(sun[key].get<std::string>().substr(0, 10), TodayUtc()) << "London's day is the UTC day";
    }
    EXPECT_LT(sun["sunrise_utc"].get<std::string>(), sun["sunset_utc"].get<std::string>());
    EXPECT_EQ(RowWrites(), 12) << "the board's 12 rows, each once";

    struct Sensor {
        const char* object;
        const char* name;
        const char* key;
    };
    for (const Sensor& s :
         {Sensor{"sunrise", "Sonnenaufgang", "sunrise_utc"}, Sensor{"sunset", "Sonnenuntergang", "sunset_utc"}}) {
        const std::string topic = std::string("homeassistant/sensor/") + kSerial + "/" + s.object + "/config";
        ASSERT_TRUE(client_->WaitUntil([&] { return client_->Last(topic).has_value(); })) << topic;
        const json config = json::parse(client_->Last(topic)->payload, nullptr, false);
        ASSERT_TRUE(config.is_object()) << client_->Last(topic)->payload;
        EXPECT_EQ(config["name"], s.name);
        EXPECT_EQ(config["device_class"], "timestamp");
        EXPECT_EQ(config["state_topic"], stateTopic);
        EXPECT_NE(config["value_template"].get<std::string>().find(std::string("value_json.sun.") + s.key),
                  std::string::npos)
            << config["value_template"];
        EXPECT_EQ(config["unique_id"], std::string("quelvan_") + kSerial + "_" + s.object);
    }

    const json status =
        json::parse(HttpGet(webPort_, std::string("/api/boards/") + kSerial + "/status"), nullptr, false);
    ASSERT_TRUE(status.is_object() && status.contains("sun")) << status.dump();
    EXPECT_EQ(status["sun"]["place"], "Europe/London");
    EXPECT_EQ(status["sun"]["sunrise_utc"], sun["sunrise_utc"]);
    const std::regex hhmm(R"(\d\d:\d\d)");
    EXPECT_TRUE(std::regex_match(status["sun"]["sunrise"].get<std::string>(), hhmm)) << status["sun"];
    EXPECT_TRUE(std::regex_match(status["sun"]["sunset"].get<std::string>(), hhmm)) << status["sun"];
}

TEST_F(SunThroughTheService, WithoutFollowingNoSensorNoSunAndNoRowWritten) {
    Start("[sun]\nplace = Europe/London\n");
    const std::string stateTopic = std::string("quelvan/") + kSerial + "/state";
    ASSERT_TRUE(client_->WaitUntil([&] { return client_->Last(stateTopic).has_value(); })) << service_->Log();
    client_->Listen(std::chrono::milliseconds(600));
    EXPECT_FALSE(json::parse(client_->Last(stateTopic)->payload).contains("sun"));
    for (const char* object : {"sunrise", "sunset"}) {
        const auto config = client_->Last(std::string("homeassistant/sensor/") + kSerial + "/" + object + "/config");
        EXPECT_TRUE(!config || config->payload.empty()) << object;
    }
    const json status =
        json::parse(HttpGet(webPort_, std::string("/api/boards/") + kSerial + "/status"), nullptr, false);
    ASSERT_TRUE(status.is_object()) << status.dump();
    EXPECT_FALSE(status.contains("sun"));
    EXPECT_EQ(RowWrites(), 0);
    EXPECT_EQ(service_->Log().find("sun:"), std::string::npos) << service_->Log();
}

}  // namespace
}  // namespace quelvan::testing
