#include "files/ini_file.h"

// SimpleIni is header-only here; its templates are instantiated in this file alone.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <cerrno>
#include <cstring>

#include "device/config_keys.h"
#include "files/replace_file.h"
#include "files/row_keys.h"

namespace quelvan::files {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Section and key names compare without regard to case; a key given twice counts with
// its first value, as with the platform's profile functions.
class Ini {
public:
    explicit Ini(std::string_view text) : ini_(false, true, false) {
        ini_.SetSpaces(false);
        if (!text.empty()) ini_.LoadData(text.data(), text.size());
    }

    std::optional<long long> Integer(std::string_view section, const std::string& key) const {
        const std::string s(section);
        const char* value = ini_.GetValue(s.c_str(), key.c_str(), nullptr);
        if (!value) return std::nullopt;
        return ParseIniInteger(value);
    }

    void Set(std::string_view section, const std::string& key, long long value) {
        const std::string s(section);
        const std::string text = std::to_string(value);
        // Replacing drops any second occurrence of the key, so the file holds one value.
        ini_.SetValue(s.c_str(), key.c_str(), text.c_str(), nullptr, true);
    }

    std::string Text() const {
        std::string out;
        ini_.Save(out, false);
        return out;
    }

private:
    CSimpleIniA ini_;
};

bool IsBlankOrComment(std::string_view line) {
    const auto first = line.find_first_not_of(" \t");
    return first == std::string_view::npos || line[first] == ';' || line[first] == '#';
}

bool IsBlank(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::string ErrorText(int error) {
    return std::strerror(error);
}

}  // namespace

std::optional<long long> ParseIniInteger(std::string_view text) {
    auto trim = [](std::string_view s) {
        const auto first = s.find_first_not_of(" \t");
        if (first == std::string_view::npos) return std::string_view();
        const auto last = s.find_last_not_of(" \t");
        return s.substr(first, last - first + 1);
    };
    text = trim(text);
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
        text = trim(text.substr(1, text.size() - 2));

    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (!text.empty() && text.front() == '$') {
        base = 16;
        text.remove_prefix(1);
    } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;

    // Decimal values must fit a signed 64-bit number; hexadecimal ones 64 bits. Only the
    // low bits reach a field, so the width limit matters only for what counts as a number.
    unsigned long long value = 0;
    const unsigned long long limit = base == 10 ? (1ull << 63) : ~0ull;
    for (const char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        if (value > (limit - digit) / base) return std::nullopt;
        value = value * base + digit;
    }
    if (base == 10 && !negative && value == limit) return std::nullopt;
    const auto magnitude = static_cast<long long>(value);  // wraps for large hexadecimal values
    return negative ? static_cast<long long>(0ull - value) : magnitude;
}

void ReadConfiguration(std::string_view text, DeviceConfig& config) {
    const Ini ini(text);
    for (const ConfigKey& key : ConfigKeys()) {
        if (const auto value = ini.Integer(key.section, key.name)) StoreConfigKey(config, key, *value);
    }
}

void ReadTable(std::string_view text, std::vector<ScheduleEntry>& table) {
    const Ini ini(text);
    for (std::size_t row = 0; row < table.size(); ++row) {
        const std::string section = RowSection(row);
        for (const RowKey& key : RowKeys()) {
            if (const auto value = ini.Integer(section, key.name)) key.Store(table[row], *value);
        }
    }
}

std::string WriteSettingsAndTable(std::string_view existing, const DeviceConfig& config,
                                  const std::vector<ScheduleEntry>& table) {
    const bool byteOrderMark = existing.substr(0, kByteOrderMark.size()) == kByteOrderMark;
    if (byteOrderMark) existing.remove_prefix(kByteOrderMark.size());
    // The parser stops at a zero byte; what follows it is not part of any INI file.
    existing = existing.substr(0, existing.find('\0'));
    const bool crlf = existing.find("\r\n") != std::string_view::npos;

    // The parser keeps comments only in front of a section or key. Comment lines after
    // the last entry, or a file of comments alone, are carried over here.
    const std::vector<std::string_view> lines = Lines(existing);
    std::size_t tail = lines.size();
    while (tail > 0 && IsBlankOrComment(lines[tail - 1])) --tail;
    std::string preamble, trailer;
    std::string_view parsed = existing;
    if (tail == 0) {
        std::size_t last = lines.size();
        while (last > 0 && IsBlank(lines[last - 1])) --last;
        for (std::size_t i = 0; i < last; ++i) preamble.append(lines[i]).append("\n");
        if (!preamble.empty()) preamble.append("\n");
        parsed = {};
    } else {
        std::size_t last = lines.size();
        while (last > tail && IsBlank(lines[last - 1])) --last;
        for (std::size_t i = tail; i < last; ++i) trailer.append(lines[i]).append("\n");
        if (!trailer.empty()) trailer.insert(0, "\n");
    }

    Ini ini(parsed);
    for (const ConfigKey& key : ConfigKeys()) ini.Set(key.section, key.name, ReadConfigKey(config, key));
    for (std::size_t row = 0; row < table.size(); ++row) {
        const std::string section = RowSection(row);
        for (const RowKey& key : RowKeys()) ini.Set(section, key.name, key.Read(table[row]));
    }

    std::string text = preamble + ini.Text() + trailer;
    if (crlf) {
        std::string converted;
        converted.reserve(text.size() + text.size() / 8);
        for (const char c : text) {
            if (c == '\n') converted.push_back('\r');
            converted.push_back(c);
        }
        text = std::move(converted);
    }
    if (byteOrderMark) text.insert(0, kByteOrderMark);
    return text;
}

FileResult ExportSettingsAndTable(const std::string& path, const DeviceConfig& config,
                                  const std::vector<ScheduleEntry>& table) {
    std::string existing;
    int error = 0;
    // Only a file that is not there yet may start empty: anything else that cannot be read
    // would lose its other contents.
    if (!ReadFileText(path, existing, &error) && error != ENOENT)
        return {false, "FEHLER: Datei " + path + " konnte nicht gelesen werden!", ErrorText(error)};
    const ReplaceResult written = ReplaceFileContents(path, WriteSettingsAndTable(existing, config, table));
    if (!written.ok)
        return {false, "FEHLER: Datei " + path + " konnte nicht geschrieben werden!", ErrorText(written.error)};
    return {};
}

FileResult ReadSettingsFile(const std::string& path, std::string& text) {
    int error = 0;
    if (ReadFileText(path, text, &error)) return {};
    if (error == ENOENT) return {false, "FEHLER: Datei " + path + " nicht gefunden!", ErrorText(error)};
    return {false, "FEHLER: Datei " + path + " konnte nicht gelesen werden!", ErrorText(error)};
}

FileResult ImportConfiguration(const std::string& path, DeviceConfig& config) {
    std::string text;
    FileResult result = ReadSettingsFile(path, text);
    if (result.ok) ReadConfiguration(text, config);
    return result;
}

FileResult ImportTable(const std::string& path, std::vector<ScheduleEntry>& table) {
    std::string text;
    FileResult result = ReadSettingsFile(path, text);
    if (result.ok) ReadTable(text, table);
    return result;
}

}  // namespace quelvan::files
