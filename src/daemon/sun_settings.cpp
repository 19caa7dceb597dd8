#include "daemon/sun_settings.h"

#include <cctype>

#include "sun/places.h"

namespace quelvan::service {

namespace {

using Reader = std::function<bool(const std::string& value, std::string& why)>;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
long DayNumber(const sun::CivilDate& d) {
    const long y = d.year - (d.month <= 2 ? 1 : 0);
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yearOfEra = y - era * 400;
    const long dayOfYear = (153 * (d.month + (d.month > 2 ? -3 : 9)) + 2) / 5 + d.day - 1;
    const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

Reader Choice(bool& field, const char* off, const char* on) {
    bool* target = &field;
    return [=](const std::string& value, std::string& why) {
        std::string v = value;
        for (char& c : v) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        why = std::string(off) + " or " + on;
        if (v == off || v == on) *target = v == on;
        return v == off || v == on;
    };
}

}  // namespace

int DaysBetween(const sun::CivilDate& from, const sun::CivilDate& to) {
    return static_cast<int>(DayNumber(to) - DayNumber(from));
}

ConfigSection SunConfigSection(SunSection& target) {
    SunSection* s = &target;
    return {"sun",
            {{"place",
              [s](const std::string& v, std::string&) {
                  s->place = v;  // looked up once the section is read: CheckSunSection
                  return true;
              }},
             {"tz",
              [s](const std::string& v, std::string& why) {
                  why = "a zone of the time-zone database, e.g. Europe/Berlin";
                  if (!v.empty() && !sun::ZoneExists(v)) return false;
                  s->tz = v;
                  return true;
              }},
             {"noon",
              [s](const std::string& v, std::string& why) {
                  why = "empty or a time HH:MM";
                  s->noon.reset();
                  if (!v.empty()) s->noon = sun::ParseMinuteOfDay(v);
                  return v.empty() || s->noon.has_value();
              }},
             {"twilight", Choice(target.civil, "none", "civil")},
             {"max",
              [s](const std::string& v, std::string& why) {
                  std::array<double, kChannelCount> maxima{};
                  std::string error;
                  why = "CHANNEL=PERCENT pairs separated by commas, e.g. A=80,C=60 (A..L, 0..100)";
                  if (!v.empty() && !sun::ParseMaxima(v, maxima, error)) return false;
                  s->maxima = v;
                  return true;
              }},
             {"siesta",
              [s](const std::string& v, std::string& why) {
                  why = "empty or HH:MM-HH:MM=P (a span and its percentage)";
                  s->siesta.reset();
                  if (!v.empty()) s->siesta = sun::ParseSiesta(v);
                  return v.empty() || s->siesta.has_value();
              }},
             {"follow", Choice(target.follow, "off", "daily")},
             {"boards",
              [s](const std::string& v, std::string& why) {
                  const auto serials = SerialNumbers(v);
                  why = "\"all\" or serial numbers";
                  if (serials) s->boards = *serials;
                  return serials.has_value();
              }},
             {"acclimate_from",
              [s](const std::string& v, std::string& why) {
                  why = "empty (no ramp) or a day YYYY-MM-DD";
                  s->acclimateFrom.reset();
                  if (!v.empty()) s->acclimateFrom = sun::ParseDate(v);
                  return v.empty() || s->acclimateFrom.has_value();
              }},
             {"acclimate_days",
              [s](const std::string& v, std::string& why) {
                  const std::optional<int> days = WholeNumber(v, 0, 3650);
                  why = "a number of days 0..3650";
                  if (days) s->acclimateDays = *days;
                  return days.has_value();
              }},
             {"acclimate_start",
              [s](const std::string& v, std::string& why) {
                  const std::optional<double> percent = DecimalNumber(v, 0, 100);
                  why = "a percentage 0..100";
                  if (percent) s->acclimateStart = *percent;
                  return percent.has_value();
              }},
             {"save_eeprom", Choice(target.saveWeekly, "off", "weekly")}},
            nullptr};
}

void CheckSunSection(const SunSection& s, std::vector<std::string>& errors) {
    if (!s.follow) return;
    if (s.place.empty()) {
        errors.push_back("[sun] follow = daily needs a place (a zone name, part of one, or LAT,LON)");
        return;
    }
    const sun::PlaceLookup found = sun::FindPlace(sun::LoadPlaces(), s.place);
    if (!found.place) errors.push_back("[sun] place = " + s.place + ": " + found.error);
    // The ramp scales the maxima; read from a board whose program the ramp already dimmed,
    // they would shrink again at every start of the service.
    if (s.acclimateFrom && s.maxima.empty())
        errors.push_back("[sun] acclimate_from needs max: the full maxima the ramp rises to");
}

double AcclimationPercent(const SunSection& s, const sun::CivilDate& today) {
    if (!s.acclimateFrom) return 100;
    const int day = DaysBetween(*s.acclimateFrom, today);
    if (day < 0) return s.acclimateStart;
    if (day >= s.acclimateDays) return 100;
    return s.acclimateStart + (100 - s.acclimateStart) * day / s.acclimateDays;
}

}  // namespace quelvan::service
