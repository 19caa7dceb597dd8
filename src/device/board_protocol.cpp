#include "device/board_protocol.h"

#include <algorithm>
#include <array>
#include <span>

#include "device/hid_device_controller.h"
#include "device/record_merge.h"

namespace quelvan {

namespace {

// On a device other programs share, inside this program's session: the record is read again
// and this program's edits (the fields that differ from the copy read last) are laid over it
// before it is sent. A failed read restores what this program had and sends nothing.
template <typename Record, typename Read, typename Merge, typename Send>
TransferResult ReadMergeAndSend(Record& record, Record& lastRead, Read read, Merge merge, Send send) {
    const Record base = lastRead, mine = record;
    const TransferResult reread = read();
    if (!reread.ok) {
        record = mine;
        lastRead = base;
        return reread;
    }
    record = merge(base, mine, record);
    const TransferResult sent = send();
    return {sent.ok, reread.attempts + sent.attempts};
}

}  // namespace

void BoardProtocol::SetDevice(HidDevice* device) {
    if (device != device_) {
        ++generation_;
        liveRead_ = false;
        configPartsRead_ = 0;
    }
    device_ = device;
}

TransferResult BoardProtocol::Get(std::uint8_t* buffer, std::size_t length, int attempts) {
    TransferResult r;
    while (r.attempts < attempts) {
        ++r.attempts;
        if (device_->ReadFeature(buffer, length)) {
            r.ok = true;
            break;
        }
    }
    return r;
}

TransferResult BoardProtocol::Set(const std::uint8_t* buffer, std::size_t length, int attempts) {
    TransferResult r;
    while (r.attempts < attempts) {
        ++r.attempts;
        if (device_->WriteFeature(buffer, length)) {
            r.ok = true;
            break;
        }
    }
    return r;
}

TransferResult BoardProtocol::ReadLiveState() {
    if (!device_) return {};
    std::array<std::uint8_t, report::kLiveStateLength> buffer{};
    buffer[0] = report::kLiveState;
    TransferResult r = Get(buffer.data(), buffer.size(), kLiveStateReadAttempts);
    if (r.ok) {
        live = LiveState::Decode(std::span<const std::uint8_t, LiveState::kSize>(buffer.data() + 1, LiveState::kSize));
        lastLive_ = live;
        liveRead_ = true;
    }
    return r;
}

TransferResult BoardProtocol::WriteLiveState(bool setClock, bool setMoonTransit, bool setChannels) {
    if (!device_ || !liveRead_) return {};
    const ExclusiveUse exclusive(device_);
    if (!exclusive.Shared()) return SendLiveState(setClock, setMoonTransit, setChannels);
    if (!exclusive.Held()) return {};
    return ReadMergeAndSend(
        live, lastLive_, [this] { return ReadLiveState(); }, MergeLiveStateEdits,
        [&] { return SendLiveState(setClock, setMoonTransit, setChannels); });
}

TransferResult BoardProtocol::SendLiveState(bool setClock, bool setMoonTransit, bool setChannels) {
    lastLive_ = live;
    std::array<std::uint8_t, report::kLiveStateLength> buffer{};
    buffer[0] = report::kLiveState;
    const auto payload = live.Encode();
    std::copy(payload.begin(), payload.end(), buffer.begin() + 1);
    // The marks go into the sent buffer only; the in-memory record keeps its values.
    if (!setClock) buffer[report::kClockMinuteByte] = report::kKeepMinute;
    if (!setMoonTransit) buffer[report::kMoonTransitMinuteByte] = report::kKeepMinute;
    if (!setChannels) std::fill_n(buffer.begin() + report::kFirstChannelByte, 8, report::kKeepChannelByte);
    return Set(buffer.data(), buffer.size(), kWriteAttempts);
}

namespace {

template <std::size_t Length>
std::array<std::uint8_t, Length> WithReportId(std::uint8_t id, const std::array<std::uint8_t, Length - 1>& payload) {
    std::array<std::uint8_t, Length> buffer{};
    buffer[0] = id;
    std::copy(payload.begin(), payload.end(), buffer.begin() + 1);
    return buffer;
}

template <std::size_t Length>
std::span<const std::uint8_t, Length - 1> Payload(const std::array<std::uint8_t, Length>& buffer) {
    return std::span<const std::uint8_t, Length - 1>(buffer.data() + 1, Length - 1);
}

}  // namespace

TransferResult BoardProtocol::ReadDeviceConfig() {
    if (!device_) return {};
    TransferResult total;
    auto step = [&](auto& buffer, std::uint8_t id, unsigned part, auto decode) {
        buffer[0] = id;
        const TransferResult r = Get(buffer.data(), buffer.size(), 1);
        total.attempts += r.attempts;
        if (r.ok) {
            decode(config, Payload(buffer));
            decode(lastConfig_, Payload(buffer));
            configPartsRead_ |= part;
        }
        return r.ok;
    };
    std::array<std::uint8_t, report::kConfigPart1Length> b1{};
    std::array<std::uint8_t, report::kConfigPart2Length> b2{};
    std::array<std::uint8_t, report::kConfigPart3Length> b3{};
    std::array<std::uint8_t, report::kConfigPart4Length> b4{};
    // Each part replaces its fields as soon as it arrives; the first failure ends the read.
    const bool all = step(b1, report::kConfigPart1, 0b0001, [](DeviceConfig& c, auto p) { c.DecodePart1(p); }) &&
                     step(b2, report::kConfigPart2, 0b0010, [](DeviceConfig& c, auto p) { c.DecodePart2(p); }) &&
                     step(b3, report::kConfigPart3, 0b0100, [](DeviceConfig& c, auto p) { c.DecodePart3(p); }) &&
                     step(b4, report::kConfigPart4, 0b1000, [](DeviceConfig& c, auto p) { c.DecodePart4(p); });
    if (all) {
        // Keep every colour name a valid index into the twelve names.
        for (DeviceConfig* c : {&config, &lastConfig_})
            for (auto& name : c->ColorName)
                if (name > 11) name = 0;
    }
    total.ok = all;
    return total;
}

TransferResult BoardProtocol::WriteDeviceConfig() {
    if (!device_ || !DeviceConfigRead()) return {};
    const ExclusiveUse exclusive(device_);
    if (!exclusive.Shared()) return SendDeviceConfig();
    if (!exclusive.Held()) return {};
    // Never written unless all four parts were just read again.
    return ReadMergeAndSend(
        config, lastConfig_, [this] { return ReadDeviceConfig(); }, MergeDeviceConfigEdits,
        [this] { return SendDeviceConfig(); });
}

TransferResult BoardProtocol::SendDeviceConfig() {
    lastConfig_ = config;
    TransferResult total{true, 0};
    auto send = [&](const auto& buffer) {
        const TransferResult r = Set(buffer.data(), buffer.size(), kWriteAttempts);
        total.attempts += r.attempts;
        total.ok = total.ok && r.ok;  // a failed part does not stop the next ones
    };
    send(WithReportId<report::kConfigPart1Length>(report::kConfigPart1, config.EncodePart1()));
    send(WithReportId<report::kConfigPart2Length>(report::kConfigPart2, config.EncodePart2()));
    send(WithReportId<report::kConfigPart3Length>(report::kConfigPart3, config.EncodePart3()));
    send(WithReportId<report::kConfigPart4Length>(report::kConfigPart4, config.EncodePart4()));
    return total;
}

std::optional<std::pair<std::uint8_t, ScheduleEntry>> BoardProtocol::ReadScheduleEntry(TransferResult* result) {
    if (result) *result = {};
    if (!device_) return std::nullopt;
    std::array<std::uint8_t, report::kScheduleLength> buffer{};
    buffer[0] = report::kSchedule;
    const TransferResult r = Get(buffer.data(), buffer.size(), 1);
    if (result) *result = r;
    if (!r.ok) return std::nullopt;
    return std::make_pair(buffer[1], ScheduleEntry::Decode(std::span<const std::uint8_t, ScheduleEntry::kSize>(
                                         buffer.data() + 2, ScheduleEntry::kSize)));
}

TransferResult BoardProtocol::WriteScheduleEntry(std::uint8_t index, const ScheduleEntry& entry) {
    if (!device_) return {};
    const ExclusiveUse exclusive(device_);
    if (!exclusive.Held()) return {};
    std::array<std::uint8_t, report::kScheduleLength> buffer{};
    buffer[0] = report::kSchedule;
    buffer[1] = index;
    const auto bytes = entry.Encode();
    std::copy(bytes.begin(), bytes.end(), buffer.begin() + 2);
    return Set(buffer.data(), buffer.size(), kWriteAttempts);
}

TransferResult BoardProtocol::SendCommand(std::uint8_t command) {
    if (!device_) return {};
    const ExclusiveUse exclusive(device_);
    if (!exclusive.Held()) return {};
    std::array<std::uint8_t, report::kCommandLength> buffer{};
    buffer[0] = report::kSchedule;
    buffer[1] = command;
    return Set(buffer.data(), buffer.size(), kWriteAttempts);
}

TransferResult BoardProtocol::SaveEEPROM() {
    return SendCommand(report::kCommandSaveEEPROM);
}

TransferResult BoardProtocol::EnterBootloader() {
    return SendCommand(report::kCommandEnterBootloader);
}

void BoardProtocol::RereadIfShared() {
    if (!device_ || !device_->Shared()) return;
    if (liveRead_) ReadLiveState();
    if (DeviceConfigRead()) ReadDeviceConfig();
}

void BoardProtocol::SetClockFromComputer() {
    const LocalDateTime now = clock_.Now();
    live.ClockHour = static_cast<std::int8_t>(now.hour);
    live.ClockMinute = static_cast<std::int8_t>(now.minute);
    live.ClockSecond = static_cast<std::int8_t>(now.second);
    live.ClockTick = ClockTickFromMilliseconds(now.millisecond);
}

}  // namespace quelvan
