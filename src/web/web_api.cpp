#include "web/web_api.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <initializer_list>
#include <string_view>

#include "device/board_modes.h"
#include "device/channel_names.h"
#include "device/channel_values.h"
#include "device/identification.h"
#include "device/weather_conversions.h"
#include "schedule/board_json.h"
#include "schedule/graph_geometry.h"
#include "schedule/schedule_table.h"
#include "schedule/schedule_transfer.h"

namespace quelvan::service {

using nlohmann::json;

struct WebApi::Call {
    std::string serial;
    std::string parameter;  // the channel letter, the entry's index
    json body;              // an object
    Answer answer;
};

namespace {

WebReply Error(int status, const std::string& text) {
    return {status, json{{"ok", false}, {"error", text}}, {}};
}

// A route: literal segments, "*" for the board's serial number, "#" for the parameter.
struct Route {
    std::vector<std::string_view> pattern;
    const char* method;
    void (WebApi::*handler)(const WebApi::Call&);
    bool needsBody;  // POST with a JSON object (an empty body is {} for the others)
};

bool Matches(const Route& route, const std::vector<std::string>& path, std::string& serial, std::string& parameter) {
    if (route.pattern.size() != path.size()) return false;
    std::string s, p;
    std::size_t i = 0;
    for (const std::string_view part : route.pattern) {
        const std::string& segment = path[i++];
        if (part == "*")
            s = segment;
        else if (part == "#")
            p = segment;
        else if (segment != part)
            return false;
    }
    serial = s;
    parameter = p;
    return true;
}

// Unknown keys are refused, so that a misspelt name is not silently ignored.
std::optional<WebReply> UnknownKey(const json& body, std::initializer_list<const char*> known) {
    for (const auto& [key, value] : body.items()) {
        bool found = false;
        for (const char* k : known) found = found || key == k;
        if (!found) return Error(400, "unknown key \"" + key + "\"");
    }
    return std::nullopt;
}

std::string Range(long long minimum, long long maximum) {
    return "a whole number between " + std::to_string(minimum) + " and " + std::to_string(maximum);
}

// `value` as a whole number in [minimum, maximum] into `target`; otherwise the refusal: 400
// for what is not a whole number at all (2.5, true, "3"), 422 for one out of range.
std::optional<WebReply> TakeWhole(const json& value, long long minimum, long long maximum, const std::string& what,
                                  std::optional<int>& target) {
    if (!value.is_number_integer()) return Error(400, what + " takes " + Range(minimum, maximum));
    const long long number = value.is_number_unsigned() && value.get<unsigned long long>() > 1'000'000'000ull
                                 ? maximum + 1
                                 : value.get<long long>();
    if (number < minimum || number > maximum) return Error(422, what + " takes " + Range(minimum, maximum));
    target = static_cast<int>(number);
    return std::nullopt;
}

std::string ColorText(std::uint32_t argb) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "#%06x", static_cast<unsigned>(argb & 0xFFFFFF));
    return text.data();
}

// The day program as quelvanctl --json schedule prints it, with what a graph of it needs:
// each channel's name and the colour its curve has in the window.
json ScheduleReply(const std::vector<ScheduleEntry>& table, const DeviceConfig& config) {
    json reply = ScheduleJson(table);
    json channels = json::array();
    for (int n = 0; n < kChannelCount; ++n) {
        const int colorName = config.ColorName[static_cast<std::size_t>(n)];
        channels.push_back({{"letter", std::string(1, ChannelLetter(n))},
                            {"name", ChannelDisplayName(n, colorName)},
                            {"color", ColorText(GraphLineColor(colorName))}});
    }
    reply["channels"] = channels;
    return reply;
}

std::optional<WebReply> Failed(const std::string& what, const TransferResult& result) {
    if (result.ok) return std::nullopt;
    return Error(502, what + " failed: the board did not answer");
}

}  // namespace

WebApi::WebApi(BoardOwner& owner) : owner_(owner) {}

WebApi::~WebApi() {
    *alive_ = false;
}

void WebApi::Handle(const std::string& method, const std::vector<std::string>& path, const std::string& body,
                    Answer answer) {
    static const Route routes[] = {
        {{"boards"}, "GET", &WebApi::Boards, false},
        {{"boards", "*", "status"}, "GET", &WebApi::Status, false},
        {{"boards", "*", "config"}, "GET", &WebApi::Config, false},
        {{"boards", "*", "weather"}, "GET", &WebApi::Weather, false},
        {{"boards", "*", "weather"}, "POST", &WebApi::SetWeather, true},
        {{"boards", "*", "schedule"}, "GET", &WebApi::Schedule, false},
        {{"boards", "*", "schedule", "#"}, "POST", &WebApi::SetEntry, true},
        {{"boards", "*", "channels", "#"}, "POST", &WebApi::SetChannel, true},
        {{"boards", "*", "mode"}, "POST", &WebApi::SetMode, true},
        {{"boards", "*", "clock", "sync"}, "POST", &WebApi::SyncClock, false},
        {{"boards", "*", "save-eeprom"}, "POST", &WebApi::SaveEeprom, false},
    };
    const Route* route = nullptr;
    std::string allow, serial, parameter;
    for (const Route& r : routes) {
        if (!Matches(r, path, serial, parameter)) continue;
        allow += (allow.empty() ? "" : ", ") + std::string(r.method);
        if (method == r.method) route = &r;
    }
    if (!route) {
        if (allow.empty()) return answer(Error(404, "no such resource"));
        WebReply reply = Error(405, "this resource takes " + allow);
        reply.allow = allow;
        return answer(reply);
    }
    if (route->pattern.size() > 1) {
        const HeldDevice* board = serial.empty() ? nullptr : owner_.FindBoard(serial);
        if (!board) return answer(Error(404, "no board " + serial));
    }
    Call call{serial, parameter, json::object(), std::move(answer)};
    if (method == "POST" && (route->needsBody || !body.empty())) {
        // The JSON reader would take a NUL for the end of the text and what follows it for
        // nothing: a body with one is malformed.
        if (body.find('\0') != std::string::npos) return call.answer(Error(400, "the body is not a JSON object"));
        call.body = json::parse(body, nullptr, false);
        if (call.body.is_discarded() || !call.body.is_object())
            return call.answer(Error(400, "the body is not a JSON object"));
    }
    (this->*route->handler)(call);
}

json WebApi::BoardsJson() const {
    json boards = json::array();
    for (const HeldDevice* d : owner_.Devices()) {
        if (d->role != DeviceRole::Board) continue;
        json board = {{"serial", d->serial},        {"manufacturer", d->manufacturer},
                      {"product", d->product},      {"path", d->info.path},
                      {"role", RoleName(d->role)},  {"ready", StatusOf(*d).has_value()},
                      {"firmware_version", nullptr}};
        if (d->liveValid) board["firmware_version"] = d->live.FirmwareVersion;
        boards.push_back(std::move(board));
    }
    json modes = json::array();
    for (std::string_view name : kModeNames) modes.push_back(std::string(name));
    return {{"boards", boards}, {"modes", modes}};
}

std::optional<json> WebApi::StatusOf(const HeldDevice& board) const {
    if (!board.liveValid || !board.configValid) return std::nullopt;
    json status = StatusJson(board.live, board.config);
    status.update(FreshnessJson(board));
    if (sun)
        if (std::optional<json> today = sun(board.serial)) status["sun"] = std::move(*today);
    return status;
}

void WebApi::Write(const Call& call, Work work, Success success) {
    auto refused = std::make_shared<std::optional<WebReply>>();
    owner_.RunSession(
        call.serial, [work, refused](BoardProtocol& board) { *refused = work(board); },
        [this, alive = std::weak_ptr<bool>(alive_), serial = call.serial, refused, success, answer = call.answer](
            bool ok, const std::string& error) {
            if (alive.expired()) return;
            const HeldDevice* board = owner_.FindBoard(serial);
            if (!board) return answer(Error(404, "no board " + serial + " any more"));
            if (!ok) return answer(Error(503, "the board cannot be used now: " + error));
            if (*refused) return answer(**refused);
            answer(success(*board));
        },
        "web");
}

WebReply WebApi::StatusReply(const HeldDevice& board) const {
    if (const auto status = StatusOf(board)) return {200, *status, {}};
    return Error(502, "the board was not read back");
}

WebApi::Success WebApi::StatusSuccess() const {
    return [this](const HeldDevice& board) { return StatusReply(board); };
}

void WebApi::Boards(const Call& call) {
    call.answer({200, BoardsJson(), {}});
}

void WebApi::Status(const Call& call) {
    const HeldDevice& board = *owner_.FindBoard(call.serial);
    if (board.liveValid && board.live.FirmwareVersion != kSupportedFirmwareVersion)
        return call.answer(Error(503, "the board runs firmware version " + std::to_string(board.live.FirmwareVersion) +
                                          "; version " + std::to_string(kSupportedFirmwareVersion) + " is supported"));
    if (!StatusOf(board)) return call.answer(Error(503, "the board has not been read yet"));
    call.answer(StatusReply(board));
}

void WebApi::Config(const Call& call) {
    const HeldDevice& board = *owner_.FindBoard(call.serial);
    if (!board.configValid) return call.answer(Error(503, "the board has not been read yet"));
    call.answer({200, json(ConfigJson(board.config)), {}});
}

void WebApi::Weather(const Call& call) {
    const HeldDevice& board = *owner_.FindBoard(call.serial);
    if (!board.configValid) return call.answer(Error(503, "the board has not been read yet"));
    call.answer({200, json(WeatherJson(board.config)), {}});
}

void WebApi::Schedule(const Call& call) {
    auto table = std::make_shared<std::vector<ScheduleEntry>>();
    auto config = std::make_shared<DeviceConfig>();
    Write(
        call,
        [table, config](BoardProtocol& board) -> std::optional<WebReply> {
            ScheduleTable loaded;
            const ScheduleLoadResult load = LoadSchedule(board, loaded);
            if (!load.complete)
                return Error(502, "reading the day program failed: " + std::to_string(load.stored) + " of " +
                                      std::to_string(load.reads) + " entries arrived");
            *table = loaded.Entries();
            *config = board.config;
            return std::nullopt;
        },
        [table, config](const HeldDevice&) {
            return WebReply{200, ScheduleReply(*table, *config), {}};
        });
}

void WebApi::SetWeather(const Call& call) {
    if (auto bad = UnknownKey(call.body, {"clouds_per_day", "cloud_seconds", "storms_per_day", "storm_minutes"}))
        return call.answer(*bad);
    WeatherChange change;
    const std::pair<const char*, std::pair<WeatherRange, std::optional<int>*>> fields[] = {
        {"clouds_per_day", {kCloudCountRange, &change.cloudsPerDay}},
        {"cloud_seconds", {kCloudSecondsRange, &change.cloudSeconds}},
        {"storms_per_day", {kStormCountRange, &change.stormsPerDay}},
        {"storm_minutes", {kStormMinutesRange, &change.stormMinutes}},
    };
    for (const auto& [key, target] : fields) {
        if (!call.body.contains(key)) continue;
        const auto [range, value] = target;
        if (auto bad = TakeWhole(call.body.at(key), range.minimum, range.maximum, key, *value))
            return call.answer(*bad);
    }
    if (call.body.empty())
        return call.answer(
            Error(400, "give at least one of clouds_per_day, cloud_seconds, storms_per_day, storm_minutes"));
    Write(
        call,
        [change](BoardProtocol& board) {
            ApplyWeatherChange(board.config, change);
            return Failed("writing the settings", board.WriteDeviceConfig());
        },
        [](const HeldDevice& board) {
            return WebReply{200, json(WeatherJson(board.config)), {}};
        });
}

void WebApi::SetEntry(const Call& call) {
    // One spelling per row: digits only, no sign, no leading zero; checked against the row
    // count the owner last read before the board is touched.
    const std::string& text = call.parameter;
    const bool digits = !text.empty() && text.size() <= 3 && (text == "0" || text.front() != '0') &&
                        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    const HeldDevice& held = *owner_.FindBoard(call.serial);
    if (!held.liveValid) return call.answer(Error(503, "the board has not been read yet"));
    const int count = held.live.EntryCount;
    const int index = digits ? std::stoi(text) : -1;
    if (index < 0 || index >= count)
        return call.answer(Error(404, "no entry " + text + ": the day program has " + std::to_string(count) +
                                          " entries (0.." + std::to_string(count - 1) + ")"));
    if (auto bad = UnknownKey(call.body, {"hour", "minute", "channels"})) return call.answer(*bad);
    const bool time = call.body.contains("hour") || call.body.contains("minute");
    std::optional<int> hour, minute;
    if (time) {
        if (!call.body.contains("hour") || !call.body.contains("minute"))
            return call.answer(Error(400, "hour and minute go together"));
        if (auto bad = TakeWhole(call.body.at("hour"), 0, 24, "hour", hour)) return call.answer(*bad);
        if (auto bad = TakeWhole(call.body.at("minute"), 0, 59, "minute", minute)) return call.answer(*bad);
        if (*hour == 24 && *minute != 0) return call.answer(Error(422, "hour 24 only with minute 0"));
    }
    std::optional<std::array<std::uint8_t, kChannelCount>> colors;
    if (call.body.contains("channels")) {
        const json& list = call.body.at("channels");
        if (!list.is_array() || list.size() != kChannelCount)
            return call.answer(Error(400, "channels takes twelve percentages, A to L"));
        colors.emplace();
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            std::optional<int> percent;
            if (auto bad = TakeWhole(list[c], 0, 100, "each of the channels", percent)) return call.answer(*bad);
            (*colors)[c] = static_cast<std::uint8_t>(*percent);
        }
    }
    if (!time && !colors) return call.answer(Error(400, "give hour and minute, channels, or both"));
    auto written = std::make_shared<std::vector<ScheduleEntry>>();
    auto config = std::make_shared<DeviceConfig>();
    Write(
        call,
        [index, hour, minute, colors, written, config](BoardProtocol& board) -> std::optional<WebReply> {
            ScheduleTable table;
            const ScheduleLoadResult load = LoadSchedule(board, table);
            if (!load.complete)
                return Error(502, "reading the day program failed: " + std::to_string(load.stored) + " of " +
                                      std::to_string(load.reads) + " entries arrived; nothing was written");
            if (static_cast<std::size_t>(index) >= table.Size())
                return Error(404, "no entry " + std::to_string(index) + ": the day program has " +
                                      std::to_string(table.Size()) + " entries");
            ScheduleEntry& entry = table.Rows()[static_cast<std::size_t>(index)];
            if (hour) entry.Hour = static_cast<std::int8_t>(*hour);
            if (minute) entry.Minute = static_cast<std::int8_t>(*minute);
            if (colors) entry.Color = *colors;
            // As "Hochladen" does: the board runs its program in the order of time.
            table.SortByTime();
            const ScheduleWriteResult result = WriteSchedule(board, table);
            if (!result.total.ok)
                return Error(502, "writing the day program failed: " + std::to_string(result.failed) + " of " +
                                      std::to_string(table.Size()) + " entries not written");
            *written = table.Entries();
            *config = board.config;
            return std::nullopt;
        },
        [written, config](const HeldDevice&) {
            return WebReply{200, ScheduleReply(*written, *config), {}};
        });
}

void WebApi::SetChannel(const Call& call) {
    const std::optional<int> channel = ParseChannel(call.parameter);
    if (!channel) return call.answer(Error(404, "no channel " + call.parameter + " (A..L, or all)"));
    if (auto bad = UnknownKey(call.body, {"percent"})) return call.answer(*bad);
    const json* percent = call.body.contains("percent") ? &call.body.at("percent") : nullptr;
    if (!percent || !percent->is_number()) return call.answer(Error(400, "percent takes a number between 0 and 100"));
    const double value = percent->get<double>();
    if (!(value >= 0 && value <= 100)) return call.answer(Error(422, "percent takes a number between 0 and 100"));
    const bool all = *channel == kAllChannels;
    if (all && value != 0 && value != 100)
        return call.answer(Error(422, "all channels take 0 (all off) or 100 (all on)"));
    Write(
        call,
        [n = *channel, all, value](BoardProtocol& board) -> std::optional<WebReply> {
            if (all) {
                // As "ALLES AUS"/"ALLES EIN": "Manuell" first, or the board's program would
                // override the values at once.
                board.config.Mode = 0;
                if (auto failed = Failed("writing the settings", board.WriteDeviceConfig())) return failed;
                board.live.ChannelValue.fill(value > 0 ? kChannelFullOn : 0);
            } else {
                if (board.config.Mode != 0)
                    return Error(409, "the board runs in mode \"" + std::string(ModeName(board.config.Mode)) +
                                          "\", whose program sets the channels; switch to \"Manuell\" first");
                board.live.ChannelValue[static_cast<std::size_t>(n)] = ChannelValueFromPercent(value);
            }
            return Failed("writing the live state", board.WriteLiveState(false, false, true));
        },
        StatusSuccess());
}

void WebApi::SetMode(const Call& call) {
    if (auto bad = UnknownKey(call.body, {"mode"})) return call.answer(*bad);
    const json* name = call.body.contains("mode") ? &call.body.at("mode") : nullptr;
    if (!name || !name->is_string()) return call.answer(Error(400, "mode takes manual, auto, demo, flash or slave"));
    const std::optional<int> mode = ParseModeName(name->get<std::string>());
    if (!mode) return call.answer(Error(422, "mode takes manual, auto, demo, flash or slave"));
    Write(
        call,
        [mode = *mode](BoardProtocol& board) {
            board.config.Mode = static_cast<std::uint8_t>(mode);
            return Failed("writing the settings", board.WriteDeviceConfig());
        },
        StatusSuccess());
}

void WebApi::SyncClock(const Call& call) {
    if (auto bad = UnknownKey(call.body, {})) return call.answer(*bad);
    Write(
        call,
        [](BoardProtocol& board) {
            board.SetClockFromComputer();
            return Failed("writing the live state", board.WriteLiveState(true, false, false));
        },
        StatusSuccess());
}

void WebApi::SaveEeprom(const Call& call) {
    if (auto bad = UnknownKey(call.body, {})) return call.answer(*bad);
    Write(
        call, [](BoardProtocol& board) { return Failed("saving the settings to EEPROM", board.SaveEEPROM()); },
        StatusSuccess());
}

}  // namespace quelvan::service
