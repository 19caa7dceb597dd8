#pragma once
// INI text line by line, as the settings file and its readers see it. Each line keeps its
// own bytes and line end, so that a writer can change some lines and keep every other one
// exactly as it was.
//
// A line is blank, a comment (first non-blank character ';' or '#'), a section ("[name]",
// anything after the ']' ignored), an entry ("key=value"; the key may be empty), a
// continuation (an indented line right after an entry or another continuation, as some
// writers fold long values), or none of these. Names compare without regard to ASCII case
// and without the blanks around them; of a key given twice in a section, and of a section
// given twice, the first occurrence counts.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quelvan::files {

enum class IniLineKind { Blank, Comment, Section, Entry, Continuation, Other };

struct IniLine {
    IniLineKind kind = IniLineKind::Blank;
    std::string_view text;    // without the line end
    std::string_view ending;  // "\n", "\r\n", "\r", or empty for a last line without one
    std::string_view name;    // a section's name, an entry's key, both without blanks around them
    std::string_view value;   // an entry's value: everything after the first '='
};

class IniText {
public:
    // `text` must outlive this object. A UTF-8 byte-order mark is not part of the first line;
    // UTF-16 text with a byte-order mark is read as the characters it holds.
    explicit IniText(std::string_view text);
    IniText(const IniText&) = delete;
    IniText& operator=(const IniText&) = delete;

    const std::vector<IniLine>& Lines() const { return lines_; }
    bool ByteOrderMark() const { return byteOrderMark_; }
    // "\r\n" when any line ends so, else "\n".
    std::string_view PreferredEnding() const { return crlf_ ? "\r\n" : "\n"; }

    std::optional<std::string_view> Value(std::string_view section, std::string_view key) const;
    bool HasSection(std::string_view section) const;

    // Why the text is not a readable text INI file that may be written back line by line
    // (NUL bytes, UTF-16, bytes that are not UTF-8 outside comments, a line of no known
    // kind), with the line's number; nullopt when it is one.
    std::optional<std::string> NotTextProblem() const;

private:
    std::string decoded_;  // UTF-16 input as UTF-8
    std::string_view text_;
    bool byteOrderMark_ = false;
    bool utf16_ = false;
    bool crlf_ = false;
    std::vector<IniLine> lines_;
    std::unordered_map<std::string, std::size_t> sections_;     // lower-case name -> line
    std::unordered_map<std::string, std::string_view> values_;  // "section\nkey", lower case
};

// ASCII lower case, for names.
std::string LowerName(std::string_view name);

// A row section's name: its index in decimal without leading zeros, below 256 (the largest
// table a board can report has 255 rows). Nullopt for any other name.
std::optional<int> RowSectionIndex(std::string_view name);

}  // namespace quelvan::files
