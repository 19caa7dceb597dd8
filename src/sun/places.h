#pragma once
// Places from the computer's time-zone table: every zone's name, country and the
// coordinates of its principal city, read at run time from tzdata's zone1970.tab and
// zone.tab. A place is named by its zone, by part of that name, or by coordinates.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelvan::sun {

struct Place {
    std::string zone;      // "America/Manaus"; empty for coordinates typed by the user
    std::string country;   // "BR" (several codes joined by "," where the zone spans them)
    double latitude = 0;   // degrees, north positive
    double longitude = 0;  // degrees, east positive
};

// The folder of the time-zone database: $TZDIR, else /usr/share/zoneinfo.
std::string ZoneInfoDir();

// "+DDMM", "+DDMMSS" (latitude) or "+DDDMM", "+DDDMMSS" (longitude) to degrees.
std::optional<double> ParseIso6709Part(std::string_view text, int degreeDigits);

// Reads one table file (either layout: country codes in the first column, coordinates in
// the second, the zone in the third). Lines that are comments or malformed are skipped.
std::vector<Place> ReadZoneTable(const std::string& path);

// Every zone of zone1970.tab and zone.tab in `dir`, once each, sorted by name. A zone in
// both keeps zone.tab's single country code. Empty when neither file can be read.
std::vector<Place> LoadPlaces(const std::string& dir = ZoneInfoDir());

// Places whose zone name contains `text`, case-insensitive (all for an empty text).
std::vector<Place> MatchPlaces(const std::vector<Place>& places, std::string_view text);

// A place as the user types it: "LAT,LON" in decimal degrees, a whole zone name, or a part
// of one. On failure `error` says why (unknown, ambiguous with its candidates, bad numbers).
struct PlaceLookup {
    std::optional<Place> place;
    std::string error;
};
PlaceLookup FindPlace(const std::vector<Place>& places, std::string_view text);

// True when the zone is a file of the time-zone database (so the C library can use it).
bool ZoneExists(const std::string& zone, const std::string& dir = ZoneInfoDir());

}  // namespace quelvan::sun
