#include "device/identification.h"

#include <gtest/gtest.h>

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
