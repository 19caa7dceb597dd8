#include "simulator/simulated_backend.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <random>
#include <thread>

#include "device/identification.h"
#include "simulator/board_model.h"
#include "simulator/state_file.h"

namespace quelvan::sim {

namespace {

// Which of the bus's devices a handle was opened on; names as the transfer log shows them.
enum class Target { Board, Bootloader, Foreign };

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

// Transfers of handles go through this; it outlives no backend, and handles notice that.
class TransferSink {
public:
    virtual ~TransferSink() = default;
    virtual bool Transfer(const std::string& identity, Target target, bool readWrite, bool isSet, std::uint8_t* buffer,
                          std::size_t length) = 0;
};

class SimHandle final : public HidHandle {
public:
    SimHandle(std::weak_ptr<TransferSink*> sink, std::string identity, Target target, bool readWrite)
        : sink_(std::move(sink)), identity_(std::move(identity)), target_(target), readWrite_(readWrite) {}

    bool GetFeature(std::uint8_t* buffer, std::size_t length) override {
        auto sink = sink_.lock();
        return sink && (*sink)->Transfer(identity_, target_, readWrite_, false, buffer, length);
    }
    bool SetFeature(const std::uint8_t* buffer, std::size_t length) override {
        auto sink = sink_.lock();
        // The sink never writes into a set buffer.
        return sink &&
               (*sink)->Transfer(identity_, target_, readWrite_, true, const_cast<std::uint8_t*>(buffer), length);
    }

private:
    std::weak_ptr<TransferSink*> sink_;
    std::string identity_;
    Target target_;
    bool readWrite_;
};

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// The transfer log keeps the most recent attempts; a long simulated session must not
// grow without bound. The counts are kept apart and stay exact.
constexpr std::size_t kMaxLoggedTransfers = 200'000;

}  // namespace

struct SimulatedHidBackend::Impl final : TransferSink {
    Impl(BoardSettings settings, const Clock* clock, std::function<std::int64_t()> now)
        : board(std::move(settings), clock, std::move(now)) {
        eventFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        board.SetChangeListener([this] {
            Signal();
            Save();
        });
    }
    ~Impl() override {
        if (eventFd >= 0) ::close(eventFd);
        if (lockFd >= 0) ::close(lockFd);
    }

    BoardModel board;
    BusState bus;
    // The transfer log is a test hook: off until a test asks for it, so that a simulated
    // board left running for days costs nothing per transfer beyond its counts.
    bool recording = false;
    std::vector<SimTransfer> transfers;
    std::map<std::pair<bool, std::uint8_t>, int> counts;
    std::map<std::pair<bool, std::uint8_t>, int> failNext;
    double failProbability = 0.0;
    std::mt19937 failRandom;
    std::chrono::microseconds latency{0};
    int eventFd = -1;
    std::string statePath;
    // The file as this backend last wrote or read it. Another process's write shows as a
    // different text; file times are too coarse to tell two quick writes apart.
    std::string stateText;
    // Why the state file cannot be used right now (broken by someone else, not writable).
    // Meanwhile transfers fail and the file is left as it is.
    std::string stateProblem;
    // Several processes share the file: each use of it is one read-modify-write under an
    // advisory lock on a file beside it (the state file itself is replaced by renames).
    int lockFd = -1;
    int lockDepth = 0;
    bool holdingLock = false;
    FaultPlan faults;
    std::int64_t attempts = 0;  // transfer attempts since the fault plan was taken
    std::shared_ptr<TransferSink*> self = std::make_shared<TransferSink*>(this);

    // A transfer on a slow link takes its time to the microsecond: a plain sleep wakes up tens
    // of microseconds late, which would add up over the hundreds of blocks of a flash.
    static void Wait(std::chrono::microseconds span) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point until = Clock::now() + span;
        constexpr std::chrono::microseconds kSpin{200};
        if (span > kSpin) std::this_thread::sleep_until(until - kSpin);
        while (Clock::now() < until) {
        }
    }

    void Signal() const {
        const std::uint64_t one = 1;
        if (eventFd < 0) return;
        // A full counter already means "changed"; nothing is lost when this write fails.
        [[maybe_unused]] const auto written = ::write(eventFd, &one, sizeof one);
    }

    bool BoardPresent(const std::string& identity) const {
        return board.Mode() != BoardMode::Absent && identity == board.Data().identity;
    }

    ForeignSlot* FindForeign(const std::string& identity) {
        for (auto& slot : bus.foreign)
            if (slot.present && slot.identity == identity) return &slot;
        return nullptr;
    }

    bool InjectedFailure(bool isSet, std::uint8_t reportId) {
        auto it = failNext.find({isSet, reportId});
        if (it != failNext.end() && it->second > 0) {
            --it->second;
            return true;
        }
        return failProbability > 0.0 && std::uniform_real_distribution<double>(0.0, 1.0)(failRandom) < failProbability;
    }

    // Counts every attempt; keeps the bytes only while a test records them.
    void Log(Target target, bool isSet, const std::uint8_t* bytes, std::size_t length, bool ok) {
        if (target != Target::Foreign && length > 0) ++counts[{isSet, bytes[0]}];
        if (!recording) return;
        if (transfers.size() >= kMaxLoggedTransfers)
            transfers.erase(transfers.begin(), transfers.begin() + kMaxLoggedTransfers / 2);
        transfers.push_back({TargetName(target), isSet, std::vector<std::uint8_t>(bytes, bytes + length), ok});
    }

    void Lock() {
        if (lockFd < 0 || lockDepth++ > 0) return;
        while (::flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    void Unlock() {
        if (lockFd < 0 || --lockDepth > 0) return;
        ::flock(lockFd, LOCK_UN);
    }

    bool PlannedFailure() {
        ++attempts;
        if (faults.unplugBeforeAttempt && *faults.unplugBeforeAttempt == attempts) board.SetOnBus(false);
        return std::find(faults.failAttempts.begin(), faults.failAttempts.end(), attempts) != faults.failAttempts.end();
    }

    bool Transfer(const std::string& identity, Target target, bool readWrite, bool isSet, std::uint8_t* buffer,
                  std::size_t length) override {
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

    std::vector<HidInterfaceInfo> Enumerate() const {
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
                list.push_back({slot.identity, "sim:foreign/" + slot.identity, slot.device.vendorId,
                                slot.device.productId, slot.device.versionNumber});
        return list;
    }

    // ---- persistence ----
    bool SaveTo(const std::string& path, std::string* error, std::string* written = nullptr) {
        board.Sync();
        StateSnapshot snapshot{board.Data(), bus, WallClockUnixMs(), {}};
        BootloaderFirmware(snapshot.board.flash, snapshot.board.settings).FitFlash();
        std::string text = WriteStateJson(snapshot);
        if (!WriteFileAtomically(path, text, error)) return false;
        if (written) *written = std::move(text);
        return true;
    }

    // False when the board could not be kept in the file; the file is then left alone until
    // it can be read again.
    bool Save() {
        if (statePath.empty()) return true;
        if (!stateProblem.empty()) return false;
        std::string why;
        if (SaveTo(statePath, &why, &stateText)) return true;
        stateProblem = why;
        return false;
    }

    bool LoadFrom(const std::string& path, std::string* error, std::string* read = nullptr) {
        std::string text;
        std::string why;
        if (!ReadWholeFile(path, text, &why)) {
            if (error) *error = why;
            return false;
        }
        return LoadText(path, std::move(text), error, read);
    }

    bool LoadText(const std::string& path, std::string text, std::string* error, std::string* read) {
        StateSnapshot snapshot;
        std::string why;
        if (!ReadStateJson(text, snapshot, &why)) {
            if (error) *error = path + ": " + why;
            return false;
        }
        if (read) *read = std::move(text);
        const std::vector<HidInterfaceInfo> before = Enumerate();
        board.Data() = std::move(snapshot.board);
        bus = std::move(snapshot.bus);
        if (!snapshot.faults.Empty()) {
            // This process takes the plan over; the next save leaves it out of the file.
            faults = std::move(snapshot.faults);
            attempts = 0;
            if (read) read->clear();
        }
        board.Resume(WallClockUnixMs() - snapshot.savedAtUnixMs);
        const std::vector<HidInterfaceInfo> after = Enumerate();
        auto ids = [](const std::vector<HidInterfaceInfo>& l) {
            std::vector<std::string> out;
            for (const auto& i : l) out.push_back(i.identity);
            return out;
        };
        if (ids(before) != ids(after)) Signal();
        return true;
    }

    // Another process sharing the state file may have changed the board meanwhile. A file
    // that cannot be used is left alone until it is replaced by a good one.
    void ReloadIfChanged() {
        if (statePath.empty()) return;
        std::string text;
        std::string why;
        if (!ReadWholeFile(statePath, text, &why)) {
            stateProblem = why;
            return;
        }
        if (text != stateText && !LoadText(statePath, text, &why, &stateText)) {
            stateProblem = why;
            return;
        }
        stateProblem.clear();
        // A plan just taken over is removed from the file at once.
        if (stateText.empty()) Save();
    }

    class FileLock {
    public:
        explicit FileLock(Impl& impl) : impl_(impl) { impl_.Lock(); }
        ~FileLock() { impl_.Unlock(); }
        FileLock(const FileLock&) = delete;
        FileLock& operator=(const FileLock&) = delete;

    private:
        Impl& impl_;
    };
};

SimulatedHidBackend::SimulatedHidBackend(BoardSettings settings, const Clock* clock, std::function<std::int64_t()> now)
    : impl_(std::make_unique<Impl>(std::move(settings), clock, std::move(now))) {}

SimulatedHidBackend::~SimulatedHidBackend() {
    // Another process may have changed the board since this one last looked; its changes
    // must not be overwritten with an older picture.
    const Impl::FileLock lock(*impl_);
    impl_->ReloadIfChanged();
    impl_->Save();
}

std::vector<HidInterfaceInfo> SimulatedHidBackend::Enumerate() {
    const Impl::FileLock lock(*impl_);
    impl_->ReloadIfChanged();
    return impl_->Enumerate();
}

HidOpenResult SimulatedHidBackend::Open(const HidInterfaceInfo& device) {
    const Impl::FileLock lock(*impl_);
    impl_->ReloadIfChanged();
    HidOpenResult result;
    Target target;
    if (impl_->BoardPresent(device.identity))
        target = impl_->board.Mode() == BoardMode::Application ? Target::Board : Target::Bootloader;
    else if (impl_->FindForeign(device.identity))
        target = Target::Foreign;
    else {
        result.error = ENODEV;
        return result;
    }
    // Without the udev rule only the maker's device is locked away; a query-only handle remains.
    const bool denied = target != Target::Foreign && impl_->bus.openError != 0;
    result.readWrite = !denied;
    result.error = denied ? impl_->bus.openError : 0;
    result.handle = std::make_unique<SimHandle>(impl_->self, device.identity, target, result.readWrite);
    return result;
}

std::optional<std::u16string> SimulatedHidBackend::ReadString(const HidInterfaceInfo& device, HidString which) {
    const Impl::FileLock lock(*impl_);
    impl_->ReloadIfChanged();
    if (const ForeignSlot* slot = impl_->FindForeign(device.identity)) {
        switch (which) {
            case HidString::Manufacturer:
                return slot->device.manufacturer;
            case HidString::Product:
                return slot->device.product;
            case HidString::SerialNumber:
                return slot->device.serialNumber;
        }
    }
    if (!impl_->BoardPresent(device.identity) || !impl_->bus.stringsReadable) return std::nullopt;
    const BoardSettings& s = impl_->board.Settings();
    const bool app = impl_->board.Mode() == BoardMode::Application;
    switch (which) {
        case HidString::Manufacturer:
            return std::u16string(kMakerManufacturer);
        case HidString::Product:
            if (app) return std::u16string(kBoardProduct);
            return std::u16string(s.bootloaderVariant == 1 ? kBootloader1Product : kBootloader2Product);
        case HidString::SerialNumber:
            return app ? s.serialNumber : std::u16string();
    }
    return std::nullopt;
}

std::optional<std::u16string> SimulatedHidBackend::ReadLanguageList(const HidInterfaceInfo& device) {
    const Impl::FileLock lock(*impl_);
    impl_->ReloadIfChanged();
    if (!impl_->BoardPresent(device.identity) && !impl_->FindForeign(device.identity)) return std::nullopt;
    return std::u16string(u"\x0409");  // US English, the one language of these devices
}

int SimulatedHidBackend::ChangeFd() const {
    return impl_->eventFd;
}

bool SimulatedHidBackend::TakeChange() {
    const Impl::FileLock lock(*impl_);
    impl_->ReloadIfChanged();
    std::uint64_t value = 0;
    if (impl_->eventFd < 0) return false;
    return ::read(impl_->eventFd, &value, sizeof value) == static_cast<ssize_t>(sizeof value) && value > 0;
}

SimulatedBoard& SimulatedHidBackend::Board() {
    const Impl::FileLock lock(*impl_);
    impl_->ReloadIfChanged();
    return impl_->board;
}

void SimulatedHidBackend::RecordTransfers(bool record) {
    impl_->recording = record;
    if (!record) {
        impl_->transfers.clear();
        impl_->transfers.shrink_to_fit();
    }
}

bool SimulatedHidBackend::RecordingTransfers() const {
    return impl_->recording;
}

const std::vector<SimTransfer>& SimulatedHidBackend::Transfers() const {
    return impl_->transfers;
}

void SimulatedHidBackend::ClearTransfers() {
    impl_->recording = true;
    impl_->transfers.clear();
    impl_->counts.clear();
}

int SimulatedHidBackend::CountTransfers(bool isSet, std::uint8_t reportId) const {
    auto it = impl_->counts.find({isSet, reportId});
    return it == impl_->counts.end() ? 0 : it->second;
}

void SimulatedHidBackend::FailNext(bool isSet, std::uint8_t reportId, int count) {
    impl_->failNext[{isSet, reportId}] = count;
}

void SimulatedHidBackend::FailRandomly(double probability, std::uint32_t seed) {
    impl_->failProbability = probability;
    impl_->failRandom.seed(seed);
}

void SimulatedHidBackend::PlanFaults(std::vector<std::int64_t> failAttempts,
                                     std::optional<std::int64_t> unplugBeforeAttempt) {
    impl_->faults.failAttempts = std::move(failAttempts);
    impl_->faults.unplugBeforeAttempt = unplugBeforeAttempt;
    impl_->attempts = 0;
}

void SimulatedHidBackend::SetLatency(std::chrono::microseconds latency) {
    impl_->latency = latency;
}

void SimulatedHidBackend::Unplug() {
    const Impl::FileLock lock(*impl_);
    impl_->ReloadIfChanged();
    impl_->board.SetOnBus(false);
}

void SimulatedHidBackend::Plug() {
    const Impl::FileLock lock(*impl_);
    impl_->ReloadIfChanged();
    impl_->board.SetOnBus(true);
}

int SimulatedHidBackend::AddForeignDevice(const ForeignDevice& device) {
    const Impl::FileLock lock(*impl_);
    impl_->ReloadIfChanged();
    impl_->bus.foreign.push_back({device, impl_->board.NewIdentity(), true});
    impl_->Signal();
    impl_->Save();
    return static_cast<int>(impl_->bus.foreign.size()) - 1;
}

void SimulatedHidBackend::RemoveForeignDevice(int index) {
    const Impl::FileLock lock(*impl_);
    impl_->ReloadIfChanged();
    if (index < 0 || index >= static_cast<int>(impl_->bus.foreign.size())) return;
    ForeignSlot& slot = impl_->bus.foreign[static_cast<std::size_t>(index)];
    if (!slot.present) return;
    slot.present = false;
    impl_->Signal();
    impl_->Save();
}

void SimulatedHidBackend::SetStringsReadable(bool readable) {
    const Impl::FileLock lock(*impl_);
    impl_->ReloadIfChanged();
    impl_->bus.stringsReadable = readable;
    impl_->Save();
}

void SimulatedHidBackend::SetOpenError(int error) {
    const Impl::FileLock lock(*impl_);
    impl_->ReloadIfChanged();
    impl_->bus.openError = error;
    impl_->Save();
}

bool SimulatedHidBackend::LoadState(const std::string& path, std::string* error) {
    return impl_->LoadFrom(path, error);
}

bool SimulatedHidBackend::SaveState(const std::string& path, std::string* error) const {
    return impl_->SaveTo(path, error);
}

bool SimulatedHidBackend::SetStateFile(const std::string& path, std::string* error) {
    const std::string lockPath = path + ".lock";
    const int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (lockFd < 0) {
        if (error) *error = "cannot create the lock file " + lockPath + ": " + std::strerror(errno);
        return false;
    }
    if (impl_->lockFd >= 0) ::close(impl_->lockFd);
    impl_->lockFd = lockFd;
    impl_->lockDepth = 0;
    impl_->holdingLock = false;
    const Impl::FileLock lock(*impl_);
    if (FileExists(path) && !impl_->LoadFrom(path, error)) return false;
    if (!impl_->SaveTo(path, error, &impl_->stateText)) return false;
    impl_->statePath = path;
    impl_->stateProblem.clear();
    return true;
}

void SimulatedHidBackend::HoldStateLock(bool hold) {
    if (hold == impl_->holdingLock) return;
    impl_->holdingLock = hold;
    if (hold)
        impl_->Lock();
    else
        impl_->Unlock();
}

std::string SimulatedHidBackend::Problem() const {
    return impl_->stateProblem;
}

}  // namespace quelvan::sim
