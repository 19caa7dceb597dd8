// The settings file's contents in memory: reading the two halves, and writing the export's
// keys into an existing text line by line.

#include <algorithm>
#include <set>
#include <unordered_map>

#include "device/config_keys.h"
#include "files/ini_file.h"
#include "files/ini_text.h"
#include "files/row_keys.h"

namespace quelvan::files {

namespace {

struct OwnedKey {
    std::string name;
    long long value = 0;
    bool written = false;
};

struct OwnedSection {
    std::string name;
    std::vector<OwnedKey> keys;
    std::unordered_map<std::string, std::size_t> byName;  // lower case
    std::optional<std::size_t> firstBlockEnd;             // line after which missing keys go
};

std::vector<OwnedSection> OwnedSections(const DeviceConfig* config, const std::vector<ScheduleEntry>& table) {
    std::vector<OwnedSection> sections;
    auto open = [&](std::string name) {
        sections.emplace_back();
        sections.back().name = std::move(name);
    };
    auto add = [&](OwnedSection& section, std::string name, long long value) {
        section.byName.emplace(LowerName(name), section.keys.size());
        section.keys.push_back({std::move(name), value, false});
    };
    for (const ConfigKey& key : ConfigKeys()) {
        if (!config) break;
        if (sections.empty() || sections.back().name != key.section) open(std::string(key.section));
        add(sections.back(), key.name, ReadConfigKey(*config, key));
    }
    for (std::size_t row = 0; row < table.size(); ++row) {
        open(RowSection(row));
        for (const RowKey& key : RowKeys()) add(sections.back(), key.name, key.Read(table[row]));
    }
    return sections;
}

std::string KeyLine(const OwnedKey& key) {
    return key.name + "=" + std::to_string(key.value);
}

// One line of the new text: its own bytes, or new ones, and its line end.
struct OutLine {
    std::string text;
    std::string_view ending;
    bool blank = false;
};

}  // namespace

SettingsUpdate UpdateSettingsText(std::string_view existing, const DeviceConfig& config,
                                  const std::vector<ScheduleEntry>& table) {
    return UpdateSettingsText(existing, &config, table);
}

SettingsUpdate UpdateSettingsText(std::string_view existing, const DeviceConfig* config,
                                  const std::vector<ScheduleEntry>& table) {
    SettingsUpdate update;
    const IniText ini(existing);
    if (auto problem = ini.NotTextProblem()) {
        update.problem = std::move(problem);
        return update;
    }
    const std::vector<IniLine>& lines = ini.Lines();
    std::vector<OwnedSection> owned = OwnedSections(config, table);
    std::unordered_map<std::string, std::size_t> ownedByName;
    for (std::size_t i = 0; i < owned.size(); ++i) ownedByName.emplace(LowerName(owned[i].name), i);

    enum class Action { Keep, Replace, Drop };
    std::vector<Action> actions(lines.size(), Action::Keep);
    std::vector<std::string> replacements(lines.size());
    std::set<int> removed;

    for (std::size_t i = 0; i < lines.size();) {
        if (lines[i].kind != IniLineKind::Section) {
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        while (end < lines.size() && lines[end].kind != IniLineKind::Section) ++end;
        std::size_t lastContent = i;
        for (std::size_t k = i + 1; k < end; ++k)
            if (lines[k].kind == IniLineKind::Entry || lines[k].kind == IniLineKind::Continuation) lastContent = k;

        const auto row = RowSectionIndex(lines[i].name);
        if (row && static_cast<std::size_t>(*row) >= table.size()) {
            // A row of an earlier, longer table: out with it, up to its last entry. Comments
            // after that belong to what follows, and so do the blank lines around them; blank
            // lines alone go with the row.
            removed.insert(*row);
            bool comment = false;
            for (std::size_t k = lastContent + 1; k < end; ++k)
                comment = comment || lines[k].kind == IniLineKind::Comment;
            for (std::size_t k = i; k < (comment ? lastContent + 1 : end); ++k) actions[k] = Action::Drop;
        } else if (const auto it = ownedByName.find(LowerName(lines[i].name)); it != ownedByName.end()) {
            OwnedSection& section = owned[it->second];
            if (!section.firstBlockEnd) section.firstBlockEnd = lastContent;
            for (std::size_t k = i + 1; k < end; ++k) {
                if (lines[k].kind != IniLineKind::Entry) continue;
                const auto key = section.byName.find(LowerName(lines[k].name));
                if (key == section.byName.end()) continue;
                OwnedKey& owner = section.keys[key->second];
                // The first occurrence is the one readers take; it gets the value, and any
                // later one goes, so that the file holds one value. Lines that continue an
                // owned value are part of it.
                if (owner.written) {
                    actions[k] = Action::Drop;
                } else {
                    actions[k] = Action::Replace;
                    replacements[k] = KeyLine(owner);
                    owner.written = true;
                }
                for (std::size_t c = k + 1; c < end && lines[c].kind == IniLineKind::Continuation; ++c)
                    actions[c] = Action::Drop;
            }
        }
        i = end;
    }

    // Keys missing from a section follow the last entry of its first occurrence.
    std::vector<std::vector<std::string>> insertions(lines.size());
    for (OwnedSection& section : owned) {
        if (!section.firstBlockEnd) continue;
        for (OwnedKey& key : section.keys) {
            if (key.written) continue;
            insertions[*section.firstBlockEnd].push_back(KeyLine(key));
            key.written = true;
        }
    }

    const std::string_view ending = ini.PreferredEnding();
    std::vector<OutLine> out;
    out.reserve(lines.size() + 16);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (actions[i] == Action::Keep)
            out.push_back({std::string(lines[i].text), lines[i].ending, lines[i].kind == IniLineKind::Blank});
        else if (actions[i] == Action::Replace)
            out.push_back({replacements[i], lines[i].ending, false});
        for (std::string& line : insertions[i]) out.push_back({std::move(line), ending, false});
    }
    // Sections the file does not have yet go at its end, a blank line before each.
    for (const OwnedSection& section : owned) {
        if (section.firstBlockEnd) continue;
        if (!out.empty() && !out.back().blank) out.push_back({std::string(), ending, true});
        out.push_back({"[" + section.name + "]", ending, false});
        for (const OwnedKey& key : section.keys) out.push_back({KeyLine(key), ending, false});
    }

    std::string& text = update.text;
    text.reserve(existing.size() + out.size() * 4);
    if (ini.ByteOrderMark()) text = "\xEF\xBB\xBF";
    for (std::size_t i = 0; i < out.size(); ++i) {
        text += out[i].text;
        // A last line without a line end gets one when something follows it now.
        text += out[i].ending.empty() && i + 1 < out.size() ? ending : out[i].ending;
    }
    update.removedRows.assign(removed.begin(), removed.end());
    return update;
}

void ReadConfiguration(std::string_view text, DeviceConfig& config) {
    const IniText ini(text);
    for (const ConfigKey& key : ConfigKeys()) {
        if (const auto value = ini.Value(key.section, key.name))
            if (const auto number = ParseIniInteger(*value)) StoreConfigKey(config, key, *number);
    }
}

void ReadTable(std::string_view text, std::vector<ScheduleEntry>& table, std::vector<UnfittingValue>* unfitting) {
    const IniText ini(text);
    for (std::size_t row = 0; row < table.size(); ++row) {
        const std::string section = RowSection(row);
        for (const RowKey& key : RowKeys()) {
            const auto value = ini.Value(section, key.name);
            if (!value) continue;
            const auto number = ParseIniInteger(*value);
            if (!number) continue;
            key.Store(table[row], *number);
            if (unfitting && key.Read(table[row]) != *number) unfitting->push_back({row, key.column, *number});
        }
    }
}

bool HasConfiguration(std::string_view text) {
    const IniText ini(text);
    return std::any_of(kConfigSections.begin(), kConfigSections.end(),
                       [&](std::string_view section) { return ini.HasSection(section); });
}

bool HasTableRows(std::string_view text, std::size_t rows) {
    const IniText ini(text);
    for (std::size_t row = 0; row < rows && row < 256; ++row)
        if (ini.HasSection(RowSection(row))) return true;
    return false;
}

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

}  // namespace quelvan::files
