#include "device/identification.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>

namespace quelvan {
namespace {

TEST(Identification, OnlyTheExactMakerAndProductStringsCount) {
    const std::u16string maker(kMakerManufacturer);
    struct Case {
        std::u16string manufacturer, product;
        DeviceRole role;
    } cases[] = {
        {maker, u"Quelvan2", DeviceRole::Board},
        {maker, u"1", DeviceRole::Bootloader1},
        {maker, u"2", DeviceRole::Bootloader2},
        {maker, u"quelvan2", DeviceRole::Other},   // case-sensitive
        {maker, u"Quelvan2 ", DeviceRole::Other},  // whole string
        {maker, u"3", DeviceRole::Other},
        {u"WWW.DRAVIK.INFO", u"Quelvan2", DeviceRole::Other},
        {u"", u"", DeviceRole::Other},
    };
    for (const auto& c : cases) EXPECT_EQ(IdentifyDevice(c.manufacturer, c.product), c.role) << ToUtf8(c.product);
    EXPECT_STREQ(FirmwareExtension(DeviceRole::Bootloader1), ".vbf");
    EXPECT_STREQ(FirmwareExtension(DeviceRole::Bootloader2), ".vbf328p");
}

TEST(Identification, Utf8ConversionRoundTripsUmlautsAndSurrogates) {
    const std::u16string text = u"Grün Weiß \U0001F41F";
    EXPECT_EQ(ToUtf8(text), "Grün Weiß \xF0\x9F\x90\x9F");
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
    EXPECT_EQ(ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");  // a lone surrogate is replaced
}

// The udev rule gives seat access only to what the tool recognises: the shared USB IDs alone
// would cover every hobby device that uses them.
TEST(Identification, TheUdevRuleMatchesTheRecognisedStrings) {
    std::ifstream file(QUELVAN_UDEV_RULE);
    ASSERT_TRUE(file) << QUELVAN_UDEV_RULE;
    std::vector<std::string> rules;
    std::string line, rule;
    while (std::getline(file, line)) {
        if (rule.empty() && (line.empty() || line.front() == '#')) continue;
        const bool continued = !line.empty() && line.back() == '\\';
        rule += continued ? line.substr(0, line.size() - 1) : line;
        if (!continued) {
            rules.push_back(rule);
            rule.clear();
        }
    }
    ASSERT_FALSE(rules.empty());
    bool seatAccess = false;
    for (const std::string& text : rules) {
        // KEY{attribute}=="value" or KEY+="value", comma separated.
        std::map<std::string, std::string> matches;
        std::set<std::string> assignments;
        std::size_t at = 0;
        while ((at = text.find('"', at)) != std::string::npos) {
            const std::size_t separator = text.find_last_of(", ", at);
            const std::size_t keyStart = separator == std::string::npos ? 0 : separator + 1;
            const std::size_t end = text.find('"', at + 1);
            ASSERT_NE(end, std::string::npos) << text;
            const std::string key = text.substr(keyStart, at - keyStart);
            const std::string value = text.substr(at + 1, end - at - 1);
            if (key.size() > 2 && key.substr(key.size() - 2) == "==")
                matches[key.substr(0, key.size() - 2)] = value;
            else
                assignments.insert(key + value);
            at = end + 1;
        }
        SCOPED_TRACE(text);
        EXPECT_EQ(matches["SUBSYSTEM"], "hidraw");
        EXPECT_EQ(matches["ATTRS{idVendor}"], "16c0");
        EXPECT_EQ(matches["ATTRS{idProduct}"], "05df");
        EXPECT_EQ(matches["ATTRS{manufacturer}"], ToUtf8(kMakerManufacturer));
        EXPECT_EQ(matches["ATTRS{product}"],
                  ToUtf8(kBoardProduct) + "|" + ToUtf8(kBootloader1Product) + "|" + ToUtf8(kBootloader2Product));
        seatAccess = seatAccess || assignments.count("TAG+=uaccess") > 0;
    }
    EXPECT_TRUE(seatAccess);
    EXPECT_EQ(kBoardVendorId, 0x16C0u);
    EXPECT_EQ(kBoardProductId, 0x05DFu);
}

}  // namespace
// A device's own strings must not break the line or forge another one in a terminal or the
// message log; ordinary names, umlauts included, stay as they are.
TEST(Identification, DeviceLineEscapesWhatCouldForgeOrHideText) {
    const std::pair<std::string, std::string> cases[] = {
        {"Acme Corp", "\"Acme Corp\""},
        {"Wei\xc3\x9f", "\"Wei\xc3\x9f\""},
        {"A\x1b[2J", "\"A\\x1b[2J\""},
        {"bell\x07", "\"bell\\x07\""},
        {"x\nHID 9: 16C0:05DF", "\"x\\x0aHID 9: 16C0:05DF\""},
        {"cr\rdel\x7f", "\"cr\\x0ddel\\x7f\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"next\xc2\x85line", "\"next\\x85line\""},
        {"sep\xe2\x80\xa8", "\"sep\\u2028\""},
        {"\xe2\x80\xaereversed", "\"\\u202ereversed\""},
    };
    for (const auto& [raw, shown] : cases)
        EXPECT_EQ(DeviceLine(3, 0x16C0, 0x05DF, raw, "P", ""), "HID 3: 16C0:05DF " + shown + " \"P\" \"\"") << raw;
}

}  // namespace quelvan
