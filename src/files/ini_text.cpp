#include "files/ini_text.h"

#include "device/identification.h"

namespace quelvan::files {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

bool Indented(std::string_view s) {
    return !s.empty() && (s.front() == ' ' || s.front() == '\t');
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool ValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        char32_t c = 0;
        if (b < 0x80) {
            ++i;
            continue;
        }
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            c = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            c = b & 0x07;
        } else {
            return false;
        }
        if (s.size() - i <= extra) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            c = (c << 6) | (next & 0x3F);
        }
        if ((extra == 2 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) ||
            (extra == 3 && (c < 0x10000 || c > 0x10FFFF)))
            return false;
        i += extra + 1;
    }
    return true;
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(static_cast<char16_t>(bigEndian ? (first << 8 | second) : (second << 8 | first)));
    }
    return ToUtf8(units);
}

std::string Key(std::string_view section, std::string_view key) {
    std::string k = LowerName(section);
    k += '\n';
    k += LowerName(key);
    return k;
}

}  // namespace

std::string LowerName(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::optional<int> RowSectionIndex(std::string_view name) {
    if (name.empty() || name.size() > 3 || (name.size() > 1 && name.front() == '0')) return std::nullopt;
    int value = 0;
    for (const char c : name) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > 255) return std::nullopt;
    return value;
}

IniText::IniText(std::string_view text) {
    if (text.size() >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'))) {
        utf16_ = true;
        decoded_ = Utf16ToUtf8(text.substr(2), text[0] == '\xFE');
        text = decoded_;
    } else if (text.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
        byteOrderMark_ = true;
        text.remove_prefix(kUtf8Mark.size());
    }
    text_ = text;

    std::string currentSection;
    bool inSection = false;
    IniLineKind previous = IniLineKind::Blank;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
        std::size_t next = end;
        if (next < text.size())
            next += (text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n') ? 2 : 1;
        IniLine line;
        line.text = text.substr(start, end - start);
        line.ending = text.substr(end, next - end);
        if (line.ending == "\r\n") crlf_ = true;
        start = next;

        const std::string_view trimmed = Trim(line.text);
        if (trimmed.empty()) {
            line.kind = IniLineKind::Blank;
        } else if (trimmed.front() == ';' || trimmed.front() == '#') {
            line.kind = IniLineKind::Comment;
        } else if (trimmed.front() == '[' && trimmed.find(']') != std::string_view::npos) {
            line.kind = IniLineKind::Section;
            line.name = Trim(trimmed.substr(1, trimmed.find(']') - 1));
            currentSection = LowerName(line.name);
            inSection = true;
            sections_.emplace(currentSection, lines_.size());
        } else if (const auto equals = line.text.find('='); equals != std::string_view::npos) {
            line.kind = IniLineKind::Entry;
            line.name = Trim(line.text.substr(0, equals));
            line.value = line.text.substr(equals + 1);
            if (inSection && !line.name.empty()) {
                std::string key = currentSection;
                key += '\n';
                key += LowerName(line.name);
                values_.emplace(std::move(key), line.value);
            }
        } else if (Indented(line.text) && (previous == IniLineKind::Entry || previous == IniLineKind::Continuation)) {
            line.kind = IniLineKind::Continuation;
        } else {
            line.kind = IniLineKind::Other;
        }
        previous = line.kind;
        lines_.push_back(line);
    }
}

std::optional<std::string_view> IniText::Value(std::string_view section, std::string_view key) const {
    const auto it = values_.find(Key(section, key));
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

bool IniText::HasSection(std::string_view section) const {
    return sections_.count(LowerName(section)) > 0;
}

std::optional<std::string> IniText::NotTextProblem() const {
    if (utf16_) return std::string("it is UTF-16 text; only UTF-8 settings files are written");
    if (text_.find('\0') != std::string_view::npos) return std::string("it holds NUL bytes, so it is not a text file");
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const IniLine& line = lines_[i];
        const std::string number = std::to_string(i + 1);
        if (line.kind == IniLineKind::Other)
            return "line " + number + " is neither a section, a key=value line, a comment nor blank";
        if (line.kind != IniLineKind::Comment && !ValidUtf8(line.text)) return "line " + number + " is not UTF-8 text";
    }
    return std::nullopt;
}

}  // namespace quelvan::files
