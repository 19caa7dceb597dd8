#pragma once
// quelvand.conf: an INI file of sections, each read by its own reader from a table, so that
// a bridge adds its section by adding one reader. Every key has a default (the shipped
// example file documents each); a key the reader does not know is reported, not fatal;
// a value it cannot use is an error.
//
//   [service]
//   poll_ms = 1000        how often each board's live state is read; 0: never on its own
//   boards = all          "all", or serial numbers separated by spaces or commas
//   socket =              the socket's path; empty: the user's or the system's default

#include <string>
#include <vector>

#include "service/web_settings.h"

namespace quelvan::service {

struct ServiceSection {
    int pollMs = 1000;
    std::vector<std::string> boards;  // empty: all
    std::string socket;               // empty: wire::DefaultServiceSocketPath()
};

struct ServiceConfig {
    ServiceSection service;
    WebSection web;
};

struct ConfigOutcome {
    ServiceConfig config;
    std::vector<std::string> errors;    // the file cannot be used as it is
    std::vector<std::string> warnings;  // unknown sections and keys
};

// Reads the file's text; an empty text gives the defaults.
ConfigOutcome ParseServiceConfig(const std::string& text);
// Reads the file; a missing file is an error only when `required`.
ConfigOutcome LoadServiceConfig(const std::string& path, bool required);

inline constexpr const char* kDefaultConfigPath = "/etc/quelvan/quelvand.conf";

}  // namespace quelvan::service
