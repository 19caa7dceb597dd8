#include "cli/sun_commands.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/json_text.h"
#include "sun/daylight.h"

namespace quelvan::cli {

namespace {

nlohmann::json TimeOrNull(const std::optional<double>& minute) {
    return minute ? nlohmann::json(sun::MinuteText(*minute)) : nlohmann::json(nullptr);
}

std::string IsoUtc(double unixSeconds) {
    const auto seconds = static_cast<std::time_t>(std::llround(unixSeconds));
    std::tm t{};
    gmtime_r(&seconds, &t);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &t);
    return text;
}

nlohmann::json UtcOrNull(const sun::SunDay& day, const std::optional<double>& minute) {
    return minute ? nlohmann::json(IsoUtc(day.UtcSeconds(*minute))) : nlohmann::json(nullptr);
}

double Round(double value, int decimals) {
    const double f = std::pow(10.0, decimals);
    return std::round(value * f) / f;
}

// This computer's zone by name: $TZ, else what /etc/localtime points to.
std::string ComputerZoneName() {
    if (const char* tz = std::getenv("TZ"); tz && *tz) return tz[0] == ':' ? tz + 1 : tz;
    std::error_code error;
    const std::string target = std::filesystem::read_symlink("/etc/localtime", error).string();
    const std::size_t at = target.find("zoneinfo/");
    return !error && at != std::string::npos ? target.substr(at + 9) : "localtime";
}

std::string Coordinates(double latitude, double longitude) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(4) << latitude << "," << longitude;
    return text.str();
}

int Usage(const std::string& message, const Request& request, std::ostream& out, std::ostream& err) {
    err << "error: " << message << "\n";
    if (request.json) out << JsonText(nlohmann::json{{"ok", false}, {"error", message}}) << "\n";
    return kExitUsage;
}

int RunPlaces(const Request& request, std::ostream& out, std::ostream& err) {
    const std::vector<sun::Place> all = sun::LoadPlaces();
    if (all.empty())
        return Usage("the time-zone table " + sun::ZoneInfoDir() + "/zone1970.tab cannot be read", request, out, err);
    const std::vector<sun::Place> found = sun::MatchPlaces(all, request.sun.placeText);
    if (request.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const sun::Place& p : found)
            list.push_back({{"zone", p.zone},
                            {"country", p.country},
                            {"latitude", Round(p.latitude, 4)},
                            {"longitude", Round(p.longitude, 4)}});
        out << JsonText(list, 2) << "\n";
    } else {
        for (const sun::Place& p : found)
            out << p.zone << "\t" << p.country << "\t" << std::fixed << std::setprecision(4) << p.latitude << "\t"
                << p.longitude << "\n";
    }
    return kExitOk;
}

int RunShow(const Request& request, const Clock& clock, std::ostream& out, std::ostream& err) {
    SunSubject subject;
    if (auto failure = ResolveSubject(request, clock, subject))
        return Usage(failure->message.substr(7), request, out, err);
    std::optional<int> at;
    if (!request.sun.at.empty() && !(at = sun::ParseMinuteOfDay(request.sun.at)))
        return Usage("--at '" + request.sun.at + "' is not a time HH:MM", request, out, err);
    const sun::SunDay day(subject.place, subject.zone, subject.date);
    const char* polar = day.PolarState() == sun::Polar::Day     ? "day"
                        : day.PolarState() == sun::Polar::Night ? "night"
                                                                : nullptr;
    nlohmann::ordered_json json = {
        {"place", subject.name},
        {"latitude", Round(subject.place.latitude, 4)},
        {"longitude", Round(subject.place.longitude, 4)},
        {"zone", subject.zoneName},
        {"date", sun::FormatDate(subject.date)},
        {"sunrise", TimeOrNull(day.Sunrise())},
        {"sunset", TimeOrNull(day.Sunset())},
        {"civil_dawn", TimeOrNull(day.CivilDawn())},
        {"civil_dusk", TimeOrNull(day.CivilDusk())},
        {"solar_noon", sun::MinuteText(day.SolarNoon())},
        {"noon_elevation", Round(day.NoonElevation(), 1)},
        {"day_length", sun::MinuteText(day.DayLength())},
        {"polar", polar ? nlohmann::json(polar) : nlohmann::json(nullptr)},
        {"moon_transit", TimeOrNull(day.MoonTransitMinute())},
        {"moon_illumination", Round(day.MoonIlluminatedFraction(), 2)},
        {"sunrise_utc", UtcOrNull(day, day.Sunrise())},
        {"sunset_utc", UtcOrNull(day, day.Sunset())},
    };
    if (at) {
        json["at"] = sun::MinuteText(*at);
        json["elevation"] = Round(day.ElevationAtMinute(*at), 3);
    }
    if (request.json) {
        out << JsonText(json, 2) << "\n";
        return kExitOk;
    }
    for (const auto& [key, value] : json.items())
        out << key << ": " << (value.is_string() ? value.get<std::string>() : value.dump()) << "\n";
    return kExitOk;
}

}  // namespace

SunGrammar::SunGrammar(CLI::App& app) {
    sun_ = app.add_subcommand("sun", "Daylight from the real sun at a place: places, one day, a fitted day program");
    sun_->require_subcommand(1);
    auto* places = sun_->add_subcommand("places", "Places of the time-zone table: zone, country, latitude, longitude");
    places->add_option("TEXT", values_.placeText, "Part of the zone name (any case)");
    auto* show = sun_->add_subcommand("show", "Sunrise, sunset, twilight, noon and the moon at a place on a day");
    auto* program =
        sun_->add_subcommand("program", "The day program from the sun at a place, fitted to the board's rows");
    for (CLI::App* command : {show, program}) {
        command->add_option("PLACE", values_.placeText, "Zone (America/Manaus), part of one (Manaus), or LAT,LON")
            ->required();
        command->add_option("--date", values_.date, "The day (default today)")->type_name("YYYY-MM-DD");
        command->add_option("--tz", values_.tz, "The zone of the times (default: the place's, or this computer's)")
            ->type_name("ZONE");
    }
    show->add_option("--at", values_.at, "Also the sun's elevation at this time")->type_name("HH:MM");
    program->add_option("--noon", values_.noon, "Solar noon at this time of the board's clock")->type_name("HH:MM");
    program->add_option("--twilight", values_.twilight, "Light from sunrise (none) or from civil dawn (civil)")
        ->type_name("none|civil");
    program->add_option("--max", values_.maxima, "Channel maxima in percent (default: the board's program)")
        ->type_name("A=80,C=60,...");
    program->add_option("--siesta", values_.siesta, "A midday pause at P percent")->type_name("HH:MM-HH:MM=P");
    program->add_option("--scale", scale_, "Every maximum times P percent")->type_name("P");
    program->add_option("--rows", rows_, "Rows of the program (default: the board's)")->type_name("N");
    program->add_flag("--upload", values_.upload, "Write the program (and the moon) to the board and read it back");
    program->add_option("--ini", values_.iniFile, "Write the program as a table file")->type_name("FILE");
    program->add_option("--graph", values_.graphFile, "Draw the program as the page \"Grafik\"")->type_name("FILE.png");
}

std::optional<std::string> SunGrammar::Fill(Request& request) const {
    const std::string what = sun_->get_subcommands().front()->get_name();
    request.sun = values_;
    request.command = what == "places" ? Command::SunPlaces : what == "show" ? Command::SunShow : Command::SunProgram;
    if (request.command != Command::SunProgram) return std::nullopt;
    if (sun_->get_subcommands().front()->count("--scale") > 0) {
        if (!(scale_ >= 0 && scale_ <= 1000)) return "--scale must lie between 0 and 1000";
        request.sun.scale = scale_;
    }
    if (sun_->get_subcommands().front()->count("--rows") > 0) {
        if (rows_ < 2 || rows_ > 255) return "--rows must lie between 2 and 255";
        request.sun.rows = rows_;
    }
    if (values_.twilight != "none" && values_.twilight != "civil")
        return "--twilight '" + values_.twilight + "' is neither none nor civil";
    if (!values_.noon.empty() && !sun::ParseMinuteOfDay(values_.noon))
        return "--noon '" + values_.noon + "' is not a time HH:MM";
    if (!values_.siesta.empty() && !sun::ParseSiesta(values_.siesta))
        return "--siesta '" + values_.siesta + "' is not HH:MM-HH:MM=P (a span within the day, P 0..100)";
    std::array<double, kChannelCount> maxima{};
    if (std::string error; !values_.maxima.empty() && !sun::ParseMaxima(values_.maxima, maxima, error))
        return "--max: " + error;
    return std::nullopt;
}

bool SunNeedsBoard(const Request& request) {
    return request.command == Command::SunProgram && (!request.sun.rows || request.sun.upload);
}

std::optional<Failure> ResolveSubject(const Request& request, const Clock& clock, SunSubject& subject) {
    auto bad = [](const std::string& message) { return Failure{kExitUsage, "error: " + message, {}}; };
    const std::vector<sun::Place> places = sun::LoadPlaces();
    const sun::PlaceLookup found = sun::FindPlace(places, request.sun.placeText);
    if (!found.place) return bad(found.error);
    subject.place = *found.place;
    subject.name =
        subject.place.zone.empty() ? Coordinates(subject.place.latitude, subject.place.longitude) : subject.place.zone;
    subject.zone = request.sun.tz.empty() ? subject.place.zone : request.sun.tz;
    if (!subject.zone.empty() && !sun::ZoneExists(subject.zone)) return bad("unknown time zone '" + subject.zone + "'");
    subject.zoneName = subject.zone.empty() ? ComputerZoneName() : subject.zone;
    if (request.sun.date.empty()) {
        const LocalDateTime now = clock.Now();
        subject.date = sun::CivilDate{now.year, now.month, now.day};
    } else if (const auto date = sun::ParseDate(request.sun.date)) {
        subject.date = *date;
    } else {
        return bad("--date '" + request.sun.date + "' is not a day YYYY-MM-DD");
    }
    return std::nullopt;
}

int RunSunOffline(const Request& request, const Clock& clock, std::ostream& out, std::ostream& err) {
    if (request.command == Command::SunPlaces) return RunPlaces(request, out, err);
    if (request.command == Command::SunShow) return RunShow(request, clock, out, err);
    if (auto failure = RunSunProgram(request, clock, nullptr, out, err)) {
        err << failure->message << "\n";
        if (request.json) out << JsonText(nlohmann::json{{"ok", false}, {"error", failure->message.substr(7)}}) << "\n";
        return failure->exitCode;
    }
    return kExitOk;
}

}  // namespace quelvan::cli
