#include "sun/places.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace quelvan::sun {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::optional<double> ParseDecimalDegrees(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    double value = 0;
    const char* begin = text.data();
    if (*begin == '+') ++begin;
    const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::string ZoneInfoDir() {
    const char* dir = std::getenv("TZDIR");
    return dir && *dir ? dir : "/usr/share/zoneinfo";
}

std::optional<double> ParseIso6709Part(std::string_view text, int degreeDigits) {
    if (text.size() < 1 || (text[0] != '+' && text[0] != '-')) return std::nullopt;
    const double sign = text[0] == '-' ? -1 : 1;
    const std::string_view digits = text.substr(1);
    const auto n = static_cast<std::size_t>(degreeDigits);
    if (digits.size() != n + 2 && digits.size() != n + 4) return std::nullopt;
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
    auto number = [&](std::size_t at, std::size_t count) { return std::stoi(std::string(digits.substr(at, count))); };
    double degrees = number(0, n) + number(n, 2) / 60.0;
    if (digits.size() == n + 4) degrees += number(n + 2, 2) / 3600.0;
    return sign * degrees;
}

std::vector<Place> ReadZoneTable(const std::string& path) {
    std::vector<Place> places;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string countries, coordinates, zone;
        if (!std::getline(fields, countries, '\t') || !std::getline(fields, coordinates, '\t') ||
            !std::getline(fields, zone, '\t'))
            continue;
        // The longitude starts at the second sign.
        const std::size_t split = coordinates.find_first_of("+-", 1);
        if (split == std::string::npos) continue;
        const auto lat = ParseIso6709Part(std::string_view(coordinates).substr(0, split), 2);
        const auto lon = ParseIso6709Part(std::string_view(coordinates).substr(split), 3);
        if (!lat || !lon || zone.empty()) continue;
        places.push_back(Place{zone, countries, *lat, *lon});
    }
    return places;
}

std::vector<Place> LoadPlaces(const std::string& dir) {
    std::map<std::string, Place> byZone;
    for (Place& p : ReadZoneTable(dir + "/zone1970.tab")) byZone[p.zone] = std::move(p);
    for (Place& p : ReadZoneTable(dir + "/zone.tab")) byZone[p.zone] = std::move(p);
    std::vector<Place> places;
    places.reserve(byZone.size());
    for (auto& [zone, place] : byZone) places.push_back(std::move(place));
    return places;
}

std::vector<Place> MatchPlaces(const std::vector<Place>& places, std::string_view text) {
    const std::string wanted = Lower(text);
    std::vector<Place> found;
    for (const Place& p : places)
        if (Lower(p.zone).find(wanted) != std::string::npos) found.push_back(p);
    return found;
}

PlaceLookup FindPlace(const std::vector<Place>& places, std::string_view text) {
    if (const std::size_t comma = text.find(','); comma != std::string_view::npos) {
        const auto lat = ParseDecimalDegrees(text.substr(0, comma));
        const auto lon = ParseDecimalDegrees(text.substr(comma + 1));
        if (!lat || !lon || std::abs(*lat) > 90 || std::abs(*lon) > 180)
            return {std::nullopt, "'" + std::string(text) +
                                      "' is not LAT,LON in decimal degrees (latitude -90..90, longitude -180..180)"};
        return {Place{"", "", *lat, *lon}, ""};
    }
    const std::string wanted = Lower(text);
    if (wanted.empty()) return {std::nullopt, "no place given"};
    for (const Place& p : places)
        if (Lower(p.zone) == wanted) return {p, ""};
    // A part that is a whole component ("Manaus" in "America/Manaus") wins over one inside
    // a longer name ("Berlin" is not "Berlingen").
    std::vector<Place> whole, partial;
    for (const Place& p : MatchPlaces(places, text)) {
        const std::string zone = Lower(p.zone);
        const std::size_t at = zone.rfind('/');
        (zone.substr(at == std::string::npos ? 0 : at + 1) == wanted ? whole : partial).push_back(p);
    }
    const std::vector<Place>& candidates = whole.empty() ? partial : whole;
    if (candidates.size() == 1) return {candidates.front(), ""};
    if (candidates.empty()) return {std::nullopt, "unknown place '" + std::string(text) + "'"};
    std::string list;
    for (const Place& p : candidates) list += (list.empty() ? "" : ", ") + p.zone;
    return {std::nullopt, "the place '" + std::string(text) + "' is ambiguous: " + list};
}

bool ZoneExists(const std::string& zone, const std::string& dir) {
    if (zone.empty() || zone.find("..") != std::string::npos || zone.front() == '/') return false;
    std::error_code error;
    return std::filesystem::is_regular_file(std::filesystem::path(dir) / zone, error);
}

}  // namespace quelvan::sun
