#pragma once
// quelvanctl's "sun" commands: the places of the time-zone table, one day of the sun and
// the moon at a place, and the day program generated from it and fitted to the board's rows.
// "places" and "show" never touch a board; "program" reads the board only for what it needs
// (its row count and maxima) and writes it only with --upload.

#include <optional>
#include <ostream>
#include <string>

#include "cli/board_session.h"
#include "cli/command_line.h"
#include "device/clock.h"
#include "sun/places.h"
#include "sun/sun_day.h"

namespace CLI {
class App;
}

namespace quelvan::cli {

class SunGrammar {
public:
    explicit SunGrammar(CLI::App& app);
    bool Handles(const std::string& command) const { return command == "sun"; }
    // Nullopt when the options are good, otherwise what is wrong with them.
    std::optional<std::string> Fill(Request& request) const;

private:
    CLI::App* sun_ = nullptr;
    SunRequest values_;
    double scale_ = 100;
    int rows_ = 0;
};

// Whether the command needs the board: "program" without --rows, or with --upload or --ini
// (the table file carries the board's settings too).
bool SunNeedsBoard(const Request& request);

// The place, its clock and the date a command is about.
struct SunSubject {
    sun::Place place;
    std::string name;  // the zone, or "LAT,LON"
    std::string zone;  // the clock's zone; empty: this computer's
    std::string zoneName;
    sun::CivilDate date;
};
// Exit 2 naming the place, the zone or the date that is wrong.
std::optional<Failure> ResolveSubject(const Request& request, const Clock& clock, SunSubject& subject);

// "places" and "show"; and "program" without a board (`session` null).
int RunSunOffline(const Request& request, const Clock& clock, std::ostream& out, std::ostream& err);
std::optional<Failure> RunSunProgram(const Request& request, const Clock& clock, BoardSession* session,
                                     std::ostream& out, std::ostream& err);

}  // namespace quelvan::cli
