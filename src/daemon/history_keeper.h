#pragma once
// Keeps the settings history (history_store.h) of every board the owner holds: an entry
// whenever the settings or the day program change (seen by the poll, or written through
// the service, with who wrote them), and always one just before a firmware update, an
// import or a restore through the service. The day program is read in a session of its own when the
// board is first seen and after rows were written through the service. Answers the
// socket's history requests and restores an entry through the import's steps.

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "daemon/history_store.h"
#include "device/clock.h"

namespace quelvan::service {

class BoardOwner;

class HistoryKeeper : public QObject {
    Q_OBJECT
public:
    HistoryKeeper(BoardOwner& owner, const Clock& clock, HistoryStore& store);

    // The socket's "history", "history-show" and "restore" requests; `answer` gets the
    // reply's body: {"ok": true, ...} or {"ok": false, "code", "error"}.
    using Answer = std::function<void(nlohmann::json reply)>;
    void Handle(const std::string& op, const nlohmann::json& request, Answer answer);

private:
    struct Board {
        bool known = false;    // `record` holds what the board holds
        bool reading = false;  // a session of this keeper's is under way
        std::string device;    // the owner's identity of the board when last read
        HistoryRecord record;
        std::uint64_t settingsWrites = 0, tableWrites = 0;
        std::chrono::steady_clock::time_point markedBeforeUpdate{};
    };
    void OnStateChanged(const QString& device);
    void OnBeforeFirmwareUpdate(const QString& device);
    void OnBeforeImport(const QString& device, const QString& who);
    // Reads settings and day program in a session and records them when they differ.
    void ReadWhole(const std::string& serial, const std::string& who, std::function<void(bool ok)> done = {});
    // A new entry; `always` even when nothing differs from the one before.
    void Record(const std::string& serial, const HistoryRecord& record, const std::string& who, bool always = false);
    std::string Serial(const nlohmann::json& request, std::string& error) const;
    void Restore(const std::string& serial, int id, const std::string& part, Answer answer);

    BoardOwner& owner_;
    const Clock& clock_;
    HistoryStore& store_;
    std::map<std::string, Board> boards_;
    bool failing_ = false;  // the last write failed (logged once)
};

}  // namespace quelvan::service
