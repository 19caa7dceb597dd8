#pragma once
// Follows the seasons on the chosen boards ([sun] follow = daily): at the start and at the
// first check after each local midnight, today's day program from the sun at the place is
// made for each board (its maxima from [sun] max, else the board's own program, times the
// acclimation ramp), fitted to its rows, and uploaded through the table's upload, read back,
// only when it differs from what the board holds; the moon transit likewise. One line in the
// journal per board and day. The board's power-on program in EEPROM is left alone unless
// save_eeprom = weekly. A failure is logged and tried again a few minutes later.

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "daemon/sun_settings.h"
#include "device/board_protocol.h"
#include "device/clock.h"
#include "sun/places.h"
#include "sun/sun_day.h"

class QTimer;

namespace quelvan::service {

class BoardOwner;
struct HeldDevice;

// What a board runs today from the sun, on the board's clock.
struct SunToday {
    std::string place;
    sun::CivilDate date;
    std::optional<double> sunrise, sunset;                // board minutes
    std::optional<std::int64_t> sunriseUnix, sunsetUnix;  // the instants, seconds since 1970
    bool uploaded = false;  // written by this check (false: the board held the program already)
};

// {"place", "date", "sunrise": "HH:MM", "sunset", "sunrise_utc": ISO 8601 Z, "sunset_utc",
// "uploaded"}; the times null where the sun does not rise or set.
nlohmann::json SunJson(const SunToday& today);

// Whether the board's settings are to be stored in EEPROM now: only weekly, only after a
// program was uploaded since the last store, and at most once in seven days.
bool DueForStore(bool weekly, bool uploadedSinceStore, const std::optional<sun::CivilDate>& lastStore,
                 const sun::CivilDate& today);

inline constexpr std::int64_t kSunRetryMs = 5 * 60'000;
inline constexpr int kSunCheckMs = 60'000;

class SunKeeper : public QObject {
    Q_OBJECT
public:
    // `monotonicMs`: a clock that never jumps, for the retry; tests set it. The settings
    // were checked when the file was read (the place is found).
    SunKeeper(BoardOwner& owner, const Clock& clock, SunSection settings,
              std::function<std::int64_t()> monotonicMs = {});
    ~SunKeeper() override;

    // Whether this board follows the sun (boards = all, or it is named).
    bool Follows(const std::string& serial) const;
    // What it runs today; none before the first program was made for it.
    std::optional<SunToday> Today(const std::string& serial) const;

    // Checks every board held (the timer calls it; tests may too).
    void CheckAll();

signals:
    void TodayChanged(const QString& serial);

private:
    struct Board {
        std::optional<sun::CivilDate> done;  // the day its program was made for
        std::optional<std::int64_t> failedAtMs;
        std::optional<std::array<double, kChannelCount>> baseMaxima;  // of the owner's program
        std::optional<std::vector<ScheduleEntry>> lastRows;           // the program made here last
        std::optional<sun::CivilDate> storedOn;
        bool uploadedSinceStore = false;
        bool pending = false;
        std::optional<SunToday> today;
    };
    struct Outcome;
    void Check(const QString& device);
    void CheckBoard(const HeldDevice& held);
    std::shared_ptr<const sun::SunDay> DayOf(const sun::CivilDate& date);
    void Work(const std::string& serial, const sun::SunDay& day, BoardProtocol& board, Outcome& outcome);
    void Finish(const std::string& serial, const Outcome& outcome, bool ok, const std::string& error);

    BoardOwner& owner_;
    const Clock& clock_;
    SunSection settings_;
    std::function<std::int64_t()> monotonicMs_;
    sun::Place place_;
    bool placeFound_ = false;
    std::string placeName_, zone_;
    std::shared_ptr<const sun::SunDay> day_;  // today's, made once for all boards
    std::map<std::string, Board> boards_;
    QTimer* timer_ = nullptr;
};

}  // namespace quelvan::service
