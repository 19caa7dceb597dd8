#include "sun/daylight.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace quelvan::sun {

namespace {

constexpr int kDay = 1440;

double SinDeg(double degrees) {
    return std::sin(degrees * std::numbers::pi / 180.0);
}

std::optional<double> ParsePercent(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace

std::optional<int> ParseMinuteOfDay(const std::string& text) {
    unsigned h = 0, m = 0;
    char tail = 0;
    if (text.size() < 4 || text.size() > 5 || std::sscanf(text.c_str(), "%2u:%2u%c", &h, &m, &tail) != 2)
        return std::nullopt;
    if (text[text.size() - 3] != ':' || m > 59 || h * 60 + m > 1440) return std::nullopt;
    return static_cast<int>(h * 60 + m);
}

std::optional<Siesta> ParseSiesta(const std::string& text) {
    const std::size_t dash = text.find('-'), equals = text.find('=');
    if (dash == std::string::npos || equals == std::string::npos || equals < dash) return std::nullopt;
    const auto start = ParseMinuteOfDay(text.substr(0, dash));
    const auto end = ParseMinuteOfDay(text.substr(dash + 1, equals - dash - 1));
    const auto percent = ParsePercent(text.substr(equals + 1));
    // The pause lies within the day, with room for its edges.
    if (!start || !end || !percent || *start < 1 || *end > kDay - 1 || *end <= *start || *percent < 0 || *percent > 100)
        return std::nullopt;
    return Siesta{*start, *end, *percent};
}

bool ParseMaxima(const std::string& text, std::array<double, kChannelCount>& maxima, std::string& error) {
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        const std::size_t equals = item.find('=');
        const int letter = equals == 1 ? std::toupper(static_cast<unsigned char>(item[0])) : 0;
        const int channel = letter >= 'A' && letter < 'A' + kChannelCount ? letter - 'A' : -1;
        const auto value = equals == std::string::npos ? std::nullopt : ParsePercent(item.substr(equals + 1));
        if (channel < 0 || !value || *value < 0 || *value > 100) {
            error = "'" + item + "' is not CHANNEL=PERCENT (A..L, 0..100)";
            return false;
        }
        maxima[static_cast<std::size_t>(channel)] = *value;
        at = comma + 1;
    }
    return true;
}

std::string MinuteText(double minutes) {
    const long total = std::lround(minutes);
    char text[48];
    std::snprintf(text, sizeof text, "%02ld:%02ld", total / 60, total % 60);
    return text;
}

DaylightCurve::DaylightCurve(const SunDay& day, const DaylightOptions& options) : day_(day), options_(options) {
    if (options.noon) shift_ = day.SolarNoon() - *options.noon;
    sinHorizon_ = SinDeg(options.horizon);
    sinNoon_ = SinDeg(day.NoonElevation());
    allDark_ = day.NoonElevation() <= options.horizon;
    samples_.resize(kSampleCount);
    for (int i = 0; i < kSampleCount; ++i)
        samples_[static_cast<std::size_t>(i)] = Fraction(static_cast<double>(i) / kSamplesPerMinute);
}

double DaylightCurve::Fraction(double boardMinute) const {
    if (allDark_) return 0;
    const double h = day_.ElevationAtMinute(boardMinute + shift_);
    if (h <= options_.horizon) return 0;
    const double f = std::clamp((SinDeg(h) - sinHorizon_) / (sinNoon_ - sinHorizon_), 0.0, 1.0);
    return f * SiestaFactor(boardMinute);
}

double DaylightCurve::SiestaFactor(double m) const {
    if (!options_.siesta) return 1;
    const Siesta& s = *options_.siesta;
    // Full depth within the span, a straight minute down before it and up after it.
    const double depth = std::clamp(std::min(m - s.start + 1, s.end + 1 - m), 0.0, 1.0);
    return 1 - (1 - s.percent / 100.0) * depth;
}

double DaylightCurve::ChannelTop(int channel) const {
    return std::min(100.0, options_.maxima[static_cast<std::size_t>(channel)] * options_.scale / 100.0);
}

int BoardMoonTransit(double illumination, bool waxing, int fullMoonTransitMinute) {
    const int apart = static_cast<int>(std::lround(720.0 * (1.0 - std::clamp(illumination, 0.0, 1.0))));
    // A waxing moon stands highest in the evening, before the full moon's hour; waning after.
    const int minute = fullMoonTransitMinute + (waxing ? -apart : apart);
    return ((minute % kDay) + kDay) % kDay;
}

}  // namespace quelvan::sun
