#pragma once
// The simulated backend's inner workings, shared by its files: the transfers of its handles
// (simulated_transfers.cpp), its state file (simulated_backend_state.cpp) and the backend's
// own calls (simulated_backend.cpp). Not for use outside the simulator.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "simulator/board_model.h"
#include "simulator/simulated_backend.h"
#include "simulator/state_file.h"

namespace quelvan::sim {

// Which of the bus's devices a handle was opened on; names as the transfer log shows them.
enum class Target { Board, Bootloader, Foreign };

const char* TargetName(Target t);

// Transfers of handles go through this; it outlives no backend, and handles notice that.
class TransferSink {
public:
    virtual ~TransferSink() = default;
    virtual bool Transfer(const std::string& identity, Target target, bool readWrite, bool isSet, std::uint8_t* buffer,
                          std::size_t length) = 0;
};

struct SimulatedHidBackend::Impl final : TransferSink {
    Impl(BoardSettings settings, const Clock* clock, std::function<std::int64_t()> now);
    ~Impl() override;

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
    static void Wait(std::chrono::microseconds span);
    void Signal() const;
    bool BoardPresent(const std::string& identity) const;
    ForeignSlot* FindForeign(const std::string& identity);
    bool InjectedFailure(bool isSet, std::uint8_t reportId);
    // Counts every attempt; keeps the bytes only while a test records them.
    void Log(Target target, bool isSet, const std::uint8_t* bytes, std::size_t length, bool ok);
    void Lock();
    void Unlock();
    bool PlannedFailure();
    bool Transfer(const std::string& identity, Target target, bool readWrite, bool isSet, std::uint8_t* buffer,
                  std::size_t length) override;
    std::vector<HidInterfaceInfo> Enumerate() const;

    // ---- persistence ----
    bool SaveTo(const std::string& path, std::string* error, std::string* written = nullptr);
    // False when the board could not be kept in the file; the file is then left alone until
    // it can be read again.
    bool Save();
    bool LoadFrom(const std::string& path, std::string* error, std::string* read = nullptr);
    bool LoadText(const std::string& path, std::string text, std::string* error, std::string* read);
    // Another process sharing the state file may have changed the board meanwhile. A file
    // that cannot be used is left alone until it is replaced by a good one.
    void ReloadIfChanged();

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

}  // namespace quelvan::sim
