#include "schedule/graph_request.h"

#include <nlohmann/json.hpp>

namespace quelvan {

namespace {

using nlohmann::json;

int Number(const json& value, int low, int high, const char* what) {
    if (!value.is_number_integer()) throw std::invalid_argument(std::string(what) + " is not a whole number");
    const auto n = value.get<long long>();
    if (n < low || n > high)
        throw std::invalid_argument(std::string(what) + " lies outside " + std::to_string(low) + ".." +
                                    std::to_string(high));
    return static_cast<int>(n);
}

}  // namespace

std::string EncodeGraphRequest(const GraphRequest& request) {
    json entries = json::array();
    for (const ScheduleEntry& e : request.table) {
        json row = {int{e.Hour}, int{e.Minute}};
        for (std::uint8_t c : e.Color) row.push_back(int{c});
        entries.push_back(row);
    }
    json names = json::array();
    for (std::uint8_t name : request.colorNames) names.push_back(int{name});
    return json{{"width", request.width},     {"height", request.height},
                {"channel", request.channel}, {"clock", {request.clockHour, request.clockMinute}},
                {"color_names", names},       {"entries", entries}}
        .dump();
}

std::optional<GraphRequest> DecodeGraphRequest(std::string_view text, std::string* error) {
    try {
        const json in = json::parse(text);
        GraphRequest r;
        r.width = Number(in.at("width"), kMinGraphWidth, GraphRequest::kMaxSide, "width");
        r.height = Number(in.at("height"), kMinGraphHeight, GraphRequest::kMaxSide, "height");
        r.channel = Number(in.at("channel"), 0, kChannelCount - 1, "channel");
        const json& clock = in.at("clock");
        if (!clock.is_array() || clock.size() != 2) throw std::invalid_argument("clock is not [hour, minute]");
        r.clockHour = Number(clock[0], -128, 127, "clock hour");
        r.clockMinute = Number(clock[1], -128, 127, "clock minute");
        const json& names = in.at("color_names");
        if (!names.is_array() || names.size() != kChannelCount)
            throw std::invalid_argument("color_names does not hold twelve names");
        for (std::size_t c = 0; c < names.size(); ++c)
            r.colorNames[c] = static_cast<std::uint8_t>(Number(names[c], 0, 255, "color name"));
        const json& entries = in.at("entries");
        if (!entries.is_array() || entries.size() > 255) throw std::invalid_argument("entries is not a list of rows");
        for (const json& row : entries) {
            if (!row.is_array() || row.size() != 2 + kChannelCount)
                throw std::invalid_argument("a row does not hold hour, minute and twelve values");
            ScheduleEntry e;
            e.Hour = static_cast<std::int8_t>(Number(row[0], -128, 127, "hour"));
            e.Minute = static_cast<std::int8_t>(Number(row[1], -128, 127, "minute"));
            for (std::size_t c = 0; c < e.Color.size(); ++c)
                e.Color[c] = static_cast<std::uint8_t>(Number(row[2 + c], 0, 255, "value"));
            r.table.push_back(e);
        }
        return r;
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return std::nullopt;
    }
}

}  // namespace quelvan
