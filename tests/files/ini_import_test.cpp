// Reading the settings file: the reading rules for values, names and layouts, the two
// halves, and the table's fixed length.

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "device/config_keys.h"
#include "files/ini_file.h"
#include "files/row_keys.h"
#include "files_test_support.h"

namespace quelvan::files::testing {
namespace {

// A configuration in which no two fields hold the same value, so that a value landing in
// the wrong field shows.
DeviceConfig DistinctConfig() {
    DeviceConfig c;
    int n = 0;
    for (const ConfigKey& key : ConfigKeys()) StoreConfigKey(c, key, 5 + 37 * n++);
    return c;
}

TEST(IniInteger, DecimalWithSignOrHexadecimalWithPrefix) {
    struct Case {
        const char* text;
        std::optional<long long> value;
    };
    const Case cases[] = {
        {"10", 10},
        {"-50", -50},
        {"+7", 7},
        {"0x1F", 31},
        {"0X1f", 31},
        {"$1F", 31},
        {"$ff", 255},
        {"  42  ", 42},
        {"\"12\"", 12},  // quotes around a value are dropped, as by the profile functions
        {"'13'", 13},
        {"-$10", -16},
        {"007", 7},
        {"9223372036854775807", 9223372036854775807LL},
        {"-9223372036854775808", std::numeric_limits<long long>::min()},
        {"$FFFFFFFFFFFFFFFF", -1},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"12abc", std::nullopt},
        {"1.5", std::nullopt},
        {"1,5", std::nullopt},
        {"0x", std::nullopt},
        {"$", std::nullopt},
        {"-", std::nullopt},
        {"0xG", std::nullopt},
        {"1 2", std::nullopt},
        {"10 ; comment", std::nullopt},
        {"9223372036854775808", std::nullopt},
        {"$10000000000000000", std::nullopt},
        {"\"12", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseIniInteger(c.text), c.value) << '"' << c.text << '"';
}

TEST(IniImport, ConfigurationReadingRules) {
    struct Case {
        const char* what;
        const char* text;
        std::function<void(DeviceConfig&)> expect;  // changes from the distinct configuration
    };
    const Case cases[] = {
        {"only FanLow", "[Config]\nFanLow=10\n", [](DeviceConfig& c) { c.FanLow = 10; }},
        {"hex 0x", "[Config]\nFanLow=0x1F\n", [](DeviceConfig& c) { c.FanLow = 31; }},
        {"hex $", "[Config]\nFanLow=$1F\n", [](DeviceConfig& c) { c.FanLow = 31; }},
        {"letters", "[Config]\nFanLow=abc\n", [](DeviceConfig&) {}},
        {"empty value", "[Config]\nFanLow=\n", [](DeviceConfig&) {}},
        {"negative temperature", "[Config]\nTempWaterLow=-50\n", [](DeviceConfig& c) { c.TempWaterLow = -50; }},
        {"low 8 bits", "[Config]\nFanLow=300\n", [](DeviceConfig& c) { c.FanLow = 44; }},
        {"low 8 bits, signed", "[Config]\nTempOffset=200\n", [](DeviceConfig& c) { c.TempOffset = -56; }},
        {"low 16 bits", "[Weather]\nCloudP=70000\n", [](DeviceConfig& c) { c.CloudP = 4464; }},
        {"negative into unsigned", "[Weather]\nCloudD=-1\n", [](DeviceConfig& c) { c.CloudD = 65535; }},
        {"hex into signed", "[Config]\nTempJMPLow=0xFFFF\n", [](DeviceConfig& c) { c.TempJMPLow = -1; }},
        {"names without case", "[cONFIG]\nfanlow=10\nTEMPWATERHIGH=-3\n",
         [](DeviceConfig& c) {
             c.FanLow = 10;
             c.TempWaterHigh = -3;
         }},
        {"key in another section", "[Weather]\nFanLow=10\n[Names]\nMode=2\n", [](DeviceConfig&) {}},
        {"first of two values", "[Config]\nFanLow=10\nFanLow=20\n", [](DeviceConfig& c) { c.FanLow = 10; }},
        {"Step of Config", "[Config]\nStep=1\n", [](DeviceConfig& c) { c.Step = 1; }},
        {"Step of RC5", "[RC5]\nStep=4660\n", [](DeviceConfig& c) { c.RC5.Step = 4660; }},
        {"both Steps", "[RC5]\nStep=$1234\n[Config]\nStep=0\n",
         [](DeviceConfig& c) {
             c.Step = 0;
             c.RC5.Step = 0x1234;
         }},
        {"numbered keys", "[Weather]\nMoonColor11=9\nLightningColor0=8\n[Names]\nColorName5=200\n",
         [](DeviceConfig& c) {
             c.MoonColor[11] = 9;
             c.LightningColor[0] = 8;
             c.ColorName[5] = 200;  // stored unchanged; the next read from the board puts it right
         }},
        {"row sections are not configuration", "[0]\nHour=3\nFanLow=1\n", [](DeviceConfig&) {}},
        {"no file contents", "", [](DeviceConfig&) {}},
    };
    for (const Case& c : cases) {
        DeviceConfig config = DistinctConfig();
        DeviceConfig expected = DistinctConfig();
        c.expect(expected);
        ReadConfiguration(c.text, config);
        EXPECT_EQ(config, expected) << c.what;
    }
}

TEST(IniImport, TableKeepsItsLengthAndReadsItsRowsOnly) {
    const ScheduleEntry kept{9, 9, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}};
    std::vector<ScheduleEntry> table(3, kept);
    // Four rows in the file, one of them partial, for a board with three; and one row too short.
    const std::string text =
        "[0]\nHour=6\nMinute=30\nColor0=10\nColor11=$FF\n"
        "[1]\nhour=-1\nMINUTE=abc\nColor3=300\n"
        "[3]\nHour=23\nMinute=59\n"
        "[Config]\nFanLow=1\n";
    ReadTable(text, table);
    ASSERT_EQ(table.size(), 3u);
    ScheduleEntry row0 = kept;
    row0.Hour = 6;
    row0.Minute = 30;
    row0.Color[0] = 10;
    row0.Color[11] = 255;
    ScheduleEntry row1 = kept;
    row1.Hour = -1;
    row1.Color[3] = 44;
    EXPECT_EQ(table[0], row0);
    EXPECT_EQ(table[1], row1);
    EXPECT_EQ(table[2], kept) << "a missing section leaves the row";

    // The numbers the table keeps only as their low byte are told, so that they can be shown
    // as the file has them instead of running as another value; what fits is not.
    std::vector<ScheduleEntry> again(3, kept);
    std::vector<UnfittingValue> unfitting;
    ReadTable(text + "[2]\nHour=200\nMinute=-129\nColor0=-1\nColor1=255\nColor2=256\n", again, &unfitting);
    const std::vector<std::tuple<std::size_t, int, long long>> expected = {
        {1, 3, 300}, {2, RowKey::kHour, 200}, {2, RowKey::kMinute, -129}, {2, 0, -1}, {2, 2, 256}};
    std::vector<std::tuple<std::size_t, int, long long>> told;
    for (const UnfittingValue& u : unfitting) told.emplace_back(u.row, u.column, u.value);
    EXPECT_EQ(told, expected);

    std::vector<ScheduleEntry> empty;
    ReadTable(text, empty);
    EXPECT_TRUE(empty.empty());
}

TEST(IniImport, FilesOfOtherWritersAreRead) {
    // What another writer may make of the same values: other line ends, a byte-order mark,
    // comments, blank lines, spacing, other case, and the keys in reverse order.
    DeviceConfig source = DistinctConfig();
    source.TempWaterLow = -50;
    source.RC5.Step = 0xBEEF;
    std::vector<ScheduleEntry> rows(2);
    rows[1] = {-3, 59, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 100}};

    auto layout = [&](const std::string& newline, bool bom, bool comments, bool reversed, bool lowerCase) {
        std::string text = bom ? "\xEF\xBB\xBF" : "";
        if (comments) text += "; written by hand" + newline + "# second comment" + newline + newline;
        auto name = [&](std::string s) {
            if (lowerCase)
                for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            return s;
        };
        std::vector<std::string> sections;
        std::string current;
        std::vector<std::string> lines;
        auto flush = [&] {
            if (current.empty()) return;
            std::string s = "[" + name(current) + "]" + newline;
            if (reversed) std::reverse(lines.begin(), lines.end());
            for (const auto& l : lines) s += l + newline + (comments ? "  ; note" + newline : "");
            sections.push_back(s + (comments ? newline : ""));
            lines.clear();
        };
        DeviceConfig values = source;
        for (const ConfigKey& key : ConfigKeys()) {
            if (key.section != current) {
                flush();
                current = key.section;
            }
            lines.push_back(name(key.name) + (comments ? " = " : "=") + std::to_string(ReadConfigKey(values, key)));
        }
        flush();
        for (std::size_t r = 0; r < rows.size(); ++r) {
            current = std::to_string(r);
            for (const RowKey& key : RowKeys())
                lines.push_back(name(key.name) + "=" + std::to_string(key.Read(rows[r])));
            flush();
        }
        if (reversed) std::reverse(sections.begin(), sections.end());
        for (const auto& s : sections) text += s;
        return text;
    };

    for (const char* newline : {"\n", "\r\n"}) {
        for (int variant = 0; variant < 16; ++variant) {
            const std::string text = layout(newline, variant & 1, variant & 2, variant & 4, variant & 8);
            DeviceConfig config;
            ReadConfiguration(text, config);
            EXPECT_EQ(config, source) << "variant " << variant << (newline[0] == '\r' ? " CRLF" : "");
            std::vector<ScheduleEntry> table(2);
            ReadTable(text, table);
            EXPECT_EQ(table, rows) << "variant " << variant;
        }
    }
}

TEST(IniImport, UnreadableFilesChangeNothing) {
    TempDir dir;
    const DeviceConfig before = DistinctConfig();
    DeviceConfig config = before;
    FileResult r = ImportConfiguration(dir.File("missing.ini"), config);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "FEHLER: Datei " + dir.File("missing.ini") + " nicht gefunden!");
    EXPECT_FALSE(r.reason.empty());
    EXPECT_EQ(config, before);

    std::vector<ScheduleEntry> table(2, ScheduleEntry{1, 2, {}});
    const auto tableBefore = table;
    r = ImportTable(dir.Path().string(), table);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "FEHLER: Datei " + dir.Path().string() + " konnte nicht gelesen werden!");
    EXPECT_EQ(table, tableBefore);

    // A file without any section the import reads is no success: nothing is taken from it.
    WriteText(dir.File("rows.ini"), "[Notes]\nFanLow=1\n[4]\nHour=3\n[5]\nHour=4\n");
    r = ImportConfiguration(dir.File("rows.ini"), config);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "FEHLER: Keine Einstellungen in der Datei " + dir.File("rows.ini") + " gefunden!");
    EXPECT_EQ(r.error,
              "no settings found in " + dir.File("rows.ini") + " (none of the sections Config, Weather, Names, RC5)");
    EXPECT_EQ(config, before);
    r = ImportTable(dir.File("rows.ini"), table);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "no settings found in " + dir.File("rows.ini") + " (none of the row sections 0 to 1)");
    EXPECT_EQ(table, tableBefore);

    WriteText(dir.File("a.ini"), "[Config]\r\nFanLow=10\r\n");
    r = ImportConfiguration(dir.File("a.ini"), config);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.message.empty());
    EXPECT_EQ(config.FanLow, 10);
}

}  // namespace
}  // namespace quelvan::files::testing
