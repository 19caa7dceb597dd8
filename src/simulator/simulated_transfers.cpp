#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "device/identification.h"
#include "simulator/simulated_backend_impl.h"

namespace quelvan::sim {

namespace {

// The transfer log keeps the most recent attempts; a long simulated session must not
// grow without bound. The counts are kept apart and stay exact.
constexpr std::size_t kMaxLoggedTransfers = 200'000;

}  // namespace

const char* TargetName(Target t) {
    switch (t) {
        case Target::Board:
            return "board";
        case Target::Bootloader:
            return "bootloader";
        case Target::Foreign:
            return "foreign";
    }
    return "foreign";
}

SimulatedHidBackend::Impl::Impl(BoardSettings settings, const Clock* clock, std::function<std::int64_t()> now)
    : board(std::move(settings), clock, std::move(now)) {
    eventFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    board.SetChangeListener([this] {
        Signal();
        Save();
    });
}

SimulatedHidBackend::Impl::~Impl() {
    if (eventFd >= 0) ::close(eventFd);
    if (lockFd >= 0) ::close(lockFd);
}

void SimulatedHidBackend::Impl::Wait(std::chrono::microseconds span) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + span;
    constexpr std::chrono::microseconds kSpin{200};
    if (span > kSpin) std::this_thread::sleep_until(until - kSpin);
    while (Clock::now() < until) {
    }
}

void SimulatedHidBackend::Impl::Signal() const {
    const std::uint64_t one = 1;
    if (eventFd < 0) return;
    // A full counter already means "changed"; nothing is lost when this write fails.
    [[maybe_unused]] const auto written = ::write(eventFd, &one, sizeof one);
}

bool SimulatedHidBackend::Impl::BoardPresent(const std::string& identity) const {
    return board.Mode() != BoardMode::Absent && identity == board.Data().identity;
}

ForeignSlot* SimulatedHidBackend::Impl::FindForeign(const std::string& identity) {
    for (auto& slot : bus.foreign)
        if (slot.present && slot.identity == identity) return &slot;
    return nullptr;
}

bool SimulatedHidBackend::Impl::InjectedFailure(bool isSet, std::uint8_t reportId) {
    auto it = failNext.find({isSet, reportId});
    if (it != failNext.end() && it->second > 0) {
        --it->second;
        return true;
    }
    return failProbability > 0.0 && std::uniform_real_distribution<double>(0.0, 1.0)(failRandom) < failProbability;
}

void SimulatedHidBackend::Impl::Log(Target target, bool isSet, const std::uint8_t* bytes, std::size_t length, bool ok) {
    if (target != Target::Foreign && length > 0) ++counts[{isSet, bytes[0]}];
    if (!recording) return;
    if (transfers.size() >= kMaxLoggedTransfers)
        transfers.erase(transfers.begin(), transfers.begin() + kMaxLoggedTransfers / 2);
    transfers.push_back({TargetName(target), isSet, std::vector<std::uint8_t>(bytes, bytes + length), ok});
}

void SimulatedHidBackend::Impl::Lock() {
    if (lockFd < 0 || lockDepth++ > 0) return;
    while (::flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

void SimulatedHidBackend::Impl::Unlock() {
    if (lockFd < 0 || --lockDepth > 0) return;
    ::flock(lockFd, LOCK_UN);
}

bool SimulatedHidBackend::Impl::PlannedFailure() {
    ++attempts;
    if (faults.unplugBeforeAttempt && *faults.unplugBeforeAttempt == attempts) board.SetOnBus(false);
    return std::find(faults.failAttempts.begin(), faults.failAttempts.end(), attempts) != faults.failAttempts.end();
}

bool SimulatedHidBackend::Impl::Transfer(const std::string& identity, Target target, bool readWrite, bool isSet,
                                         std::uint8_t* buffer, std::size_t length) {
    const FileLock lock(*this);
    ReloadIfChanged();
    const bool planned = PlannedFailure();
    board.Sync();
    if (latency.count() > 0) Wait(latency);
    // A failed get is logged with the bytes it asked with.
    std::vector<std::uint8_t> asked;
    if (recording && !isSet) asked.assign(buffer, buffer + length);
    // A set that cannot be kept in the state file does not happen.
    std::optional<BoardData> before;
    if (isSet && !statePath.empty()) before = board.Data();
    bool ok = false;
    // A stale handle (its interface left the bus), a query-only handle, a foreign device
    // and an unusable state file all fail; injected failures reach the board not at all.
    if (target != Target::Foreign && readWrite && length > 0 && BoardPresent(identity) && stateProblem.empty() &&
        !planned && !InjectedFailure(isSet, buffer[0]))
        ok = isSet ? board.Set(buffer, length) : board.Get(buffer, length);
    if (before && ok && !Save()) {
        board.Data() = std::move(*before);
        ok = false;
    }
    const bool askedBytes = recording && !isSet && !ok;
    Log(target, isSet, askedBytes ? asked.data() : buffer, length, ok);
    return ok;
}

std::vector<HidInterfaceInfo> SimulatedHidBackend::Impl::Enumerate() const {
    std::vector<HidInterfaceInfo> list;
    if (board.Mode() != BoardMode::Absent) {
        const std::string& id = board.Data().identity;
        const bool app = board.Mode() == BoardMode::Application;
        list.push_back({id, "sim:" + std::string(app ? "board/" : "bootloader/") + id,
                        static_cast<std::uint16_t>(kBoardVendorId), static_cast<std::uint16_t>(kBoardProductId),
                        static_cast<std::uint16_t>(app ? 0x0100 : 0x0001)});
    }
    for (const auto& slot : bus.foreign)
        if (slot.present)
            list.push_back({slot.identity, "sim:foreign/" + slot.identity, slot.device.vendorId, slot.device.productId,
                            slot.device.versionNumber});
    return list;
}

}  // namespace quelvan::sim
