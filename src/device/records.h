#pragma once
// The board's three records as plain structs, with explicit little-endian codecs.
// Field names are the board's own; reserved bytes are kept so that they go back
// to the board exactly as they were read.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace quelvan {

constexpr int kChannelCount = 12;

// Report 1: the board's live state (41 payload bytes).
struct LiveState {
    static constexpr std::size_t kSize = 41;

    std::uint8_t FirmwareVersion = 0;
    std::uint8_t EntryCount = 0;
    std::array<std::uint8_t, 2> Reserved1{};
    std::uint8_t ClockTick = 0;
    std::int8_t ClockSecond = 0;
    std::int8_t ClockMinute = 0;
    std::int8_t ClockHour = 0;
    std::array<std::uint8_t, 2> Reserved2{};
    std::int8_t MoonTransitMinute = 0;
    std::int8_t MoonTransitHour = 0;
    std::array<std::int16_t, kChannelCount> ChannelValue{};
    std::uint16_t SupplyVoltage = 0;
    std::int16_t Temperature = 0;
    std::uint8_t Reserved3 = 0;

    std::array<std::uint8_t, kSize> Encode() const;
    static LiveState Decode(std::span<const std::uint8_t, kSize> bytes);
    bool operator==(const LiveState&) const = default;
};

// Temperature value meaning that no sensor is fitted.
constexpr std::int16_t kNoTemperatureSensor = 0x7FFF;

// The RC5 codes the board has learned for the eight keys of a remote control.
struct RC5Codes {
    std::uint16_t Up = 0;
    std::uint16_t Down = 0;
    std::uint16_t Left = 0;
    std::uint16_t Right = 0;
    std::uint16_t Previous = 0;
    std::uint16_t Next = 0;
    std::uint16_t Settings = 0;
    std::uint16_t Step = 0;
    bool operator==(const RC5Codes&) const = default;
};

// Reports 2, 4, 5 and 6: the board's settings, held as four parts of one record.
struct DeviceConfig {
    static constexpr std::size_t kPart1Size = 27;  // report 2
    static constexpr std::size_t kPart2Size = 16;  // report 4 (RC5)
    static constexpr std::size_t kPart3Size = 28;  // report 5
    static constexpr std::size_t kPart4Size = 24;  // report 6

    // Part 1
    std::uint8_t Mode = 0;
    std::uint8_t Step = 0;
    std::uint8_t FanLow = 0;
    std::uint8_t FanHigh = 0;
    std::uint8_t LCDBLMin = 0;
    std::uint8_t LCDBLMax = 0;
    std::uint8_t TimeLapse = 0;
    std::array<std::uint8_t, kChannelCount> ColorName{};
    std::uint16_t CloudP = 0;
    std::uint16_t CloudD = 0;
    std::uint16_t StormP = 0;
    std::uint16_t StormD = 0;
    // Part 2
    RC5Codes RC5;
    // Part 3
    std::uint8_t FanMode = 0;
    std::uint8_t PoweronPosition = 0;
    std::uint8_t JMPMode = 0;
    std::uint8_t PWMPrescaler = 0;
    std::uint8_t TWIBitrate = 0;
    std::int8_t TempOffset = 0;
    std::int16_t TempWaterLow = 0;
    std::int16_t TempWaterHigh = 0;
    std::int16_t TempJMPLow = 0;
    std::int16_t TempJMPHigh = 0;
    std::uint8_t FullmoonTransitHour = 0;
    std::uint8_t FullmoonTransitMinute = 0;
    std::array<std::uint8_t, kChannelCount> MoonColor{};
    // Part 4
    std::uint16_t CloudAlpha = 0;
    std::uint16_t CloudStep = 0;
    std::uint16_t StormAlpha = 0;
    std::uint16_t StormStep = 0;
    std::uint16_t LightningP = 0;
    std::uint16_t LightningD = 0;
    std::array<std::uint8_t, kChannelCount> LightningColor{};

    std::array<std::uint8_t, kPart1Size> EncodePart1() const;
    std::array<std::uint8_t, kPart2Size> EncodePart2() const;
    std::array<std::uint8_t, kPart3Size> EncodePart3() const;
    std::array<std::uint8_t, kPart4Size> EncodePart4() const;
    // Each decode replaces only the fields of its own part.
    void DecodePart1(std::span<const std::uint8_t, kPart1Size> bytes);
    void DecodePart2(std::span<const std::uint8_t, kPart2Size> bytes);
    void DecodePart3(std::span<const std::uint8_t, kPart3Size> bytes);
    void DecodePart4(std::span<const std::uint8_t, kPart4Size> bytes);
    bool operator==(const DeviceConfig&) const = default;
};

// One time point of the daily program (report 3 bytes 2..15).
struct ScheduleEntry {
    static constexpr std::size_t kSize = 14;

    std::int8_t Hour = 0;
    std::int8_t Minute = 0;
    std::array<std::uint8_t, kChannelCount> Color{};

    std::array<std::uint8_t, kSize> Encode() const;
    static ScheduleEntry Decode(std::span<const std::uint8_t, kSize> bytes);
    bool operator==(const ScheduleEntry&) const = default;
};

// Report IDs and whole buffer lengths (report ID byte included).
namespace report {
constexpr std::uint8_t kLiveState = 1;
constexpr std::uint8_t kConfigPart1 = 2;
constexpr std::uint8_t kSchedule = 3;
constexpr std::uint8_t kConfigPart2 = 4;
constexpr std::uint8_t kConfigPart3 = 5;
constexpr std::uint8_t kConfigPart4 = 6;

constexpr std::size_t kLiveStateLength = 1 + LiveState::kSize;            // 42
constexpr std::size_t kConfigPart1Length = 1 + DeviceConfig::kPart1Size;  // 28
constexpr std::size_t kConfigPart2Length = 1 + DeviceConfig::kPart2Size;  // 17
constexpr std::size_t kConfigPart3Length = 1 + DeviceConfig::kPart3Size;  // 29
constexpr std::size_t kConfigPart4Length = 1 + DeviceConfig::kPart4Size;  // 25
constexpr std::size_t kScheduleLength = 2 + ScheduleEntry::kSize;         // 16
constexpr std::size_t kCommandLength = 28;

// Entry indices of report 3 that are commands rather than rows.
constexpr std::uint8_t kCommandEnterBootloader = 254;
constexpr std::uint8_t kCommandSaveEEPROM = 255;

// Marks in a live-state write: leave the clock / moon transit / channels A..D alone.
constexpr std::uint8_t kKeepMinute = 255;
constexpr std::uint8_t kKeepChannelByte = 0xFF;

// Byte positions in the report-1 buffer.
constexpr std::size_t kClockMinuteByte = 7;
constexpr std::size_t kMoonTransitMinuteByte = 11;
constexpr std::size_t kFirstChannelByte = 13;
}  // namespace report

static_assert(report::kLiveStateLength == 42);
static_assert(report::kConfigPart1Length == 28);
static_assert(report::kConfigPart2Length == 17);
static_assert(report::kConfigPart3Length == 29);
static_assert(report::kConfigPart4Length == 25);
static_assert(report::kScheduleLength == 16);

}  // namespace quelvan
