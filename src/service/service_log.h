#pragma once
// quelvand's log: one line per event on standard error. Under systemd (JOURNAL_STREAM set)
// each line starts with the journal's priority prefix, "<3>" for errors, "<4>" for warnings,
// "<5>" for notices, "<6>" for information; elsewhere with "quelvand: ".

#include <string>

namespace quelvan::service {

enum class LogLevel { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

void Log(LogLevel level, const std::string& text);
inline void LogError(const std::string& text) {
    Log(LogLevel::Error, text);
}
inline void LogWarning(const std::string& text) {
    Log(LogLevel::Warning, text);
}
inline void LogNotice(const std::string& text) {
    Log(LogLevel::Notice, text);
}
inline void LogInfo(const std::string& text) {
    Log(LogLevel::Info, text);
}

// The line as written, without its line break (for tests).
std::string LogLine(LogLevel level, const std::string& text, bool journal);

}  // namespace quelvan::service
