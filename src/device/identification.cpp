#include "device/identification.h"

#include <cstdio>

namespace quelvan {

DeviceRole IdentifyDevice(std::u16string_view manufacturer, std::u16string_view product) {
    if (manufacturer != kMakerManufacturer) return DeviceRole::Other;
    if (product == kBoardProduct) return DeviceRole::Board;
    if (product == kBootloader1Product) return DeviceRole::Bootloader1;
    if (product == kBootloader2Product) return DeviceRole::Bootloader2;
    return DeviceRole::Other;
}

const char* RoleName(DeviceRole role) {
    switch (role) {
        case DeviceRole::Board:
            return "board";
        case DeviceRole::Bootloader1:
            return "bootloader 1";
        case DeviceRole::Bootloader2:
            return "bootloader 2";
        case DeviceRole::Other:
            break;
    }
    return "other";
}

const char* FirmwareExtension(DeviceRole role) {
    switch (role) {
        case DeviceRole::Bootloader1:
            return ".vbf";
        case DeviceRole::Bootloader2:
            return ".vbf328p";
        default:
            return "";
    }
}

std::string HexId(unsigned id) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04X", id);
    return buffer;
}

namespace {

// Characters a device could use to move the cursor, start a new line, or reorder what is
// shown, and so forge lines in a terminal or the message log.
bool Unprintable(char32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

}  // namespace

// Unprintable characters as \xHH (below 0x100) or \uHHHH, everything else as it is.
std::string QuotedDeviceString(std::string_view utf8) {
    const std::u16string text = FromUtf8(utf8);
    std::string out = "\"";
    std::size_t plainFrom = 0;
    auto flushPlain = [&](std::size_t upTo) {
        if (upTo > plainFrom) out += ToUtf8(std::u16string_view(text).substr(plainFrom, upTo - plainFrom));
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        char escape[8] = {};
        if (c == u'\\' || c == u'"') {
            escape[0] = '\\';
            escape[1] = static_cast<char>(c);
        } else if (Unprintable(c)) {
            std::snprintf(escape, sizeof escape, c < 0x100 ? "\\x%02x" : "\\u%04x", static_cast<unsigned>(c));
        } else {
            continue;
        }
        flushPlain(i);
        out += escape;
        plainFrom = i + 1;
    }
    flushPlain(text.size());
    out += '"';
    return out;
}

std::string DeviceLine(int index, unsigned vendorId, unsigned productId, std::string_view manufacturer,
                       std::string_view product, std::string_view serial) {
    std::string line = "HID " + std::to_string(index) + ": " + HexId(vendorId) + ':' + HexId(productId);
    for (std::string_view text : {manufacturer, product, serial}) {
        line += ' ';
        line += QuotedDeviceString(text);
    }
    return line;
}

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // lone surrogate
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string FromUtf8(std::string_view text) {
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        char32_t c = 0xFFFD;
        std::size_t extra = 0;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            extra = 3;
        }
        ++i;
        for (std::size_t k = 0; k < extra; ++k, ++i) {
            if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
                c = 0xFFFD;
                break;
            }
            c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

}  // namespace quelvan
