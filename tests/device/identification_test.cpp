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
}  // namespace quelvan
