#pragma once
// quelvand.conf: an INI file of sections, each read by its own reader from a table, so that
// a bridge adds its section by adding one reader (the program puts the readers together:
// daemon/daemon_config.h). Every key has a default (the shipped example file documents
// each); a key the reader does not know is reported, not fatal; a value it cannot use is an
// error. Here: the reading itself and the owner's own section.
//
//   [service]
//   poll_ms = 1000        how often each board's live state is read; 0: never on its own
//   config_poll_ms = 10000  how often its settings are read too, while MQTT publishes them
//   boards = all          "all", or serial numbers separated by spaces or commas
//   socket =              the socket's path; empty: the user's or the system's default
//   clock_sync = on       set the boards' clocks (daemon/clock_keeper.h); clock_tolerance_s = 2

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quelvan::service {

struct ServiceSection {
    int pollMs = 1000;
    int configPollMs = 10000;
    std::vector<std::string> boards;  // empty: all
    std::string socket;               // empty: wire::DefaultServiceSocketPath()
    bool clockSync = true;            // keep each board's clock on the computer's
    int clockToleranceS = 2;
};

// One key of a section: its name and how its value is taken into the configuration; false
// (and `why`, what was expected) for a value that cannot be used.
struct ConfigKey {
    const char* name;
    std::function<bool(const std::string& value, std::string& why)> read;
};

// A section's reader, writing into the settings it was made for.
struct ConfigSection {
    const char* name;
    std::vector<ConfigKey> keys;
    // For a section whose presence alone means something.
    std::function<void()> present;
};

// The [service] section, read into `target`.
ConfigSection ServiceConfigSection(ServiceSection& target);

// Reads the file's text with the given sections; an empty text leaves every default.
// `errors`: the file cannot be used as it is; `warnings`: unknown sections and keys.
// False when the text is no INI text at all (nothing read).
bool ReadConfigSections(const std::string& text, const std::vector<ConfigSection>& sections,
                        std::vector<std::string>& errors, std::vector<std::string>& warnings);

// The largest configuration file read.
inline constexpr std::size_t kMaxConfigBytes = 1u << 20;

// The file's text; false when it cannot be read, with the reason in `error` unless the file
// is missing and not `required`.
bool ReadConfigFile(const std::string& path, bool required, std::string& text, std::string& error);

// "all" (an empty list) or serial numbers separated by spaces or commas; nullopt for nothing.
std::optional<std::vector<std::string>> SerialNumbers(const std::string& value);
// A whole number in minimum..maximum, nothing else around it.
std::optional<int> WholeNumber(const std::string& value, int minimum, int maximum);
// A number with a decimal point in minimum..maximum, nothing else around it.
std::optional<double> DecimalNumber(const std::string& value, double minimum, double maximum);
// on/off (also yes/no, true/false, 1/0).
std::optional<bool> OnOff(const std::string& value);

}  // namespace quelvan::service
