#pragma once
// What "quelvanctl sun ..." was asked for, as parsed from the command line.

#include <optional>
#include <string>

namespace quelvan::cli {

struct SunRequest {
    std::string placeText;  // places: the filter; show, program: the place
    std::string date;       // YYYY-MM-DD, empty: today
    std::string tz;         // the clock of the times, empty: the place's zone (or this computer's)
    std::string at;         // show: HH:MM at which to give the elevation
    std::string noon;       // program: HH:MM of solar noon on the board's clock
    std::string twilight = "none";
    std::string maxima;  // A=80,C=60
    std::string siesta;  // HH:MM-HH:MM=P
    std::optional<double> scale;
    std::optional<int> rows;
    bool upload = false;
    std::string iniFile;
    std::string graphFile;
};

}  // namespace quelvan::cli
