// Writing the settings file: the sections and keys in their order, values in decimal, an
// existing file's other contents kept, and no damaged file when a write fails.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "files/ini_file.h"
#include "files_test_support.h"

namespace quelvan::files::testing {
namespace {

// A second, deliberately simple reading of INI text: sections in file order with their
// key lines as written.
struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
    std::string Value(const std::string& key) const {
        for (const auto& [k, v] : keys)
            if (k == key) return v;
        return "<missing>";
    }
};

std::vector<Section> ReadSections(const std::string& text) {
    std::vector<Section> sections;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            sections.push_back({line.substr(1, line.size() - 2), {}});
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || sections.empty()) continue;
        sections.back().keys.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return sections;
}

std::vector<std::string> Numbered(const std::string& stem) {
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i) names.push_back(stem + std::to_string(i));
    return names;
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<std::string> kConfigNames = {"Mode",          "Step",       "FanLow",     "FanHigh",
                                               "LCDBLMin",      "LCDBLMax",   "TimeLapse",  "PoweronPosition",
                                               "PWMPrescaler",  "TWIBitrate", "FanMode",    "TempWaterLow",
                                               "TempWaterHigh", "JMPMode",    "TempJMPLow", "TempJMPHigh",
                                               "TempOffset"};
const std::vector<std::string> kWeatherNames =
    Join(Join({"CloudP", "CloudD", "CloudAlpha", "CloudStep", "StormP", "StormD", "StormAlpha", "StormStep",
               "LightningP", "LightningD", "FullmoonTransitHour", "FullmoonTransitMinute"},
              Numbered("LightningColor")),
         Numbered("MoonColor"));
const std::vector<std::string> kNameNames = Numbered("ColorName");
const std::vector<std::string> kRC5Names = {"Up", "Down", "Left", "Right", "Previous", "Next", "Settings", "Step"};
const std::vector<std::string> kRowNames = Join({"Hour", "Minute"}, Numbered("Color"));

std::vector<std::string> KeyNames(const Section& s) {
    std::vector<std::string> names;
    for (const auto& kv : s.keys) names.push_back(kv.first);
    return names;
}

struct Records {
    DeviceConfig config;
    std::vector<ScheduleEntry> table;
};

Records Sample(std::size_t rows) {
    Records r;
    r.config.Mode = 1;
    r.config.Step = 1;
    r.config.FanLow = 10;
    r.config.TempWaterLow = -50;
    r.config.TempOffset = -56;
    r.config.TempJMPHigh = 32767;
    r.config.CloudAlpha = 65535;
    r.config.FullmoonTransitMinute = 42;
    r.config.LightningColor[0] = 100;
    r.config.MoonColor[11] = 255;
    r.config.ColorName[3] = 7;
    r.config.RC5.Up = 1;
    r.config.RC5.Step = 0x1234;
    for (std::size_t i = 0; i < rows; ++i) {
        ScheduleEntry e;
        e.Hour = static_cast<std::int8_t>(6 + i);
        e.Minute = static_cast<std::int8_t>(15 * i);
        for (int c = 0; c < 12; ++c) e.Color[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c * 8 + i);
        r.table.push_back(e);
    }
    if (rows > 1) r.table[1].Hour = -1;
    return r;
}

TEST(IniExport, NewFileHoldsEverySectionAndKeyInOrder) {
    TempDir dir;
    const std::string path = dir.File("board.ini");
    const Records r = Sample(3);
    const FileResult result = ExportSettingsAndTable(path, r.config, r.table);
    ASSERT_TRUE(result.ok) << result.message;

    const std::vector<Section> sections = ReadSections(ReadText(path));
    std::vector<std::string> names;
    for (const auto& s : sections) names.push_back(s.name);
    ASSERT_EQ(names, (std::vector<std::string>{"Config", "Weather", "Names", "RC5", "0", "1", "2"}));
    EXPECT_EQ(KeyNames(sections[0]), kConfigNames);
    EXPECT_EQ(KeyNames(sections[1]), kWeatherNames);
    EXPECT_EQ(KeyNames(sections[2]), kNameNames);
    EXPECT_EQ(KeyNames(sections[3]), kRC5Names);
    for (int row = 4; row < 7; ++row) EXPECT_EQ(KeyNames(sections[static_cast<std::size_t>(row)]), kRowNames);
    EXPECT_EQ(kConfigNames.size() + kWeatherNames.size() + kNameNames.size() + kRC5Names.size(), 17u + 36 + 12 + 8);

    struct Expect {
        std::size_t section;
        const char* key;
        const char* value;
    };
    for (const Expect& e :
         {Expect{0, "Mode", "1"}, Expect{0, "Step", "1"}, Expect{0, "TempWaterLow", "-50"},
          Expect{0, "TempOffset", "-56"}, Expect{0, "TempJMPHigh", "32767"}, Expect{0, "FanHigh", "0"},
          Expect{1, "CloudAlpha", "65535"}, Expect{1, "FullmoonTransitMinute", "42"},
          Expect{1, "LightningColor0", "100"}, Expect{1, "MoonColor11", "255"}, Expect{2, "ColorName3", "7"},
          Expect{3, "Up", "1"}, Expect{3, "Step", "4660"}, Expect{4, "Hour", "6"}, Expect{5, "Hour", "-1"},
          Expect{5, "Minute", "15"}, Expect{6, "Color11", "90"}}) {
        EXPECT_EQ(sections[e.section].Value(e.key), e.value) << sections[e.section].name << " " << e.key;
    }

    const mode_t umask = ::umask(0);
    ::umask(umask);
    EXPECT_EQ(Mode(path), 0666u & ~static_cast<unsigned>(umask));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"board.ini"}) << "no temporary file is left";
}

TEST(IniExport, RoundTripThroughTheFile) {
    TempDir dir;
    const std::string path = dir.File("board.ini");
    const Records r = Sample(4);
    ASSERT_TRUE(ExportSettingsAndTable(path, r.config, r.table).ok);

    DeviceConfig config;
    ASSERT_TRUE(ImportConfiguration(path, config).ok);
    EXPECT_EQ(config, r.config);
    EXPECT_EQ(config.TempWaterLow, -50) << "-5.0 °C";
    std::vector<ScheduleEntry> table(4);
    ASSERT_TRUE(ImportTable(path, table).ok);
    EXPECT_EQ(table, r.table);

    // Exporting the imported values again writes the same file.
    const std::string first = ReadText(path);
    ASSERT_TRUE(ExportSettingsAndTable(path, config, table).ok);
    EXPECT_EQ(ReadText(path), first);
}

TEST(IniExport, ExistingFileKeepsWhatTheExportDoesNotWrite) {
    TempDir dir;
    const std::string path = dir.File("big.ini");
    WriteText(path,
              "; settings of the big board\n"
              "\n"
              "[Foreign]\n"
              "Key=Value\n"
              "\n"
              "[config]\n"
              "; the fan\n"
              "fanlow=3\n"
              "Extra=keep me\n"
              "FANLOW=4\n"
              "\n"
              "[0]\n"
              "Hour=1\n"
              "[3]\n"
              "Hour=23\n"
              "Minute=5\n"
              "Color0=7\n"
              "[4]\n"
              "Hour=24\n"
              "; end of file\n");
    const Records r = Sample(2);
    const FileResult result = ExportSettingsAndTable(path, r.config, r.table);
    ASSERT_TRUE(result.ok) << result.message;
    // The rows of the earlier, longer table go, and the export says so.
    EXPECT_EQ(result.removedRows, (std::vector<int>{3, 4}));
    EXPECT_EQ(result.message,
              "Die Zeilen 3 und 4 einer früheren, längeren Tabelle wurden aus der Datei " + path + " entfernt.");
    const std::string text = ReadText(path);

    for (const char* comment : {"; settings of the big board\n", "; the fan\n", "; end of file\n"})
        EXPECT_NE(text.find(comment), std::string::npos) << comment << "\n" << text;
    const std::vector<Section> sections = ReadSections(text);
    std::vector<std::string> names;
    for (const auto& s : sections) names.push_back(s.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Foreign", "config", "0", "Weather", "Names", "RC5", "1"}));
    EXPECT_EQ(sections[0].keys, (std::vector<std::pair<std::string, std::string>>{{"Key", "Value"}}));
    // The section keeps its spelling; the key is there once, at its old place.
    EXPECT_EQ(sections[1].keys.size(), 18u);
    EXPECT_EQ(sections[1].keys.front(), std::make_pair(std::string("FanLow"), std::string("10")));
    EXPECT_EQ(sections[1].Value("fanlow"), "<missing>");
    EXPECT_EQ(sections[1].Value("FANLOW"), "<missing>");
    EXPECT_NE(text.find("; the fan\nFanLow=10\n"), std::string::npos) << text;
    EXPECT_EQ(sections[1].Value("Extra"), "keep me");
    EXPECT_EQ(sections[1].Value("TempWaterLow"), "-50");
    EXPECT_EQ(sections[2].Value("Hour"), "6");
    EXPECT_NE(text.find("[0]\nHour=6\nMinute=0\nColor0=0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n; end of file\n\n[Weather]\n"), std::string::npos) << text;

    std::vector<ScheduleEntry> table(2);
    ASSERT_TRUE(ImportTable(path, table).ok);
    EXPECT_EQ(table, r.table);
}

TEST(IniExport, LineEndsByteOrderMarkAndCommentOnlyFilesAreKept) {
    const Records r = Sample(1);
    std::string text = UpdateSettingsText("\xEF\xBB\xBF[Config]\r\nFanLow=1\r\n; last\r\n", r.config, r.table).text;
    ASSERT_EQ(text.rfind("\xEF\xBB\xBF[Config]\r\n", 0), 0u) << text;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "a bare line feed at " << i;
        }
    EXPECT_NE(text.find("; last\r\n"), std::string::npos);
    DeviceConfig config;
    ReadConfiguration(text, config);
    EXPECT_EQ(config, r.config);

    text = UpdateSettingsText("; just a note\n\n# and another\n", r.config, r.table).text;
    EXPECT_EQ(text.rfind("; just a note\n\n# and another\n", 0), 0u) << text;
    EXPECT_EQ(ReadSections(text).size(), 5u);
}

// What the export does not own stays byte for byte where it was; a text that is not a
// readable text INI file is not written over at all.
TEST(IniExport, LinesNotOwnedStayInPlaceAndOtherTextsAreRefused) {
    const Records r = Sample(1);
    struct Case {
        const char* what;
        std::string existing;
        std::vector<std::string> kept;  // each must stand in the new text as it is, or
        const char* refused;            // the reason names this
    };
    const Case cases[] = {
        {"odd but readable lines",
         "top=1\n[Other]\n=novalue\nlong=first\n  continued\n[Config]\n; fan\n  FanLow = 3 \nExtra = keep\n"
         "  more of extra\n\n[Tail]\nB=2",
         {"top=1\n[Other]\n=novalue\nlong=first\n  continued\n[Config]\n; fan\nFanLow=10\nExtra = keep\n"
          "  more of extra\nMode=1\n",
          "\n\n[Tail]\nB=2\n\n[Weather]\n"},
         nullptr},
        {"a comment that is not UTF-8",
         "; caf\xe9\n[Config]\nFanLow=3\n",
         {"; caf\xe9\n[Config]\nFanLow=10\nMode=1\n"},
         nullptr},
        {"line ends kept, a last line without one",
         "[Other]\r\nA=1",
         {"[Other]\r\nA=1\r\n\r\n[Config]\r\nMode=1\r\n"},
         nullptr},
        {"the same section twice, an owned value folded",
         "[Config]\nFanLow=3\n[X]\n[config]\nFANLOW=4\n  folded\nMode=9\nY=1\n",
         {"[Config]\nFanLow=10\nStep=1\n", "[X]\n[config]\nMode=1\nY=1\n"},
         nullptr},
        {"a line of no kind", "[Config]\nFanLow=3\njustaword\n", {}, "line 3 is neither"},
        {"a value that is not UTF-8", "[Names]\nLabel=caf\xe9\n", {}, "line 2 is not UTF-8"},
        {"a zero byte", std::string("[Config]\nFanLow=3\0tail\n", 22), {}, "NUL bytes"},
        {"UTF-16", std::string("\xFF\xFE[\0C\0]\0", 8), {}, "UTF-16"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SettingsUpdate update = UpdateSettingsText(c.existing, r.config, r.table);
        if (c.refused) {
            ASSERT_TRUE(update.problem.has_value());
            EXPECT_NE(update.problem->find(c.refused), std::string::npos) << *update.problem;
            continue;
        }
        ASSERT_FALSE(update.problem.has_value()) << *update.problem;
        for (const std::string& part : c.kept) EXPECT_NE(update.text.find(part), std::string::npos) << update.text;
        DeviceConfig back;
        ReadConfiguration(update.text, back);
        EXPECT_EQ(back, r.config);
        // Exporting the same values again changes nothing.
        EXPECT_EQ(UpdateSettingsText(update.text, r.config, r.table).text, update.text);
    }
}

// A table exported over the file of a longer one: that table's rows go (they would mix two
// programs on the next import), everything else stays.
TEST(IniExport, RowsOfALongerTableAreTakenOut) {
    const Records eight = Sample(8);
    std::string text = UpdateSettingsText("", eight.config, eight.table).text;
    text += "; after the last row\n[Notes]\nN=1\n[04]\nHour=1\n[300]\nHour=2\n";
    const Records four = Sample(4);
    const SettingsUpdate update = UpdateSettingsText(text, four.config, four.table);
    ASSERT_FALSE(update.problem.has_value());
    EXPECT_EQ(update.removedRows, (std::vector<int>{4, 5, 6, 7}));
    std::vector<std::string> names;
    for (const Section& s : ReadSections(update.text)) names.push_back(s.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Config", "Weather", "Names", "RC5", "0", "1", "2", "3", "Notes", "04",
                                               "300"}));
    EXPECT_NE(update.text.find("Color11=91\n\n; after the last row\n[Notes]"), std::string::npos) << update.text;
    std::vector<ScheduleEntry> rows(8);
    ReadTable(update.text, rows);
    EXPECT_EQ(std::vector<ScheduleEntry>(rows.begin(), rows.begin() + 4), four.table);
    EXPECT_EQ(rows[4], ScheduleEntry{}) << "no row of the old program is left to import";
    EXPECT_EQ(RowNumbersText(update.removedRows, "to", "and"), "4 to 7");
    EXPECT_EQ(RowNumbersText({4, 6}, "to", "and"), "4 and 6");
    EXPECT_EQ(RowNumbersText({4, 6, 9}, "bis", "und"), "4, 6 und 9");
}

TEST(IniExport, PermissionsAndLinksOfTheOldFileStay) {
    TempDir dir;
    const std::string target = dir.File("real.ini");
    const std::string link = dir.File("link.ini");
    WriteText(target, "[Other]\nA=1\n");
    ::chmod(target.c_str(), 0640);
    std::filesystem::create_symlink(target, link);
    const Records r = Sample(1);
    ASSERT_TRUE(ExportSettingsAndTable(link, r.config, r.table).ok);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Mode(target), 0640u);
    const std::string text = ReadText(target);
    EXPECT_NE(text.find("[Other]\nA=1\n"), std::string::npos);
    EXPECT_NE(text.find("[RC5]"), std::string::npos);
}

TEST(IniExport, FailedWritesAreReportedAndLeaveTheOldFile) {
    TempDir dir;
    const Records r = Sample(2);
    const std::string path = dir.File("a.ini");
    const std::string old = "[Config]\nFanLow=3\n; mine\n";
    WriteText(path, old);

    // A disk that fills up half-way: the file size limit stops the write after 64 bytes.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const FileResult result = ExportSettingsAndTable(path, r.config, r.table);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "FEHLER: Datei " + path + " konnte nicht geschrieben werden!");
    EXPECT_FALSE(result.reason.empty());
    EXPECT_EQ(ReadText(path), old);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"a.ini"}) << "the temporary file is removed";

    // The same with a second hard link, which is written in place: its new size is reserved
    // before any old byte is overwritten.
    const std::string second = dir.File("b.ini");
    ASSERT_EQ(::link(path.c_str(), second.c_str()), 0);
    ::setrlimit(RLIMIT_FSIZE, &small);
    std::signal(SIGXFSZ, SIG_IGN);
    const FileResult inPlace = ExportSettingsAndTable(second, r.config, r.table);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(inPlace.ok);
    EXPECT_EQ(ReadText(path), old);
    EXPECT_EQ(ReadText(second), old);
    ::unlink(second.c_str());

    const std::string missingFolder = dir.File("no/such/folder.ini");
    FileResult r2 = ExportSettingsAndTable(missingFolder, r.config, r.table);
    EXPECT_FALSE(r2.ok);
    EXPECT_EQ(r2.message, "FEHLER: Datei " + missingFolder + " konnte nicht geschrieben werden!");

    // A folder in the file's place cannot be read, and is not replaced.
    std::filesystem::create_directory(dir.File("folder.ini"));
    r2 = ExportSettingsAndTable(dir.File("folder.ini"), r.config, r.table);
    EXPECT_FALSE(r2.ok);
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder.ini")));
}

}  // namespace
}  // namespace quelvan::files::testing
