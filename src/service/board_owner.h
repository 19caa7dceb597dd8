#pragma once
// quelvand's one owner of the boards. It holds every board (and bootloader) it finds
// through the device layer, reads each board's live state at its poll interval, and runs
// every transfer of every client and bridge, one at a time, on the one thread.
//
// Sessions. A holder (a client connection, a bridge) may have a device to itself: while it
// does, only its transfers reach that device, the owner's own poll of it waits, and work of
// other holders waits in turn (for at most OwnerOptions::waitMs). A session ends when its
// holder ends it, when the holder goes (ForgetHolder), when the device leaves the bus, or
// when its holder has sent nothing for OwnerOptions::sessionIdleMs, and on a board when it has
// lasted OwnerOptions::sessionMaxMs, however busy its holder keeps it (a bootloader's session,
// a flash, lasts as long as it needs: cutting it would leave the board in its bootloader).
// What was written during a session is read back when it ends, and only then reported
// (StateChanged). A board whose live state has not been read for three poll periods is marked
// stale (HeldDevice::stale, reported by StateChanged as well), so that what is shown of it
// can say how old it is.
//
// Bridges use RunSession: their work gets the board's records freshly read inside the
// session, so nothing they write was not just read from the board.

#include <QObject>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "device/board_protocol.h"
#include "device/clock.h"
#include "device/hid_device_controller.h"
#include "device/identification.h"

class QSocketNotifier;
class QTimer;

namespace quelvan::service {

struct OwnerOptions {
    int pollMs = 1000;                // 0: the owner reads nothing on its own
    int configPollMs = 0;             // a poll reads the settings too once they are this old; 0: never
    std::vector<std::string> boards;  // serial numbers to hold; empty: every board
    int waitMs = 15000;               // longest wait for another holder's session
    int sessionIdleMs = 30000;        // a session whose holder stays silent this long ends
    int sessionMaxMs = 10000;         // a board's session ends after this long, busy or not
};

using HolderId = std::uint64_t;

// A device the owner holds, as clients and bridges see it.
struct HeldDevice {
    std::string device;  // the backend's identity of the interface
    HidInterfaceInfo info;
    DeviceRole role = DeviceRole::Other;
    std::string manufacturer, product, serial;  // UTF-8
    HolderId sessionHolder = 0;                 // 0: no session
    // Boards: the records as the owner last read them (valid once read).
    bool liveValid = false;
    bool configValid = false;
    LiveState live;
    DeviceConfig config;
    // When the live state was last read (milliseconds since 1970, UTC; 0: never), and whether
    // that is three poll periods ago or more.
    qint64 lastReadMs = 0;
    bool stale = false;
    // Rows of the day program written through the owner's transfers so far: a change of it
    // tells its readers to read it anew.
    unsigned scheduleWrites = 0;
    // Writes of settings (reports 2, 4, 5, 6) and day-program rows made through the service,
    // counted, and who made the last of them ("quelvanctl", "the window", "MQTT", ...).
    std::uint64_t settingsWrites = 0;
    std::uint64_t tableWrites = 0;
    std::string lastWriter;
};

// {"stale": true|false, "last_read": "2026-12-09T17:02:03Z"} (null before the first read): how
// fresh a board's state is, for every state object the service shows or publishes.
nlohmann::json FreshnessJson(const HeldDevice& board);

struct OpenResult {
    bool readWrite = false;
    int error = 0;
};

class BoardOwner : public QObject {
    Q_OBJECT
public:
    BoardOwner(HidBackend& backend, const Clock& clock, OwnerOptions options, QObject* parent = nullptr);
    ~BoardOwner() override;

    // The first scan, the device-change notifier and the poll.
    void Start();
    // Handles any device change the backend has signalled (before a listing, so that it is
    // current even when the notifier has not fired yet).
    void ProcessDeviceChanges();

    std::vector<const HeldDevice*> Devices() const;
    const HeldDevice* Find(const std::string& device) const;
    // The board with this serial number, or the only board when `serial` is empty.
    const HeldDevice* FindBoard(const std::string& serial) const;
    const OwnerOptions& Options() const { return options_; }
    // Sees every transfer attempt on every held device (quelvand --trace).
    void SetTransferObserver(HidDeviceController::TransferObserver observer);

    HolderId NewHolder() { return ++lastHolder_; }
    // Who a holder is, for the settings history ("quelvanctl", "the window", "MQTT").
    void NameHolder(HolderId holder, std::string name);
    // Runs `work` once `holder` may use the device: at once unless another holder has it in
    // a session, else when that session ends. `failed` runs instead when the wait takes too
    // long or the device leaves. Either runs exactly once, unless the holder is forgotten.
    void WhenFree(const std::string& device, HolderId holder, std::function<void()> work,
                  std::function<void(std::string_view code, const std::string& why)> failed);
    // Ends the holder's sessions and drops its waiting work.
    void ForgetHolder(HolderId holder);
    // The holder, in a session on the board, is about to import a settings file: its next
    // write of settings or day-program rows in that session is preceded by BeforeImport.
    // False when the holder has no session on a board of that name.
    bool AnnounceImport(const std::string& device, HolderId holder);

    // These act at once; use them from WhenFree's work (or while holding the session).
    bool BeginSession(const std::string& device, HolderId holder);
    bool EndSession(const std::string& device, HolderId holder);
    OpenResult Open(const std::string& device);
    // One attempt of one feature-report transfer, the buffer forwarded unchanged.
    bool Transfer(const std::string& device, HolderId holder, bool isSet, std::vector<std::uint8_t>& buffer);

    // For bridges: `work` runs inside a session on the board with this serial number (the
    // only board when empty), on records read afresh in it; `done` says how it went. The
    // changes are read back and reported after the session.
    using BoardWork = std::function<void(BoardProtocol& board)>;
    using Done = std::function<void(bool ok, const std::string& error)>;
    void RunSession(const std::string& serial, BoardWork work, Done done, std::string who = "quelvand");

    // One poll of every board not in a session (the poll timer runs it).
    void PollBoards();

signals:
    // A device arrived or left.
    void DevicesChanged();
    // A board's records were read anew after a change made through the service, or the
    // poll found its live state changed.
    void StateChanged(const QString& device);
    // A holder is about to send the board into its bootloader (a firmware update): the
    // receivers run before the command goes out.
    void BeforeFirmwareUpdate(const QString& device);
    // A holder that announced an import is about to write its first settings or rows to the
    // board (`who`: the holder's name); the receivers run before that write goes out.
    void BeforeImport(const QString& device, const QString& who);

private:
    struct Board;
    struct Waiting;
    Board* FindEntry(const std::string& device) const;
    void OnDeviceChange();
    void Acquire(HidDevice& device, int index);
    void Release(std::size_t entry, const char* why);
    void ReadBoard(Board& board, bool config);
    void RunWaiting(Board& board);
    void Housekeeping();
    void UpdateStale(Board& board);
    void QueueKick(Board& board);
    void UpdateTimers();
    bool Wanted(DeviceRole role, const std::string& serial) const;

    HidBackend& backend_;
    const Clock& clock_;
    OwnerOptions options_;
    std::unique_ptr<HidDeviceController> controller_;
    std::vector<std::unique_ptr<Board>> boards_;
    HolderId lastHolder_ = 0;
    std::map<HolderId, std::string> holderNames_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* rescan_ = nullptr;
    QTimer* poll_ = nullptr;
    QTimer* housekeeping_ = nullptr;
};

}  // namespace quelvan::service
