#pragma once
// Which role a HID device plays, from its manufacturer and product strings alone.

#include <string>
#include <string_view>

namespace quelvan {

// The manufacturer string that the board and its bootloader report (15 characters).
inline constexpr std::u16string_view kMakerManufacturer = u"www.dravik.info";
inline constexpr std::u16string_view kBoardProduct = u"Quelvan2";
inline constexpr std::u16string_view kBootloader1Product = u"1";
inline constexpr std::u16string_view kBootloader2Product = u"2";
static_assert(kMakerManufacturer.size() == 15);

// USB IDs the board and its bootloader use (shared by the simulator and the udev rule).
inline constexpr unsigned kBoardVendorId = 0x16C0;
inline constexpr unsigned kBoardProductId = 0x05DF;

// The application firmware version this tool speaks to.
inline constexpr int kSupportedFirmwareVersion = 4;

enum class DeviceRole { Other, Board, Bootloader1, Bootloader2 };

// Exact, case-sensitive comparison of the whole strings.
DeviceRole IdentifyDevice(std::u16string_view manufacturer, std::u16string_view product);

// What a user reads for each role: "board", "bootloader 1", "bootloader 2", "other".
const char* RoleName(DeviceRole role);

// File extension offered for a bootloader variant (".vbf" / ".vbf328p"); empty otherwise.
const char* FirmwareExtension(DeviceRole role);

// A USB ID as four upper-case hexadecimal digits ("0ABC").
std::string HexId(unsigned id);

// A device string between double quotes, as every line that shows one prints it: backslash
// and quote escaped, control, line-separator and direction characters shown as \x1b or
// \u202e, so that a device cannot break the line, forge another one or move the cursor.
std::string QuotedDeviceString(std::string_view utf8);

// How a listed device is shown: HID 2: 0ABC:0012 "manufacturer" "product" "serial"
// (the strings in UTF-8, each as QuotedDeviceString shows it).
std::string DeviceLine(int index, unsigned vendorId, unsigned productId, std::string_view manufacturer,
                       std::string_view product, std::string_view serial);

// UTF-16 device strings to UTF-8 for logs and terminals.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

}  // namespace quelvan
