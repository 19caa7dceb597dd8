#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "simulator/simulated_backend_impl.h"

namespace quelvan::sim {

namespace {

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

bool SimulatedHidBackend::Impl::SaveTo(const std::string& path, std::string* error, std::string* written) {
    board.Sync();
    StateSnapshot snapshot{board.Data(), bus, WallClockUnixMs(), {}};
    BootloaderFirmware(snapshot.board.flash, snapshot.board.settings).FitFlash();
    std::string text = WriteStateJson(snapshot);
    if (!WriteFileAtomically(path, text, error)) return false;
    if (written) *written = std::move(text);
    return true;
}

bool SimulatedHidBackend::Impl::Save() {
    if (statePath.empty()) return true;
    if (!stateProblem.empty()) return false;
    std::string why;
    if (SaveTo(statePath, &why, &stateText)) return true;
    stateProblem = why;
    return false;
}

bool SimulatedHidBackend::Impl::LoadFrom(const std::string& path, std::string* error, std::string* read) {
    std::string text;
    std::string why;
    if (!ReadWholeFile(path, text, &why)) {
        if (error) *error = why;
        return false;
    }
    return LoadText(path, std::move(text), error, read);
}

bool SimulatedHidBackend::Impl::LoadText(const std::string& path, std::string text, std::string* error,
                                         std::string* read) {
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

void SimulatedHidBackend::Impl::ReloadIfChanged() {
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
