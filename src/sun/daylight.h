#pragma once
// The day program the board should run: the sun's brightness curve over the board's day,
// with the owner's choices (noon moved, a midday pause, scaled maxima), and its fit to the
// fixed number of rows the board holds, between which it runs straight lines.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "device/records.h"
#include "sun/sun_day.h"

namespace quelvan::sun {

struct Siesta {
    int start = 0;  // board minutes
    int end = 0;
    double percent = 100;
};

struct DaylightOptions {
    double horizon = kStandardHorizon;  // or kCivilHorizon: light from civil dawn to dusk
    std::optional<int> noon;            // board minute at which the place's solar noon falls
    std::optional<Siesta> siesta;
    double scale = 100;                          // percent of every maximum
    std::array<double, kChannelCount> maxima{};  // percent per channel
    DaylightOptions() { maxima.fill(100); }
};

// "HH:MM" (00:00..24:00) to minutes; "HH:MM-HH:MM=P" to a siesta; "A=80,C=60" onto maxima.
std::optional<int> ParseMinuteOfDay(const std::string& text);
std::optional<Siesta> ParseSiesta(const std::string& text);
// Channels not named keep what `maxima` holds; false (and the reason) for bad text.
bool ParseMaxima(const std::string& text, std::array<double, kChannelCount>& maxima, std::string& error);
// Minutes to "HH:MM", rounded to the nearest minute (1440 shows as "24:00").
std::string MinuteText(double minutes);

// The brightness curve over the board's day, as a fraction of each channel's maximum,
// sampled every kSampleSeconds from board minute 0 to 1440.
class DaylightCurve {
public:
    static constexpr int kSamplesPerMinute = 2;
    static constexpr int kSampleCount = 1440 * kSamplesPerMinute + 1;

    DaylightCurve(const SunDay& day, const DaylightOptions& options);

    // Local minute minus board minute: the place's clock stands at m + Shift() when the board's reads m.
    double Shift() const { return shift_; }
    // Fraction 0..1 at a board minute (between samples: recomputed exactly).
    double Fraction(double boardMinute) const;
    double Sample(int index) const { return samples_[static_cast<std::size_t>(index)]; }
    // The board's percent for channel c at full curve (maximum × scale, at most 100).
    double ChannelTop(int channel) const;
    const DaylightOptions& Options() const { return options_; }
    // Where the sun is down (fraction 0) all day / never.
    bool AllDark() const { return allDark_; }

private:
    double SiestaFactor(double boardMinute) const;
    const SunDay& day_;
    DaylightOptions options_;
    double shift_ = 0;
    double sinHorizon_ = 0, sinNoon_ = 1;
    bool allDark_ = false;
    std::vector<double> samples_;
};

struct FittedProgram {
    std::vector<ScheduleEntry> rows;  // sorted by time
    double maxError = 0;              // percentage points, any channel, any moment
};

// Chooses `rowCount` rows (whole minutes) so that the board's straight lines stay as close
// as possible to the curve on every channel; a row where the dark begins and one where it
// ends keep the night at 0. `rowCount` is at least 2.
FittedProgram FitProgram(const DaylightCurve& curve, int rowCount);

// The largest difference, in percentage points, between what the board runs from `rows`
// and the curve, on any channel, evaluated every `stepSeconds` over the day.
double ProgramError(const DaylightCurve& curve, const std::vector<ScheduleEntry>& rows, double stepSeconds);

// The board's value at a minute from its rows (straight lines, wrapping past midnight).
double BoardValue(const std::vector<ScheduleEntry>& rows, int channel, double minute);

}  // namespace quelvan::sun

namespace quelvan::sun {

// The board derives its moon's phase from how far today's transit time lies from the
// full-moon transit on the 24-hour circle (12 hours: new, equal: full, linear between),
// and the lit side from which way. The transit time that makes it show `illumination`
// (0..1), waxing or waning, against the board's own full-moon transit: in minutes 0..1439.
int BoardMoonTransit(double illumination, bool waxing, int fullMoonTransitMinute);

}  // namespace quelvan::sun
