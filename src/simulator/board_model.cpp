#include "simulator/board_model.h"

#include <chrono>

namespace quelvan::sim {

namespace {

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

BoardModel::BoardModel(BoardSettings settings, const Clock* clock, std::function<std::int64_t()> now)
    : clock_(clock ? *clock : systemClock_), now_(now ? std::move(now) : std::function<std::int64_t()>(SteadyMs)) {
    data_.settings = std::move(settings);
    data_.random.seed(data_.settings.randomSeed);
    ApplicationFirmware::Reset(data_.ram, data_.eeprom);
    BootloaderFirmware(data_.flash, data_.settings).FitFlash();
    App().PowerOn(clock_.Now());
    data_.identity = NewIdentity();
    lastNow_ = now_();
}

BoardMode BoardModel::Mode() const {
    return data_.onBus ? data_.firmware : BoardMode::Absent;
}

LiveState& BoardModel::Live() {
    Sync();
    App().RefreshFixedFields();
    return data_.ram.live;
}

DeviceConfig& BoardModel::Config() {
    Sync();
    return data_.ram.config;
}

std::vector<ScheduleEntry>& BoardModel::Schedule() {
    Sync();
    return data_.ram.schedule;
}

void BoardModel::SetEntryCountOverride(std::optional<int> count) {
    data_.ram.entryCountOverride = count;
    App().RefreshFixedFields();
}

void BoardModel::SetScheduleIndexOverride(std::optional<int> index) {
    data_.ram.scheduleIndexOverride = index;
}

void BoardModel::Sync() {
    const std::int64_t now = now_();
    const std::int64_t span = now - lastNow_;
    lastNow_ = now;
    // The application keeps running while the cable is out (the board has its own
    // supply); in the bootloader it does not run at all.
    if (data_.firmware != BoardMode::Application) return;
    if (data_.frozen) {
        App().RefreshFixedFields();
        return;
    }
    App().Run(span, data_.random);
}

void BoardModel::Advance(std::chrono::milliseconds span) {
    if (data_.firmware != BoardMode::Application) return;
    App().Run(span.count(), data_.random);
}

void BoardModel::Resume(std::int64_t wallMs) {
    lastNow_ = now_();
    if (data_.firmware == BoardMode::Application && !data_.frozen && wallMs > 0) App().Run(wallMs, data_.random);
}

const std::vector<std::uint8_t>& BoardModel::Flash() const {
    // The settings may have been given another flash size since; the board is not const.
    BootloaderFirmware(const_cast<FlashMemory&>(data_.flash), data_.settings).FitFlash();
    return data_.flash.bytes;
}

std::string BoardModel::NewIdentity() {
    return "sim-" + std::to_string(data_.nextIdentity++);
}

void BoardModel::Reattach() {
    data_.identity = data_.onBus ? NewIdentity() : std::string();
    if (changed_) changed_();
}

void BoardModel::SetOnBus(bool onBus) {
    if (data_.onBus == onBus) return;
    Sync();
    data_.onBus = onBus;
    Reattach();
}

void BoardModel::PowerCycle() {
    data_.firmware = BoardMode::Application;
    App().PowerOn(clock_.Now());
    lastNow_ = now_();
    Reattach();
}

void BoardModel::EnterBootloader() {
    data_.firmware = BoardMode::Bootloader;
    data_.flash.writtenSinceStart = false;
    BootloaderFirmware(data_.flash, data_.settings).FitFlash();
    Reattach();
}

void BoardModel::StartApplication() {
    // A newly flashed firmware starts from its factory settings, as the update warning
    // tells the user; leaving the bootloader without flashing keeps the EEPROM.
    if (data_.flash.writtenSinceStart) {
        data_.eeprom.config = DefaultConfig();
        data_.eeprom.schedule = DefaultSchedule();
    }
    data_.flash.writtenSinceStart = false;
    data_.firmware = BoardMode::Application;
    App().PowerOn(clock_.Now());
    lastNow_ = now_();
    Reattach();
}

bool BoardModel::Get(std::uint8_t* buffer, std::size_t length) {
    if (length == 0) return false;
    // The answer is built aside, so that a refused get leaves the caller's buffer alone.
    std::vector<std::uint8_t> answer(buffer, buffer + length);
    const bool ok = data_.firmware == BoardMode::Application
                        ? App().Get(answer.data(), length)
                        : BootloaderFirmware(data_.flash, data_.settings).Get(answer.data(), length);
    if (ok) std::copy(answer.begin(), answer.end(), buffer);
    return ok;
}

bool BoardModel::Set(const std::uint8_t* buffer, std::size_t length) {
    if (length == 0) return false;
    if (data_.firmware == BoardMode::Application) {
        FirmwareRequest request = FirmwareRequest::None;
        const bool ok = App().Set(buffer, length, &request);
        if (ok && request == FirmwareRequest::EnterBootloader) EnterBootloader();
        return ok;
    }
    BootloaderRequest request = BootloaderRequest::None;
    const bool ok = BootloaderFirmware(data_.flash, data_.settings).Set(buffer, length, &request);
    if (ok && request == BootloaderRequest::StartApplication) StartApplication();
    return ok;
}

}  // namespace quelvan::sim
