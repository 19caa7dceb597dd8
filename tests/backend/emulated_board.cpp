#include "emulated_board.h"

#include <algorithm>
#include <cerrno>
#include <span>

namespace quelvan::umock {

namespace {

template <std::size_t N>
std::vector<std::uint8_t> WithId(std::uint8_t id, const std::array<std::uint8_t, N>& payload) {
    std::vector<std::uint8_t> bytes{id};
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

template <std::size_t N>
std::span<const std::uint8_t, N> Payload(const std::uint8_t* buffer, std::size_t offset = 1) {
    return std::span<const std::uint8_t, N>(buffer + offset, N);
}

}  // namespace

EmulatedBoard::EmulatedBoard() {
    live_.FirmwareVersion = 4;
    live_.ClockHour = 12;
    live_.ClockMinute = 34;
    live_.ClockSecond = 56;
    live_.SupplyVoltage = 12040;
    live_.Temperature = 251;
    for (int i = 0; i < kChannelCount; ++i)
        live_.ChannelValue[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i * 300);
    config_.Mode = 1;
    config_.TimeLapse = 1;
    config_.LCDBLMax = 200;
    config_.CloudP = 1000;
    config_.RC5.Up = 0x1020;
    config_.TempWaterLow = 250;
    config_.MoonColor[0] = 40;
    config_.CloudAlpha = 40000;
    config_.LightningColor[11] = 100;
    for (int hour : {8, 12, 20}) {
        ScheduleEntry entry;
        entry.Hour = static_cast<std::int8_t>(hour);
        entry.Color.fill(static_cast<std::uint8_t>(hour * 4));
        schedule_.push_back(entry);
    }
}

int EmulatedBoard::Answer(bool isSet, const std::uint8_t* bytes, std::size_t length, int result) {
    transfers_.push_back(EmulatedTransfer{isSet, std::vector<std::uint8_t>(bytes, bytes + length), result});
    return result;
}

int EmulatedBoard::Get(std::uint8_t* buffer, std::size_t length) {
    std::lock_guard lock(mutex_);
    if (length == 0) return -EINVAL;
    if (failCount_ > 0) {
        --failCount_;
        return Answer(false, buffer, 0, -failError_);
    }
    std::vector<std::uint8_t> report;
    switch (buffer[0]) {
        case report::kLiveState: {
            LiveState live = live_;
            live.EntryCount = static_cast<std::uint8_t>(schedule_.size());
            report = WithId(report::kLiveState, live.Encode());
            break;
        }
        case report::kConfigPart1:
            report = WithId(report::kConfigPart1, config_.EncodePart1());
            break;
        case report::kConfigPart2:
            report = WithId(report::kConfigPart2, config_.EncodePart2());
            break;
        case report::kConfigPart3:
            report = WithId(report::kConfigPart3, config_.EncodePart3());
            break;
        case report::kConfigPart4:
            report = WithId(report::kConfigPart4, config_.EncodePart4());
            break;
        case report::kSchedule: {
            // The board hands out its rows in turn, each with its index.
            ScheduleEntry entry;
            std::uint8_t index = 0;
            if (!schedule_.empty()) {
                nextEntry_ %= schedule_.size();
                index = static_cast<std::uint8_t>(nextEntry_);
                entry = schedule_[nextEntry_++];
            }
            report = WithId(report::kSchedule, entry.Encode());
            report.insert(report.begin() + 1, index);
            break;
        }
        default:
            return Answer(false, buffer, 0, -EPIPE);
    }
    const std::size_t n = std::min(length, report.size());
    std::copy_n(report.begin(), n, buffer);
    return Answer(false, buffer, n, static_cast<int>(n));
}

int EmulatedBoard::Set(const std::uint8_t* buffer, std::size_t length) {
    std::lock_guard lock(mutex_);
    if (failCount_ > 0) {
        --failCount_;
        return Answer(true, buffer, length, -failError_);
    }
    return Answer(true, buffer, length, SetLocked(buffer, length));
}

int EmulatedBoard::SetLocked(const std::uint8_t* buffer, std::size_t length) {
    const int whole = static_cast<int>(length);
    const std::uint8_t id = length > 0 ? buffer[0] : 0;
    if (id == report::kLiveState && length == report::kLiveStateLength) {
        const LiveState in = LiveState::Decode(Payload<LiveState::kSize>(buffer));
        if (buffer[report::kClockMinuteByte] != report::kKeepMinute) {
            live_.ClockTick = in.ClockTick;
            live_.ClockSecond = in.ClockSecond;
            live_.ClockMinute = in.ClockMinute;
            live_.ClockHour = in.ClockHour;
        }
        if (buffer[report::kMoonTransitMinuteByte] != report::kKeepMinute) {
            live_.MoonTransitMinute = in.MoonTransitMinute;
            live_.MoonTransitHour = in.MoonTransitHour;
        }
        for (std::size_t i = 0; i < kChannelCount; ++i) {
            if (i < 4 && in.ChannelValue[i] == -1) continue;  // channels A..D left alone
            live_.ChannelValue[i] = in.ChannelValue[i];
        }
        return whole;
    }
    if (id == report::kConfigPart1 && length == report::kConfigPart1Length) {
        config_.DecodePart1(Payload<DeviceConfig::kPart1Size>(buffer));
        return whole;
    }
    if (id == report::kConfigPart2 && length == report::kConfigPart2Length) {
        config_.DecodePart2(Payload<DeviceConfig::kPart2Size>(buffer));
        return whole;
    }
    if (id == report::kConfigPart3 && length == report::kConfigPart3Length) {
        config_.DecodePart3(Payload<DeviceConfig::kPart3Size>(buffer));
        return whole;
    }
    if (id == report::kConfigPart4 && length == report::kConfigPart4Length) {
        config_.DecodePart4(Payload<DeviceConfig::kPart4Size>(buffer));
        return whole;
    }
    if (id == report::kSchedule && length == report::kScheduleLength) {
        const std::size_t index = buffer[1];
        if (index < schedule_.size())
            schedule_[index] = ScheduleEntry::Decode(Payload<ScheduleEntry::kSize>(buffer, 2));
        return whole;
    }
    if (id == report::kSchedule && length == report::kCommandLength) {
        if (buffer[1] == report::kCommandSaveEEPROM) ++eepromSaves_;
        if (buffer[1] == report::kCommandEnterBootloader) ++bootloaderRequests_;
        return whole;
    }
    return -EPIPE;
}

LiveState EmulatedBoard::Live() const {
    std::lock_guard lock(mutex_);
    LiveState live = live_;
    live.EntryCount = static_cast<std::uint8_t>(schedule_.size());
    return live;
}

void EmulatedBoard::SetLive(const LiveState& live) {
    std::lock_guard lock(mutex_);
    live_ = live;
}

DeviceConfig EmulatedBoard::Config() const {
    std::lock_guard lock(mutex_);
    return config_;
}

void EmulatedBoard::SetConfig(const DeviceConfig& config) {
    std::lock_guard lock(mutex_);
    config_ = config;
}

std::vector<ScheduleEntry> EmulatedBoard::Schedule() const {
    std::lock_guard lock(mutex_);
    return schedule_;
}

void EmulatedBoard::SetSchedule(std::vector<ScheduleEntry> rows) {
    std::lock_guard lock(mutex_);
    rows.resize(std::min<std::size_t>(rows.size(), 255));
    schedule_ = std::move(rows);
    nextEntry_ = 0;
}

std::vector<EmulatedTransfer> EmulatedBoard::Transfers() const {
    std::lock_guard lock(mutex_);
    return transfers_;
}

void EmulatedBoard::ClearTransfers() {
    std::lock_guard lock(mutex_);
    transfers_.clear();
}

int EmulatedBoard::EEPROMSaves() const {
    std::lock_guard lock(mutex_);
    return eepromSaves_;
}

int EmulatedBoard::BootloaderRequests() const {
    std::lock_guard lock(mutex_);
    return bootloaderRequests_;
}

void EmulatedBoard::FailNext(int count, int error) {
    std::lock_guard lock(mutex_);
    failCount_ = count;
    failError_ = error;
}

}  // namespace quelvan::umock
