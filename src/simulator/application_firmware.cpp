#include "simulator/application_firmware.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <span>

#include "device/numeric.h"
#include "simulator/light_program.h"

namespace quelvan::sim {

namespace {

constexpr std::uint16_t kNominalSupplyMv = 12000;
constexpr int kSupplySwingMv = 150;
constexpr int kSupplyNoiseMv = 6;
constexpr int kWaterTemperature = 253;  // 25.3 °C
constexpr int kWaterSwing = 4;          // ±0.4 °C over the day
constexpr int kMsPerTick = 40;

template <std::size_t N>
std::span<const std::uint8_t, N> PayloadOf(const std::uint8_t* buffer) {
    return std::span<const std::uint8_t, N>(buffer + 1, N);
}

template <std::size_t N>
void Answer(std::uint8_t* buffer, const std::array<std::uint8_t, N>& payload) {
    std::copy(payload.begin(), payload.end(), buffer + 1);
}

std::int64_t PositiveModulo(std::int64_t value, std::int64_t modulus) {
    const std::int64_t r = value % modulus;
    return r < 0 ? r + modulus : r;
}

int TransitMinute(const LiveState& live) {
    return static_cast<int>(PositiveModulo(live.MoonTransitHour * 60 + live.MoonTransitMinute, kMinutesPerDay));
}

void SetTransitMinute(LiveState& live, int minute) {
    live.MoonTransitHour = static_cast<std::int8_t>(minute / 60);
    live.MoonTransitMinute = static_cast<std::int8_t>(minute % 60);
}

}  // namespace

void ApplicationFirmware::Reset(ApplicationRam& ram, Eeprom& eeprom) {
    eeprom = Eeprom{DefaultConfig(), DefaultSchedule(), 0};
    ram = ApplicationRam{};
    ram.config = eeprom.config;
    ram.schedule = eeprom.schedule;
    // A waxing half moon: transit six hours before the full moon's.
    SetTransitMinute(ram.live, 18 * 60);
    ram.live.SupplyVoltage = kNominalSupplyMv;
}

int ApplicationFirmware::EntryCount() const {
    if (ram_.entryCountOverride) return std::clamp(*ram_.entryCountOverride, 0, 255);
    return static_cast<int>(std::min<std::size_t>(ram_.schedule.size(), 255));
}

std::int64_t ApplicationFirmware::ClockMs() const {
    const LiveState& l = ram_.live;
    const std::int64_t ms = ((l.ClockHour * 60LL + l.ClockMinute) * 60 + l.ClockSecond) * 1000 +
                            l.ClockTick * kMsPerTick + ram_.clockRemainderMs;
    return PositiveModulo(ms, kMsPerDay);
}

void ApplicationFirmware::SetClockMs(std::int64_t ms) {
    ms = PositiveModulo(ms, kMsPerDay);
    LiveState& l = ram_.live;
    l.ClockHour = static_cast<std::int8_t>(ms / 3'600'000);
    l.ClockMinute = static_cast<std::int8_t>(ms / 60'000 % 60);
    l.ClockSecond = static_cast<std::int8_t>(ms / 1000 % 60);
    l.ClockTick = static_cast<std::uint8_t>(ms % 1000 / kMsPerTick);
    ram_.clockRemainderMs = static_cast<int>(ms % kMsPerTick);
}

void ApplicationFirmware::RefreshFixedFields() {
    ram_.live.FirmwareVersion = Low8(settings_.firmwareVersion);
    ram_.live.EntryCount = static_cast<std::uint8_t>(EntryCount());
    if (!settings_.temperatureSensor)
        ram_.live.Temperature = kNoTemperatureSensor;
    else if (ram_.live.Temperature == kNoTemperatureSensor)
        ram_.live.Temperature = WaterTemperature();
}

bool ApplicationFirmware::Get(std::uint8_t* buffer, std::size_t length) {
    RefreshFixedFields();
    switch (buffer[0]) {
        case report::kLiveState:
            if (length != report::kLiveStateLength) return false;
            Answer(buffer, ram_.live.Encode());
            return true;
        case report::kConfigPart1:
            if (length != report::kConfigPart1Length) return false;
            Answer(buffer, ram_.config.EncodePart1());
            return true;
        case report::kConfigPart2:
            if (length != report::kConfigPart2Length) return false;
            Answer(buffer, ram_.config.EncodePart2());
            return true;
        case report::kConfigPart3:
            if (length != report::kConfigPart3Length) return false;
            Answer(buffer, ram_.config.EncodePart3());
            return true;
        case report::kConfigPart4:
            if (length != report::kConfigPart4Length) return false;
            Answer(buffer, ram_.config.EncodePart4());
            return true;
        case report::kSchedule: {
            if (length != report::kScheduleLength) return false;
            // The board walks round its table, one entry per get, from wherever it stands.
            const int count = EntryCount();
            const int index =
                ram_.nextScheduleIndex >= 0 && ram_.nextScheduleIndex < count ? ram_.nextScheduleIndex : 0;
            const ScheduleEntry entry =
                static_cast<std::size_t>(index) < ram_.schedule.size() ? ram_.schedule[index] : ScheduleEntry{};
            ram_.nextScheduleIndex = count > 0 ? (index + 1) % count : 0;
            buffer[1] = Low8(ram_.scheduleIndexOverride.value_or(index));
            const auto bytes = entry.Encode();
            std::copy(bytes.begin(), bytes.end(), buffer + 2);
            return true;
        }
        default:
            return false;
    }
}

bool ApplicationFirmware::Set(const std::uint8_t* buffer, std::size_t length, FirmwareRequest* request) {
    *request = FirmwareRequest::None;
    switch (buffer[0]) {
        case report::kLiveState:
            return length == report::kLiveStateLength && SetLiveState(buffer);
        case report::kConfigPart1:
            if (length != report::kConfigPart1Length) return false;
            ram_.config.DecodePart1(PayloadOf<DeviceConfig::kPart1Size>(buffer));
            return true;
        case report::kConfigPart2:
            if (length != report::kConfigPart2Length) return false;
            ram_.config.DecodePart2(PayloadOf<DeviceConfig::kPart2Size>(buffer));
            return true;
        case report::kConfigPart3:
            if (length != report::kConfigPart3Length) return false;
            ram_.config.DecodePart3(PayloadOf<DeviceConfig::kPart3Size>(buffer));
            return true;
        case report::kConfigPart4:
            if (length != report::kConfigPart4Length) return false;
            ram_.config.DecodePart4(PayloadOf<DeviceConfig::kPart4Size>(buffer));
            return true;
        case report::kSchedule:
            // The length tells a row from a command: with 255 rows, index 254 is a row too.
            if (length == report::kScheduleLength) return SetScheduleEntry(buffer);
            if (length == report::kCommandLength) return RunCommand(buffer[1], request);
            return false;
        default:
            return false;
    }
}

bool ApplicationFirmware::SetLiveState(const std::uint8_t* buffer) {
    const LiveState sent = LiveState::Decode(PayloadOf<LiveState::kSize>(buffer));
    LiveState& live = ram_.live;
    if (buffer[report::kClockMinuteByte] != report::kKeepMinute) {
        // Normalised as a time of day, so 24:00 (the end of the day) becomes 00:00.
        live.ClockHour = sent.ClockHour;
        live.ClockMinute = sent.ClockMinute;
        live.ClockSecond = sent.ClockSecond;
        live.ClockTick = sent.ClockTick;
        ram_.clockRemainderMs = 0;
        SetClockMs(ClockMs());
    }
    if (buffer[report::kMoonTransitMinuteByte] != report::kKeepMinute) {
        SetTransitMinute(live, TransitMinute(sent));
        ram_.moonRemainderMinutes = 0.0;
    }
    // 0xFFFF in all four of channels A..D is the mark for "channels unchanged": the board
    // then leaves all twelve channels alone, since a writer that does not mean to set the
    // channels has no reason to send meaningful values for E..L either.
    const bool keepChannels = std::all_of(buffer + report::kFirstChannelByte, buffer + report::kFirstChannelByte + 8,
                                          [](std::uint8_t b) { return b == report::kKeepChannelByte; });
    if (!keepChannels) live.ChannelValue = sent.ChannelValue;
    // Version, entry count, supply, temperature and the reserved bytes are the board's own.
    return true;
}

bool ApplicationFirmware::SetScheduleEntry(const std::uint8_t* buffer) {
    const int index = buffer[1];
    if (index >= EntryCount()) return false;
    if (static_cast<std::size_t>(index) >= ram_.schedule.size()) ram_.schedule.resize(index + 1);
    ram_.schedule[index] =
        ScheduleEntry::Decode(std::span<const std::uint8_t, ScheduleEntry::kSize>(buffer + 2, ScheduleEntry::kSize));
    return true;
}

bool ApplicationFirmware::RunCommand(std::uint8_t command, FirmwareRequest* request) {
    if (command == report::kCommandSaveEEPROM) {
        eeprom_.config = ram_.config;
        eeprom_.schedule = ram_.schedule;
        ++eeprom_.storeCount;
        return true;
    }
    if (command == report::kCommandEnterBootloader) {
        *request = FirmwareRequest::EnterBootloader;
        return true;
    }
    return false;
}

void ApplicationFirmware::PowerOn(const LocalDateTime& now) {
    ram_.config = eeprom_.config;
    ram_.schedule = eeprom_.schedule;
    ram_.weather = WeatherState{};
    LiveState& live = ram_.live;
    live.ChannelValue.fill(0);
    live.SupplyVoltage = kNominalSupplyMv;
    live.Temperature = kNoTemperatureSensor;  // measured afresh below
    SetClockMs(((now.hour * 60LL + now.minute) * 60 + now.second) * 1000 + now.millisecond);
    const int count = EntryCount();
    ram_.nextScheduleIndex = ram_.config.PoweronPosition < count ? ram_.config.PoweronPosition : 0;
    RefreshFixedFields();
    ShowProgram();
}

void ApplicationFirmware::Run(std::int64_t realMs, std::mt19937& random) {
    if (realMs > 0) {
        const std::int64_t lapse = ram_.config.TimeLapse == 0 ? 1 : ram_.config.TimeLapse;
        const std::int64_t boardMs = realMs * lapse;
        if (ram_.config.Mode == 1) WeatherProcess(ram_.weather).Play(boardMs, ram_.config, random, kMaxWeatherSteps);
        SetClockMs(ClockMs() + boardMs % kMsPerDay);
        AdvanceMoon(boardMs);
        UpdateSensors(random);
    }
    RefreshFixedFields();
    ShowProgram();
}

void ApplicationFirmware::AdvanceMoon(std::int64_t boardMs) {
    const double minutes = ram_.moonRemainderMinutes + static_cast<double>(boardMs) / kMsPerDay * kMoonMinutesPerDay;
    const double whole = std::floor(minutes);
    ram_.moonRemainderMinutes = minutes - whole;
    const auto shift = static_cast<std::int64_t>(std::fmod(whole, kMinutesPerDay));
    SetTransitMinute(ram_.live, static_cast<int>(PositiveModulo(TransitMinute(ram_.live) + shift, kMinutesPerDay)));
}

std::int16_t ApplicationFirmware::WaterTemperature() const {
    // The water warms a little under the lights and cools at night.
    const double dayShare = static_cast<double>(ClockMs()) / kMsPerDay;
    const long long swing = RoundHalfEven(kWaterSwing * std::sin(2.0 * std::numbers::pi * dayShare));
    return LowSigned16(kWaterTemperature + swing + ram_.config.TempOffset);
}

void ApplicationFirmware::UpdateSensors(std::mt19937& random) {
    // The supply wanders a few millivolts per reading, within ±150 mV of 12 V.
    const int noise = static_cast<int>(random() % (2 * kSupplyNoiseMv + 1)) - kSupplyNoiseMv;
    const int supply = std::clamp<int>(ram_.live.SupplyVoltage + noise, kNominalSupplyMv - kSupplySwingMv,
                                       kNominalSupplyMv + kSupplySwingMv);
    ram_.live.SupplyVoltage = static_cast<std::uint16_t>(supply);
    ram_.live.Temperature = settings_.temperatureSensor ? WaterTemperature() : kNoTemperatureSensor;
}

void ApplicationFirmware::ShowProgram() {
    const DeviceConfig& config = ram_.config;
    switch (config.Mode) {
        case 1: {  // "Auto": the schedule, moonlight while it is dark, the weather over both
            const std::size_t rows = std::min<std::size_t>(ram_.schedule.size(), EntryCount());
            const double minute = static_cast<double>(ClockMs()) / 60'000.0;
            ChannelLevels levels = PlaySchedule(std::span(ram_.schedule.data(), rows), minute);
            if (std::all_of(levels.begin(), levels.end(), [](std::int16_t v) { return v == 0; })) {
                const int fullmoon = config.FullmoonTransitHour * 60 + config.FullmoonTransitMinute;
                levels = Moonlight(config, MoonPhase(TransitMinute(ram_.live), fullmoon));
            }
            ram_.live.ChannelValue = WeatherProcess(ram_.weather).Apply(levels, config);
            break;
        }
        case 2:  // "Demo"
            ram_.live.ChannelValue = DemoCycle(ClockMs());
            break;
        default:  // "Manuell", "Flash", "Slave" and unknown modes hold what they were sent
            break;
    }
}

}  // namespace quelvan::sim
