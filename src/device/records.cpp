#include "device/records.h"

#include <cassert>

#include "device/byte_codec.h"

namespace quelvan {

namespace {

template <std::size_t N>
void WriteBytes(ByteWriter& w, const std::array<std::uint8_t, N>& a) {
    for (auto b : a) w.u8(b);
}

template <std::size_t N>
void ReadBytes(ByteReader& r, std::array<std::uint8_t, N>& a) {
    for (auto& b : a) b = r.u8();
}

}  // namespace

std::array<std::uint8_t, LiveState::kSize> LiveState::Encode() const {
    std::array<std::uint8_t, kSize> out{};
    ByteWriter w(out);
    w.u8(FirmwareVersion);
    w.u8(EntryCount);
    WriteBytes(w, Reserved1);
    w.u8(ClockTick);
    w.i8(ClockSecond);
    w.i8(ClockMinute);
    w.i8(ClockHour);
    WriteBytes(w, Reserved2);
    w.i8(MoonTransitMinute);
    w.i8(MoonTransitHour);
    for (auto v : ChannelValue) w.i16(v);
    w.u16(SupplyVoltage);
    w.i16(Temperature);
    w.u8(Reserved3);
    assert(w.position() == kSize);
    return out;
}

LiveState LiveState::Decode(std::span<const std::uint8_t, kSize> bytes) {
    LiveState s;
    ByteReader r(bytes);
    s.FirmwareVersion = r.u8();
    s.EntryCount = r.u8();
    ReadBytes(r, s.Reserved1);
    s.ClockTick = r.u8();
    s.ClockSecond = r.i8();
    s.ClockMinute = r.i8();
    s.ClockHour = r.i8();
    ReadBytes(r, s.Reserved2);
    s.MoonTransitMinute = r.i8();
    s.MoonTransitHour = r.i8();
    for (auto& v : s.ChannelValue) v = r.i16();
    s.SupplyVoltage = r.u16();
    s.Temperature = r.i16();
    s.Reserved3 = r.u8();
    assert(r.position() == kSize);
    return s;
}

std::array<std::uint8_t, DeviceConfig::kPart1Size> DeviceConfig::EncodePart1() const {
    std::array<std::uint8_t, kPart1Size> out{};
    ByteWriter w(out);
    w.u8(Mode);
    w.u8(Step);
    w.u8(FanLow);
    w.u8(FanHigh);
    w.u8(LCDBLMin);
    w.u8(LCDBLMax);
    w.u8(TimeLapse);
    WriteBytes(w, ColorName);
    w.u16(CloudP);
    w.u16(CloudD);
    w.u16(StormP);
    w.u16(StormD);
    assert(w.position() == kPart1Size);
    return out;
}

void DeviceConfig::DecodePart1(std::span<const std::uint8_t, kPart1Size> bytes) {
    ByteReader r(bytes);
    Mode = r.u8();
    Step = r.u8();
    FanLow = r.u8();
    FanHigh = r.u8();
    LCDBLMin = r.u8();
    LCDBLMax = r.u8();
    TimeLapse = r.u8();
    ReadBytes(r, ColorName);
    CloudP = r.u16();
    CloudD = r.u16();
    StormP = r.u16();
    StormD = r.u16();
    assert(r.position() == kPart1Size);
}

std::array<std::uint8_t, DeviceConfig::kPart2Size> DeviceConfig::EncodePart2() const {
    std::array<std::uint8_t, kPart2Size> out{};
    ByteWriter w(out);
    for (auto v : {RC5.Up, RC5.Down, RC5.Left, RC5.Right, RC5.Previous, RC5.Next, RC5.Settings, RC5.Step}) w.u16(v);
    assert(w.position() == kPart2Size);
    return out;
}

void DeviceConfig::DecodePart2(std::span<const std::uint8_t, kPart2Size> bytes) {
    ByteReader r(bytes);
    for (auto* f : {&RC5.Up, &RC5.Down, &RC5.Left, &RC5.Right, &RC5.Previous, &RC5.Next, &RC5.Settings, &RC5.Step})
        *f = r.u16();
    assert(r.position() == kPart2Size);
}

std::array<std::uint8_t, DeviceConfig::kPart3Size> DeviceConfig::EncodePart3() const {
    std::array<std::uint8_t, kPart3Size> out{};
    ByteWriter w(out);
    w.u8(FanMode);
    w.u8(PoweronPosition);
    w.u8(JMPMode);
    w.u8(PWMPrescaler);
    w.u8(TWIBitrate);
    w.i8(TempOffset);
    w.i16(TempWaterLow);
    w.i16(TempWaterHigh);
    w.i16(TempJMPLow);
    w.i16(TempJMPHigh);
    w.u8(FullmoonTransitHour);
    w.u8(FullmoonTransitMinute);
    WriteBytes(w, MoonColor);
    assert(w.position() == kPart3Size);
    return out;
}

void DeviceConfig::DecodePart3(std::span<const std::uint8_t, kPart3Size> bytes) {
    ByteReader r(bytes);
    FanMode = r.u8();
    PoweronPosition = r.u8();
    JMPMode = r.u8();
    PWMPrescaler = r.u8();
    TWIBitrate = r.u8();
    TempOffset = r.i8();
    TempWaterLow = r.i16();
    TempWaterHigh = r.i16();
    TempJMPLow = r.i16();
    TempJMPHigh = r.i16();
    FullmoonTransitHour = r.u8();
    FullmoonTransitMinute = r.u8();
    ReadBytes(r, MoonColor);
    assert(r.position() == kPart3Size);
}

std::array<std::uint8_t, DeviceConfig::kPart4Size> DeviceConfig::EncodePart4() const {
    std::array<std::uint8_t, kPart4Size> out{};
    ByteWriter w(out);
    w.u16(CloudAlpha);
    w.u16(CloudStep);
    w.u16(StormAlpha);
    w.u16(StormStep);
    w.u16(LightningP);
    w.u16(LightningD);
    WriteBytes(w, LightningColor);
    assert(w.position() == kPart4Size);
    return out;
}

void DeviceConfig::DecodePart4(std::span<const std::uint8_t, kPart4Size> bytes) {
    ByteReader r(bytes);
    CloudAlpha = r.u16();
    CloudStep = r.u16();
    StormAlpha = r.u16();
    StormStep = r.u16();
    LightningP = r.u16();
    LightningD = r.u16();
    ReadBytes(r, LightningColor);
    assert(r.position() == kPart4Size);
}

std::array<std::uint8_t, ScheduleEntry::kSize> ScheduleEntry::Encode() const {
    std::array<std::uint8_t, kSize> out{};
    ByteWriter w(out);
    w.i8(Hour);
    w.i8(Minute);
    WriteBytes(w, Color);
    return out;
}

ScheduleEntry ScheduleEntry::Decode(std::span<const std::uint8_t, kSize> bytes) {
    ScheduleEntry e;
    ByteReader r(bytes);
    e.Hour = r.i8();
    e.Minute = r.i8();
    ReadBytes(r, e.Color);
    return e;
}

}  // namespace quelvan
