#include "service/board_owner.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <utility>

#include "backend/service_protocol.h"
#include "service/service_log.h"

namespace quelvan::service {

namespace {

constexpr int kHousekeepingMs = 250;

bool IsBootloader(DeviceRole role) {
    return role == DeviceRole::Bootloader1 || role == DeviceRole::Bootloader2;
}

bool IsConfigReport(std::uint8_t id) {
    return id == report::kConfigPart1 || id == report::kConfigPart2 || id == report::kConfigPart3 ||
           id == report::kConfigPart4;
}

}  // namespace

nlohmann::json FreshnessJson(const HeldDevice& board) {
    nlohmann::json lastRead = nullptr;
    if (board.lastReadMs > 0)
        lastRead = QDateTime::fromMSecsSinceEpoch(board.lastReadMs, Qt::UTC).toString(Qt::ISODate).toStdString();
    return {{"stale", board.stale}, {"last_read", lastRead}};
}

struct BoardOwner::Waiting {
    HolderId holder = 0;
    std::function<void()> work;
    std::function<void(std::string_view, const std::string&)> failed;
    QDeadlineTimer deadline;
};

struct BoardOwner::Board {
    HeldDevice view;
    HidDevice* device = nullptr;
    std::unique_ptr<BoardProtocol> protocol;
    std::deque<Waiting> waiting;
    QElapsedTimer sinceHolderSpoke;
    QElapsedTimer sessionSince;
    QElapsedTimer sinceRead;  // since the live state was last read, or the board came
    QElapsedTimer sinceConfigRead;
    bool liveDirty = false;
    bool configDirty = false;
    bool scheduleDirty = false;  // a row of the day program was written since the last report
    bool readBackQueued = false;
    bool kickQueued = false;
    bool importAnnounced = false;  // by the session's holder, until its first write or the end
};

BoardOwner::BoardOwner(HidBackend& backend, const Clock& clock, OwnerOptions options, QObject* parent)
    : QObject(parent),
      backend_(backend),
      clock_(clock),
      options_(std::move(options)),
      controller_(std::make_unique<HidDeviceController>(backend)) {}

BoardOwner::~BoardOwner() {
    for (auto& b : boards_) {
        b->protocol.reset();
        controller_->ReleaseDevice(b->device);
    }
    boards_.clear();
}

void BoardOwner::Start() {
    controller_->OnEnumerate = [this](HidDevice& device, int index) {
        Acquire(device, index);
        return true;
    };
    controller_->OnDeviceChange = [this] { OnDeviceChange(); };
    if (controller_->ChangeFd() >= 0) {
        notifier_ = new QSocketNotifier(controller_->ChangeFd(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &BoardOwner::ProcessDeviceChanges);
    } else if (controller_->RescanIntervalMs() > 0) {
        rescan_ = new QTimer(this);
        connect(rescan_, &QTimer::timeout, this, [this] { controller_->NotifyDeviceChange(); });
        rescan_->start(controller_->RescanIntervalMs());
    }
    poll_ = new QTimer(this);
    connect(poll_, &QTimer::timeout, this, &BoardOwner::PollBoards);
    housekeeping_ = new QTimer(this);
    connect(housekeeping_, &QTimer::timeout, this, &BoardOwner::Housekeeping);
    ProcessDeviceChanges();
}

void BoardOwner::SetTransferObserver(HidDeviceController::TransferObserver observer) {
    controller_->SetTransferObserver(std::move(observer));
}

void BoardOwner::ProcessDeviceChanges() {
    try {
        controller_->ProcessNotifications();
    } catch (const std::exception& e) {
        LogWarning(std::string("scanning the HID devices failed: ") + e.what());
    }
}

bool BoardOwner::Wanted(DeviceRole role, const std::string& serial) const {
    // A bootloader has no serial number to choose it by; it is a board in the middle of an update.
    if (IsBootloader(role)) return true;
    if (role != DeviceRole::Board) return false;
    return options_.boards.empty() ||
           std::find(options_.boards.begin(), options_.boards.end(), serial) != options_.boards.end();
}

void BoardOwner::OnDeviceChange() {
    bool changed = false;
    for (std::size_t i = boards_.size(); i-- > 0;) {
        if (boards_[i]->device->PluggedIn()) continue;
        Release(i, "left the bus");
        changed = true;
    }
    const std::size_t before = boards_.size();
    controller_->EnumerateDevices();
    changed = changed || boards_.size() != before;
    UpdateTimers();
    if (changed) emit DevicesChanged();
}

void BoardOwner::Acquire(HidDevice& device, int index) {
    if (device.Acquired()) return;
    const std::u16string manufacturer = device.ManufacturerString(), product = device.ProductString();
    const DeviceRole role = IdentifyDevice(manufacturer, product);
    if (role != DeviceRole::Board && !IsBootloader(role)) return;
    const std::string serial = role == DeviceRole::Board ? ToUtf8(device.SerialNumberString()) : std::string();
    if (!Wanted(role, serial)) return;
    HidDevice* held = controller_->AcquireDevice(index);
    if (!held) return;

    auto board = std::make_unique<Board>();
    board->device = held;
    board->view.device = held->DeviceInstance();
    board->view.info = held->Info();
    board->view.role = role;
    board->view.manufacturer = ToUtf8(manufacturer);
    board->view.product = ToUtf8(product);
    board->view.serial = serial;
    board->protocol = std::make_unique<BoardProtocol>(clock_);
    board->protocol->SetDevice(held);
    board->sinceRead.start();
    LogInfo(std::string(RoleName(role)) + (serial.empty() ? "" : " " + serial) + " at " + held->DevicePath() + " held");
    Board& entry = *board;
    boards_.push_back(std::move(board));
    if (role == DeviceRole::Board && options_.pollMs > 0) ReadBoard(entry, true);
}

void BoardOwner::Release(std::size_t entry, const char* why) {
    std::unique_ptr<Board> board = std::move(boards_[entry]);
    boards_.erase(boards_.begin() + static_cast<std::ptrdiff_t>(entry));
    LogInfo(std::string(RoleName(board->view.role)) + (board->view.serial.empty() ? "" : " " + board->view.serial) +
            " " + why);
    board->protocol.reset();
    controller_->ReleaseDevice(board->device);
    // After the entry is gone, so that what the callbacks start finds the device missing.
    for (Waiting& w : board->waiting) w.failed(wire::kNoDevice, "the device left the bus");
}

BoardOwner::Board* BoardOwner::FindEntry(const std::string& device) const {
    for (const auto& b : boards_)
        if (b->view.device == device) return b.get();
    return nullptr;
}

std::vector<const HeldDevice*> BoardOwner::Devices() const {
    std::vector<const HeldDevice*> list;
    for (const auto& b : boards_) list.push_back(&b->view);
    return list;
}

const HeldDevice* BoardOwner::Find(const std::string& device) const {
    const Board* b = FindEntry(device);
    return b ? &b->view : nullptr;
}

const HeldDevice* BoardOwner::FindBoard(const std::string& serial) const {
    const HeldDevice* found = nullptr;
    for (const auto& b : boards_) {
        if (b->view.role != DeviceRole::Board) continue;
        if (!serial.empty() && b->view.serial == serial) return &b->view;
        if (serial.empty()) {
            if (found) return nullptr;  // several: the caller has to choose
            found = &b->view;
        }
    }
    return found;
}

void BoardOwner::WhenFree(const std::string& device, HolderId holder, std::function<void()> work,
                          std::function<void(std::string_view, const std::string&)> failed) {
    Board* b = FindEntry(device);
    if (!b) {
        failed(wire::kNoDevice, "no such device");
        return;
    }
    const HolderId current = b->view.sessionHolder;
    // Nobody jumps the queue: a holder whose session was just ended comes after those waiting.
    if (current == holder || (current == 0 && b->waiting.empty())) {
        work();
        return;
    }
    b->waiting.push_back({holder, std::move(work), std::move(failed), QDeadlineTimer(options_.waitMs)});
    if (current == 0) QueueKick(*b);
    UpdateTimers();
}

void BoardOwner::RunWaiting(Board& board) {
    board.kickQueued = false;
    const std::string device = board.view.device;
    for (;;) {
        Board* b = FindEntry(device);
        if (!b || b->waiting.empty()) break;
        if (b->view.sessionHolder != 0 && b->view.sessionHolder != b->waiting.front().holder) break;
        Waiting w = std::move(b->waiting.front());
        b->waiting.pop_front();
        w.work();
    }
    UpdateTimers();
}

void BoardOwner::NameHolder(HolderId holder, std::string name) {
    holderNames_[holder] = std::move(name);
}

void BoardOwner::ForgetHolder(HolderId holder) {
    holderNames_.erase(holder);
    for (const auto& b : boards_) {
        auto& waiting = b->waiting;
        waiting.erase(
            std::remove_if(waiting.begin(), waiting.end(), [&](const Waiting& w) { return w.holder == holder; }),
            waiting.end());
    }
    std::vector<std::string> held;
    for (const auto& b : boards_)
        if (b->view.sessionHolder == holder) held.push_back(b->view.device);
    for (const std::string& device : held) EndSession(device, holder);
    UpdateTimers();
}

bool BoardOwner::BeginSession(const std::string& device, HolderId holder) {
    Board* b = FindEntry(device);
    if (!b || (b->view.sessionHolder != 0 && b->view.sessionHolder != holder)) return false;
    if (b->view.sessionHolder != holder) b->sessionSince.start();
    b->view.sessionHolder = holder;
    b->sinceHolderSpoke.start();
    UpdateTimers();
    return true;
}

bool BoardOwner::AnnounceImport(const std::string& device, HolderId holder) {
    Board* b = FindEntry(device);
    if (!b || b->view.role != DeviceRole::Board || b->view.sessionHolder != holder) return false;
    b->importAnnounced = true;
    return true;
}

bool BoardOwner::EndSession(const std::string& device, HolderId holder) {
    Board* b = FindEntry(device);
    if (!b || b->view.sessionHolder != holder) return false;
    b->view.sessionHolder = 0;
    b->importAnnounced = false;
    if (b->liveDirty || b->configDirty)
        ReadBoard(*b, b->configDirty);
    else if (std::exchange(b->scheduleDirty, false))
        emit StateChanged(QString::fromStdString(b->view.device));
    QueueKick(*b);
    UpdateTimers();
    return true;
}

void BoardOwner::QueueKick(Board& board) {
    // The next holder's work runs from the event loop, not inside the ending holder's request.
    if (board.kickQueued || board.waiting.empty()) return;
    board.kickQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this, device = board.view.device] {
            if (Board* again = FindEntry(device)) RunWaiting(*again);
        },
        Qt::QueuedConnection);
}

OpenResult BoardOwner::Open(const std::string& device) {
    Board* b = FindEntry(device);
    if (!b) return {false, ENODEV};
    const bool readWrite = b->device->Open();
    return {readWrite, readWrite ? 0 : (b->device->LastOpenError() ? b->device->LastOpenError() : EIO)};
}

bool BoardOwner::Transfer(const std::string& device, HolderId holder, bool isSet, std::vector<std::uint8_t>& buffer) {
    Board* b = FindEntry(device);
    if (!b || buffer.empty()) return false;
    if (b->view.sessionHolder != 0 && b->view.sessionHolder != holder) return false;
    const bool inSession = b->view.sessionHolder == holder;
    if (inSession) b->sinceHolderSpoke.restart();
    const bool command = isSet && buffer[0] == report::kSchedule && buffer.size() > 1 &&
                         (buffer[1] == report::kCommandEnterBootloader || buffer[1] == report::kCommandSaveEEPROM);
    if (command && buffer[1] == report::kCommandEnterBootloader && b->view.role == DeviceRole::Board) {
        emit BeforeFirmwareUpdate(QString::fromStdString(device));
        b = FindEntry(device);
        if (!b) return false;
    }
    if (isSet && b->view.role == DeviceRole::Board && (IsConfigReport(buffer[0]) || buffer[0] == report::kSchedule) &&
        !command) {
        const auto name = holderNames_.find(holder);
        const std::string writer = name != holderNames_.end() ? name->second : "a client";
        if (inSession && std::exchange(b->importAnnounced, false)) {
            emit BeforeImport(QString::fromStdString(device), QString::fromStdString(writer));
            b = FindEntry(device);
            if (!b) return false;
        }
        (buffer[0] == report::kSchedule ? b->view.tableWrites : b->view.settingsWrites)++;
        b->view.lastWriter = writer;
    }
    const bool ok = isSet ? b->device->WriteFeature(buffer.data(), buffer.size())
                          : b->device->ReadFeature(buffer.data(), buffer.size());
    if (isSet && b->view.role == DeviceRole::Board) {
        // A failed set may still have reached the board: it is read back all the same.
        if (buffer[0] == report::kLiveState) b->liveDirty = true;
        if (IsConfigReport(buffer[0])) b->configDirty = true;
        if (buffer[0] == report::kSchedule && buffer.size() > 1 && buffer[1] < report::kCommandEnterBootloader) {
            ++b->view.scheduleWrites;
            b->scheduleDirty = true;
        }
        if (!inSession && !b->readBackQueued && options_.pollMs > 0) {
            b->readBackQueued = true;
            QMetaObject::invokeMethod(
                this,
                [this, device] {
                    Board* again = FindEntry(device);
                    if (!again) return;
                    again->readBackQueued = false;
                    if (again->view.sessionHolder == 0) ReadBoard(*again, again->configDirty);
                },
                Qt::QueuedConnection);
        }
    }
    return ok;
}

void BoardOwner::ReadBoard(Board& board, bool config) {
    board.liveDirty = false;
    if (config) board.configDirty = false;
    if (options_.pollMs <= 0 || board.view.role != DeviceRole::Board) return;
    BoardProtocol& p = *board.protocol;
    const bool wasValid = board.view.liveValid;
    const LiveState before = board.view.live;
    const bool wasStale = board.view.stale;
    if (p.ReadLiveState().ok) {
        board.view.live = p.live;
        board.view.liveValid = true;
        board.view.lastReadMs = QDateTime::currentMSecsSinceEpoch();
        board.view.stale = false;
        board.sinceRead.restart();
    }
    bool changed = board.view.liveValid && (!wasValid || !(before == board.view.live) || wasStale != board.view.stale);
    if (config && board.view.liveValid && p.live.FirmwareVersion == kSupportedFirmwareVersion &&
        p.ReadDeviceConfig().ok) {
        board.view.config = p.config;
        board.view.configValid = true;
        board.sinceConfigRead.start();
        changed = true;
    }
    if (std::exchange(board.scheduleDirty, false)) changed = true;
    if (changed) emit StateChanged(QString::fromStdString(board.view.device));
}

void BoardOwner::UpdateStale(Board& board) {
    if (options_.pollMs <= 0 || board.view.role != DeviceRole::Board || board.view.stale) return;
    if (!board.sinceRead.hasExpired(3LL * options_.pollMs)) return;
    board.view.stale = true;
    emit StateChanged(QString::fromStdString(board.view.device));
}

void BoardOwner::PollBoards() {
    // By identity: a state change's receiver may change the list.
    std::vector<std::string> devices, all;
    for (const auto& b : boards_) all.push_back(b->view.device);
    for (const std::string& device : all)
        if (Board* b = FindEntry(device)) UpdateStale(*b);
    for (const auto& b : boards_)
        if (b->view.role == DeviceRole::Board && b->view.sessionHolder == 0) devices.push_back(b->view.device);
    for (const std::string& device : devices) {
        Board* b = FindEntry(device);
        if (!b || b->view.sessionHolder != 0) continue;
        // A board that was not read completely at its arrival gets its configuration now; a
        // bridge that publishes the settings has them read again now and then, since a change
        // made at the board itself is seen no other way.
        const bool readable = b->view.liveValid && b->view.live.FirmwareVersion == kSupportedFirmwareVersion;
        const bool stale = options_.configPollMs > 0 && b->sinceConfigRead.isValid() &&
                           b->sinceConfigRead.hasExpired(options_.configPollMs);
        const bool config = b->configDirty || (readable && (!b->view.configValid || stale));
        ReadBoard(*b, config);
    }
}

void BoardOwner::RunSession(const std::string& serial, BoardWork work, Done done, std::string who) {
    const HeldDevice* held = FindBoard(serial);
    if (!held) {
        done(false, serial.empty() ? "no board, or several" : "no board " + serial);
        return;
    }
    const std::string device = held->device;
    const HolderId holder = NewHolder();
    WhenFree(
        device, holder,
        [this, device, holder, work, done, who] {
            Board* b = FindEntry(device);
            if (!b || !BeginSession(device, holder)) {
                done(false, "the board left the bus");
                return;
            }
            BoardProtocol board(clock_);
            board.SetDevice(b->device);
            const bool read = board.ReadLiveState().ok && board.live.FirmwareVersion == kSupportedFirmwareVersion &&
                              board.ReadDeviceConfig().ok;
            const DeviceConfig readConfig = board.config;
            if (read) work(board);
            board.SetDevice(nullptr);
            if (Board* still = FindEntry(device)) {
                still->liveDirty = still->configDirty = true;
                if (read && !(board.config == readConfig)) {
                    still->view.settingsWrites++;
                    still->view.lastWriter = who;
                }
            }
            EndSession(device, holder);
            done(read, read ? std::string() : "reading the board failed");
        },
        [done](std::string_view, const std::string& why) { done(false, why); });
}

void BoardOwner::Housekeeping() {
    std::vector<Waiting> expired;
    std::vector<std::string> idle, tooLong;
    for (const auto& b : boards_) {
        auto& waiting = b->waiting;
        for (auto it = waiting.begin(); it != waiting.end();) {
            if (it->deadline.hasExpired()) {
                expired.push_back(std::move(*it));
                it = waiting.erase(it);
            } else {
                ++it;
            }
        }
        if (b->view.sessionHolder != 0 && b->sinceHolderSpoke.hasExpired(options_.sessionIdleMs))
            idle.push_back(b->view.device);
        else if (b->view.sessionHolder != 0 && b->view.role == DeviceRole::Board &&
                 b->sessionSince.hasExpired(options_.sessionMaxMs))
            tooLong.push_back(b->view.device);
    }
    for (const std::string& device : tooLong) {
        if (Board* b = FindEntry(device)) {
            LogWarning("a session on " + b->device->DevicePath() + " ended after " +
                       (options_.sessionMaxMs % 1000 == 0 ? std::to_string(options_.sessionMaxMs / 1000) + " s"
                                                          : std::to_string(options_.sessionMaxMs) + " ms") +
                       ", the longest a session may last");
            b->liveDirty = true;  // read now: the poll has waited as long as everyone else
            EndSession(device, b->view.sessionHolder);
        }
    }
    for (const std::string& device : idle) {
        if (Board* b = FindEntry(device)) {
            LogWarning("a session on " + b->device->DevicePath() + " ended: its holder sent nothing for " +
                       std::to_string(options_.sessionIdleMs / 1000) + " s");
            EndSession(device, b->view.sessionHolder);
        }
    }
    for (Waiting& w : expired) w.failed(wire::kBusy, "the device is in use by another program");
    UpdateTimers();
}

void BoardOwner::UpdateTimers() {
    if (!poll_) return;
    bool anyBoard = false, anyWaitOrSession = false;
    for (const auto& b : boards_) {
        anyBoard = anyBoard || b->view.role == DeviceRole::Board;
        anyWaitOrSession = anyWaitOrSession || b->view.sessionHolder != 0 || !b->waiting.empty();
    }
    if (options_.pollMs > 0 && anyBoard) {
        if (!poll_->isActive()) poll_->start(options_.pollMs);
    } else {
        poll_->stop();
    }
    if (anyWaitOrSession) {
        if (!housekeeping_->isActive()) housekeeping_->start(kHousekeepingMs);
    } else {
        housekeeping_->stop();
    }
}

}  // namespace quelvan::service
