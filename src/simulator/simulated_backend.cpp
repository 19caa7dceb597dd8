#include "simulator/simulated_backend.h"

#include <unistd.h>

#include <cerrno>

#include "device/identification.h"
#include "simulator/simulated_backend_impl.h"

namespace quelvan::sim {

namespace {

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

}  // namespace

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

}  // namespace quelvan::sim
