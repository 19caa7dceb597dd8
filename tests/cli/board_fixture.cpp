#include "board_fixture.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>

#include "device/identification.h"
#include "device/records.h"

namespace quelvan::testing {

void WriteBoardState(const std::string& path, const std::function<void(sim::SimulatedHidBackend&)>& edit,
                     const sim::BoardSettings& settings) {
    sim::SimulatedHidBackend backend(settings);
    backend.Board().SetFrozen(true);
    if (edit) edit(backend);
    std::string error;
    ASSERT_TRUE(backend.SaveState(path, &error)) << error;
}

void SendEnterBootloader(sim::SimulatedHidBackend& backend) {
    for (const HidInterfaceInfo& info : backend.Enumerate()) {
        const auto manufacturer = backend.ReadString(info, HidString::Manufacturer);
        const auto product = backend.ReadString(info, HidString::Product);
        if (!manufacturer || !product || IdentifyDevice(*manufacturer, *product) != DeviceRole::Board) continue;
        HidOpenResult opened = backend.Open(info);
        ASSERT_TRUE(opened.handle);
        std::array<std::uint8_t, report::kCommandLength> command{};
        command[0] = report::kSchedule;
        command[1] = report::kCommandEnterBootloader;
        ASSERT_TRUE(opened.handle->SetFeature(command.data(), command.size()));
        return;
    }
    FAIL() << "no simulated board on the bus";
}

std::vector<TraceLine> ParseTrace(const std::vector<std::string>& lines) {
    std::vector<TraceLine> parsed;
    for (const std::string& text : lines) {
        std::istringstream in(text);
        std::string direction, status;
        TraceLine line;
        in >> direction >> line.reportId >> line.length >> status;
        EXPECT_TRUE(direction == "get" || direction == "set") << text;
        EXPECT_TRUE(status == "ok" || status == "fail") << text;
        line.isSet = direction == "set";
        line.ok = status == "ok";
        for (std::string hex; in >> hex;) {
            EXPECT_EQ(hex.size(), 2u) << text;
            line.bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex, nullptr, 16)));
        }
        EXPECT_EQ(line.bytes.size(), static_cast<std::size_t>(line.length)) << text;
        parsed.push_back(std::move(line));
    }
    return parsed;
}

std::vector<std::string> TraceSummary(const std::vector<TraceLine>& lines) {
    std::vector<std::string> summary;
    for (const TraceLine& l : lines)
        summary.push_back((l.isSet ? "set " : "get ") + std::to_string(l.reportId) + (l.ok ? "" : " fail"));
    return summary;
}

int ChannelInBuffer(const std::vector<std::uint8_t>& bytes, int channel) {
    const std::size_t at = report::kFirstChannelByte + 2 * static_cast<std::size_t>(channel);
    return static_cast<std::int16_t>(bytes.at(at) | (bytes.at(at + 1) << 8));
}

}  // namespace quelvan::testing
