#pragma once
// Everything the graph of the day is drawn from, as one JSON text: how the command-line
// tool, which has no drawing of its own, hands a picture to its renderer program.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/records.h"

namespace quelvan {

struct GraphRequest {
    // The largest picture the renderer accepts on either side.
    static constexpr int kMaxSide = 8192;

    std::vector<ScheduleEntry> table;
    int clockHour = 0;
    int clockMinute = 0;
    std::array<std::uint8_t, kChannelCount> colorNames{};
    int channel = 0;
    int width = 1200;
    int height = 600;
};

// The smallest sides with a plot area: 20 pixels margin left and right, 20 above, 21 below.
constexpr int kMinGraphWidth = 41;
constexpr int kMinGraphHeight = 42;

std::string EncodeGraphRequest(const GraphRequest& request);
// Nullopt (and the reason in `error`) for text that is not such a request or holds values
// out of range: sides outside kMin..kMaxSide, a channel outside 0..11, more than 255 rows,
// numbers that do not fit their fields.
std::optional<GraphRequest> DecodeGraphRequest(std::string_view text, std::string* error = nullptr);

}  // namespace quelvan
