#include "daemon/history_keeper.h"

#include <cstdio>

#include "backend/service_protocol.h"
#include "files/ini_file.h"
#include "schedule/schedule_transfer.h"
#include "service/board_owner.h"
#include "service/service_log.h"

namespace quelvan::service {

namespace {

using nlohmann::json;

// The bootloader command is sent with up to three attempts: one entry for them all.
constexpr auto kUpdateMarkSpan = std::chrono::seconds(30);

std::string TimeText(const LocalDateTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

json Failure(std::string_view code, const std::string& error) {
    return {{"ok", false}, {"code", code}, {"error", error}};
}

json EntryJson(const HistoryEntry& e) {
    return {{"id", e.id}, {"time", e.time}, {"by", e.by}, {"changed", e.changed}};
}

}  // namespace

HistoryKeeper::HistoryKeeper(BoardOwner& owner, const Clock& clock, HistoryStore& store)
    : owner_(owner), clock_(clock), store_(store) {
    connect(&owner_, &BoardOwner::StateChanged, this, &HistoryKeeper::OnStateChanged);
    connect(&owner_, &BoardOwner::BeforeFirmwareUpdate, this, &HistoryKeeper::OnBeforeFirmwareUpdate);
    connect(&owner_, &BoardOwner::BeforeImport, this, &HistoryKeeper::OnBeforeImport);
}

void HistoryKeeper::OnStateChanged(const QString& device) {
    const HeldDevice* held = owner_.Find(device.toStdString());
    if (!held || held->role != DeviceRole::Board || !held->configValid || held->serial.empty()) return;
    Board& b = boards_[held->serial];
    if (b.reading) return;
    // First seen, or back (after a firmware update, a power cut): its day program is read too.
    if (!b.known || b.device != held->device) {
        b.device = held->device;
        ReadWhole(held->serial, b.known ? "the board itself" : "found at the start");
        return;
    }
    const std::string writer = held->lastWriter.empty() ? std::string("a client") : held->lastWriter;
    const bool written = held->settingsWrites != b.settingsWrites;
    if (held->tableWrites != b.tableWrites) {
        ReadWhole(held->serial, writer);
        return;
    }
    b.settingsWrites = held->settingsWrites;
    if (held->config == b.record.config) return;
    HistoryRecord record = b.record;
    record.config = held->config;
    Record(held->serial, record, written ? writer : "the board itself");
}

void HistoryKeeper::OnBeforeFirmwareUpdate(const QString& device) {
    const HeldDevice* held = owner_.Find(device.toStdString());
    if (!held) return;
    Board& b = boards_[held->serial];
    const auto now = std::chrono::steady_clock::now();
    if (!b.known || now - b.markedBeforeUpdate < kUpdateMarkSpan) return;
    b.markedBeforeUpdate = now;
    Record(held->serial, b.record, "before a firmware update", true);
}

void HistoryKeeper::OnBeforeImport(const QString& device, const QString& who) {
    const HeldDevice* held = owner_.Find(device.toStdString());
    if (!held) return;
    // The board's settings as last recorded: every change made through the service was read
    // back and recorded when its session ended, and the importer has had the board to
    // itself since it announced the import.
    Board& b = boards_[held->serial];
    if (!b.known) {
        LogWarning("board " + held->serial + ": no entry before the import, its settings were never read");
        return;
    }
    Record(held->serial, b.record, "before an import by " + who.toStdString(), true);
}

void HistoryKeeper::ReadWhole(const std::string& serial, const std::string& who, std::function<void(bool)> done) {
    Board& b = boards_[serial];
    b.reading = true;
    auto read = std::make_shared<std::optional<HistoryRecord>>();
    owner_.RunSession(
        serial,
        [read](BoardProtocol& board) {
            ScheduleTable table;
            if (!LoadSchedule(board, table).complete) return;
            *read = HistoryRecord{board.config, table.Entries()};
        },
        [this, serial, who, read, done](bool ok, const std::string& error) {
            Board& b = boards_[serial];
            b.reading = false;
            if (const HeldDevice* held = owner_.FindBoard(serial)) {
                b.settingsWrites = held->settingsWrites;
                b.tableWrites = held->tableWrites;
            }
            if (!ok || !*read) {
                LogWarning("board " + serial + ": its settings could not be read for the history: " +
                           (ok ? std::string("the day program did not arrive whole") : error));
                if (done) done(false);
                return;
            }
            Record(serial, **read, who);
            if (done) done(true);
        });
}

void HistoryKeeper::Record(const std::string& serial, const HistoryRecord& record, const std::string& who,
                           bool always) {
    Board& b = boards_[serial];
    HistoryRecord before;
    bool haveBefore = b.known;
    if (b.known) {
        before = b.record;
    } else {
        const std::vector<HistoryEntry> list = store_.List(serial);
        if (!list.empty()) {
            if (const auto text = store_.Text(serial, list.back().id)) {
                before = RecordOfText(*text);
                haveBefore = true;
            }
        }
    }
    b.known = true;
    b.record = record;
    const std::string text = HistoryText(record);
    if (!always && haveBefore && HistoryText(before) == text) return;
    HistoryEntry entry;
    entry.time = TimeText(clock_.Now());
    entry.by = who;
    if (haveBefore) entry.changed = HistoryDifferences(before, record);
    std::string error;
    const std::optional<int> id = store_.Add(serial, entry, text, &error);
    if (!id) {
        // Once, until a write succeeds again: a full disk must not fill the journal too.
        if (!failing_) LogWarning("the settings history cannot be kept: " + error);
        failing_ = true;
        return;
    }
    if (failing_) LogInfo("the settings history is written again");
    failing_ = false;
}

std::string HistoryKeeper::Serial(const json& request, std::string& error) const {
    const auto field = request.find("serial");
    if (field != request.end() && field->is_string() && !field->get<std::string>().empty())
        return field->get<std::string>();
    if (const HeldDevice* only = owner_.FindBoard("")) return only->serial;
    const std::vector<std::string> boards = store_.Boards();
    if (boards.size() == 1) return boards.front();
    error = boards.empty() ? "there is no settings history yet" : "several boards: name one (--device SERIAL)";
    return {};
}

void HistoryKeeper::Handle(const std::string& op, const json& request, Answer answer) {
    std::string error;
    const std::string serial = Serial(request, error);
    if (serial.empty()) return answer(Failure(wire::kNoDevice, error));
    if (op == wire::kHistory) {
        json entries = json::array();
        for (const HistoryEntry& e : store_.List(serial)) entries.push_back(EntryJson(e));
        return answer({{"ok", true}, {"serial", serial}, {"folder", store_.Folder()}, {"entries", entries}});
    }
    const auto idField = request.find("entry");
    if (idField == request.end() || !idField->is_number_integer())
        return answer(Failure(wire::kBadRequest, "no integer \"entry\""));
    const int id = idField->get<int>();
    if (op == wire::kHistoryShow) {
        const std::optional<std::string> text = store_.Text(serial, id);
        if (!text) return answer(Failure(wire::kNoDevice, "board " + serial + " has no entry " + std::to_string(id)));
        return answer({{"ok", true}, {"serial", serial}, {"entry", id}, {"text", *text}});
    }
    const auto partField = request.find("part");
    const std::string part = partField != request.end() && partField->is_string() ? partField->get<std::string>() : "";
    if (part != "all" && part != "config" && part != "table")
        return answer(Failure(wire::kBadRequest, "\"part\" is all, config or table"));
    Restore(serial, id, part, std::move(answer));
}

void HistoryKeeper::Restore(const std::string& serial, int id, const std::string& part, Answer answer) {
    const std::optional<std::string> text = store_.Text(serial, id);
    if (!text) return answer(Failure(wire::kNoDevice, "board " + serial + " has no entry " + std::to_string(id)));
    if (!owner_.FindBoard(serial)) return answer(Failure(wire::kNoDevice, "the service holds no board " + serial));
    Board& b = boards_[serial];
    if (b.reading) return answer(Failure(wire::kBusy, "the board's settings are being read; try again"));
    if (b.known) Record(serial, b.record, "before a restore of entry " + std::to_string(id), true);
    b.reading = true;  // the restore is recorded once, when it has been read back whole
    const std::string who = "a restore of entry " + std::to_string(id);
    auto result = std::make_shared<std::string>();
    owner_.RunSession(
        serial,
        [text = *text, part, result](BoardProtocol& board) {
            // As the import does: the whole settings record, then every row of the table.
            if (part != "table") {
                files::ReadConfiguration(text, board.config);
                if (!board.WriteDeviceConfig().ok) *result = "writing the settings failed";
            }
            if (part == "config" || !result->empty()) return;
            ScheduleTable table;
            if (!LoadSchedule(board, table).complete) {
                *result = "the day program did not arrive whole";
                return;
            }
            if (!files::HasTableRows(text, table.Size())) {
                if (part == "table") *result = "the entry has no rows for this board's table";
                return;
            }
            files::ReadTable(text, table.Rows());
            table.SortByTime();
            if (WriteSchedule(board, table).failed > 0) *result = "writing the day program failed";
        },
        [this, serial, id, who, result, answer](bool ok, const std::string& error) {
            boards_[serial].reading = false;
            if (!ok || !result->empty()) {
                answer(Failure(wire::kFailed, ok ? *result : error));
                ReadWhole(serial, who);
                return;
            }
            ReadWhole(serial, who, [answer, serial, id](bool read) {
                answer(read ? json{{"ok", true}, {"serial", serial}, {"entry", id}}
                            : Failure(wire::kFailed, "the board was not read back"));
            });
        },
        who);
}

}  // namespace quelvan::service
