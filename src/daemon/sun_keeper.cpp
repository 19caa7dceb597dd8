#include "daemon/sun_keeper.h"

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "schedule/schedule_table.h"
#include "service/board_owner.h"
#include "service/service_log.h"
#include "sun/board_program.h"

namespace quelvan::service {

namespace {

std::string UtcIso(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string PlaceName(const sun::Place& place) {
    if (!place.zone.empty()) return place.zone;
    char text[64];
    std::snprintf(text, sizeof text, "%.4f,%.4f", place.latitude, place.longitude);
    return text;
}

nlohmann::json TimeOrNull(const std::optional<double>& minute) {
    return minute ? nlohmann::json(sun::MinuteText(*minute)) : nlohmann::json(nullptr);
}

nlohmann::json IsoOrNull(const std::optional<std::int64_t>& seconds) {
    return seconds ? nlohmann::json(UtcIso(*seconds)) : nlohmann::json(nullptr);
}

}  // namespace

nlohmann::json SunJson(const SunToday& t) {
    return {{"place", t.place},
            {"date", sun::FormatDate(t.date)},
            {"sunrise", TimeOrNull(t.sunrise)},
            {"sunset", TimeOrNull(t.sunset)},
            {"sunrise_utc", IsoOrNull(t.sunriseUnix)},
            {"sunset_utc", IsoOrNull(t.sunsetUnix)},
            {"uploaded", t.uploaded}};
}

bool DueForStore(bool weekly, bool uploadedSinceStore, const std::optional<sun::CivilDate>& lastStore,
                 const sun::CivilDate& today) {
    if (!weekly || !uploadedSinceStore) return false;
    return !lastStore || DaysBetween(*lastStore, today) >= 7;
}

// What one board's session did.
struct SunKeeper::Outcome {
    std::string error;  // empty: it went through
    std::optional<SunToday> today;
    bool stored = false;
    std::string moon;  // the moon transit set, "HH:MM"; empty when it was right
};

SunKeeper::SunKeeper(BoardOwner& owner, const Clock& clock, SunSection settings,
                     std::function<std::int64_t()> monotonicMs)
    : owner_(owner), clock_(clock), settings_(std::move(settings)), monotonicMs_(std::move(monotonicMs)) {
    if (!monotonicMs_) {
        auto started = std::make_shared<QElapsedTimer>();
        started->start();
        monotonicMs_ = [started] { return started->elapsed(); };
    }
    // Looked up when the file was read already; the time-zone table may have changed since.
    if (const sun::PlaceLookup found = sun::FindPlace(sun::LoadPlaces(), settings_.place); found.place) {
        place_ = *found.place;
        placeFound_ = true;
    } else {
        LogWarning("sun: place " + settings_.place + ": " + found.error + "; the sun is not followed");
    }
    placeName_ = PlaceName(place_);
    zone_ = settings_.tz.empty() ? place_.zone : settings_.tz;
    connect(&owner_, &BoardOwner::StateChanged, this, &SunKeeper::Check);
    timer_ = new QTimer(this);
    timer_->setInterval(kSunCheckMs);
    connect(timer_, &QTimer::timeout, this, &SunKeeper::CheckAll);
    timer_->start();
}

SunKeeper::~SunKeeper() = default;

bool SunKeeper::Follows(const std::string& serial) const {
    return settings_.boards.empty() ||
           std::find(settings_.boards.begin(), settings_.boards.end(), serial) != settings_.boards.end();
}

std::optional<SunToday> SunKeeper::Today(const std::string& serial) const {
    const auto it = boards_.find(serial);
    if (it == boards_.end()) return std::nullopt;
    return it->second.today;
}

void SunKeeper::CheckAll() {
    for (const HeldDevice* held : owner_.Devices()) CheckBoard(*held);
}

void SunKeeper::Check(const QString& device) {
    if (const HeldDevice* held = owner_.Find(device.toStdString())) CheckBoard(*held);
}

std::shared_ptr<const sun::SunDay> SunKeeper::DayOf(const sun::CivilDate& date) {
    if (!day_ || !(day_->Date() == date)) day_ = std::make_shared<const sun::SunDay>(place_, zone_, date);
    return day_;
}

void SunKeeper::CheckBoard(const HeldDevice& held) {
    if (!placeFound_ || held.role != DeviceRole::Board || !held.liveValid || !Follows(held.serial)) return;
    Board& b = boards_[held.serial];
    const LocalDateTime now = clock_.Now();
    const sun::CivilDate today{now.year, now.month, now.day};
    if (b.pending || held.sessionHolder != 0 || (b.done && *b.done == today)) return;
    if (b.failedAtMs && monotonicMs_() - *b.failedAtMs < kSunRetryMs) return;
    b.pending = true;
    std::shared_ptr<const sun::SunDay> day = DayOf(today);
    auto outcome = std::make_shared<Outcome>();
    const std::string serial = held.serial;
    owner_.RunSession(
        serial, [this, serial, day, outcome](BoardProtocol& board) { Work(serial, *day, board, *outcome); },
        [this, serial, outcome](bool ok, const std::string& error) { Finish(serial, *outcome, ok, error); },
        "quelvand (sun)");  // the writer the settings history names
}

void SunKeeper::Work(const std::string& serial, const sun::SunDay& day, BoardProtocol& board, Outcome& outcome) {
    Board& b = boards_[serial];
    ScheduleTable table;
    const ScheduleLoadResult load = LoadSchedule(board, table);
    if (!load.complete) {
        outcome.error = "reading its day program failed (" + std::to_string(load.stored) + " of " +
                        std::to_string(load.reads) + " rows arrived)";
        return;
    }
    if (table.Size() < 2) {
        outcome.error = "it holds fewer than two rows";
        return;
    }
    // The maxima of the owner's program: taken when the board is first seen and whenever it
    // holds another program than the one made here (the owner changed it). Read again from a
    // program made here they would wear down by the fit's rounding day after day.
    if (!b.baseMaxima || (b.lastRows && !sun::TableHolds(table, *b.lastRows)))
        b.baseMaxima = sun::ProgramMaxima(table.Entries());
    sun::DaylightOptions options;
    options.maxima = *b.baseMaxima;
    std::string error;
    if (!settings_.maxima.empty()) sun::ParseMaxima(settings_.maxima, options.maxima, error);
    options.horizon = settings_.civil ? sun::kCivilHorizon : sun::kStandardHorizon;
    options.noon = settings_.noon;
    options.siesta = settings_.siesta;
    options.scale = AcclimationPercent(settings_, day.Date());
    const sun::BoardDayProgram program =
        sun::MakeBoardDayProgram(day, options, static_cast<int>(table.Size()), sun::FullMoonMinute(board.config));

    SunToday today;
    today.place = placeName_;
    today.date = day.Date();
    const sun::ZoneClock::Day boardDay = sun::ZoneClock("").LocalDay(day.Date());
    auto onBoard = [&](const std::optional<double>& local, std::optional<double>& minute,
                       std::optional<std::int64_t>& instant) {
        if (!local) return;
        minute = std::fmod(*local - program.shift + 2880.0, 1440.0);
        instant = std::llround(boardDay.Instant(*minute));
    };
    onBoard(day.Sunrise(), today.sunrise, today.sunriseUnix);
    onBoard(day.Sunset(), today.sunset, today.sunsetUnix);

    if (!sun::TableHolds(table, program.fitted.rows)) {
        const sun::TableUpload upload = sun::UploadTable(board, table, program.fitted.rows);
        if (!upload.Ok()) {
            outcome.error = upload.failed == sun::UploadStep::Write      ? "writing the day program failed"
                            : upload.failed == sun::UploadStep::ReadBack ? "reading the day program back failed"
                                                                         : "the day program read back differs";
            return;
        }
        today.uploaded = true;
        b.uploadedSinceStore = true;
    }
    b.lastRows = program.fitted.rows;
    outcome.today = today;
    if (!sun::MoonTransitIs(board.live, program.moonMinute)) {
        if (!sun::WriteMoonTransit(board, program.moonMinute).ok) {
            outcome.error = "writing the moon transit failed";
            return;
        }
        outcome.moon = sun::MinuteText(program.moonMinute);
    }
    if (DueForStore(settings_.saveWeekly, b.uploadedSinceStore, b.storedOn, day.Date())) {
        if (!board.SaveEEPROM().ok) {
            outcome.error = "storing the settings in EEPROM failed";
            return;
        }
        b.storedOn = day.Date();
        b.uploadedSinceStore = false;
        outcome.stored = true;
    }
}

void SunKeeper::Finish(const std::string& serial, const Outcome& outcome, bool ok, const std::string& error) {
    Board& b = boards_[serial];
    b.pending = false;
    // A program already uploaded stays what the board runs, even if a later step failed.
    if (outcome.today) {
        b.today = outcome.today;
        emit TodayChanged(QString::fromStdString(serial));
    }
    if (!ok || !outcome.error.empty()) {
        b.failedAtMs = monotonicMs_();
        LogWarning("sun: board " + serial + ": " + (ok ? outcome.error : error) + "; tried again in " +
                   std::to_string(kSunRetryMs / 60'000) + " minutes");
        return;
    }
    b.failedAtMs.reset();
    b.done = outcome.today->date;
    const SunToday& t = *outcome.today;
    auto text = [](const std::optional<double>& m) { return m ? sun::MinuteText(*m) : std::string("none"); };
    LogInfo("sun: board " + serial + ": " + t.place + " on " + sun::FormatDate(t.date) + ", sunrise " +
            text(t.sunrise) + ", sunset " + text(t.sunset) + " on the board's clock; " +
            (t.uploaded ? "program uploaded and read back" : "program unchanged") +
            (outcome.moon.empty() ? "" : "; moon transit " + outcome.moon) +
            (outcome.stored ? "; stored in EEPROM" : ""));
}

}  // namespace quelvan::service
