#include "service/service_log.h"

#include <cstdio>
#include <cstdlib>

namespace quelvan::service {

std::string LogLine(LogLevel level, const std::string& text, bool journal) {
    std::string line = journal ? "<" + std::to_string(static_cast<int>(level)) + ">" : std::string("quelvand: ");
    // One event, one line: a line break inside would start a journal entry without priority.
    for (char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
    return line;
}

void Log(LogLevel level, const std::string& text) {
    static const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
    const std::string line = LogLine(level, text, journal) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace quelvan::service
