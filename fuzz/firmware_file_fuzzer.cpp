// Any bytes as a firmware file: the reader accepts only what its checks allow, writes only
// inside the file's range of the image, and reports every refusal once.

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "files/firmware_file.h"
#include "fuzz_check.h"

using quelvan::files::FlashImage;
using quelvan::files::kFlashImageSize;

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An allocation of its own, so that a write past its end is caught.
    const auto image = std::make_unique<FlashImage>();
    image->fill(0xAA);
    std::int32_t start = 0, end = 0;
    std::vector<std::string> messages;
    const bool ok = quelvan::files::ReadFirmwareData(std::span<const std::uint8_t>(data, size), *image, start, end,
                                                     [&](const std::string& m) { messages.push_back(m); });
    if (!ok) {
        FUZZ_CHECK(messages.size() == 1);
        return 0;
    }
    FUZZ_CHECK(messages.empty());
    FUZZ_CHECK(size >= 12);
    FUZZ_CHECK(static_cast<std::int32_t>(Le32(data)) == start);
    FUZZ_CHECK(static_cast<std::int32_t>(Le32(data + 4)) == end);
    FUZZ_CHECK(0 <= start && start < end && end < static_cast<std::int32_t>(kFlashImageSize));
    const auto n = static_cast<std::size_t>(end - start) + 1;
    FUZZ_CHECK(size >= 8 + n + 4);
    std::uint32_t sum = Le32(data) + Le32(data + 4);
    for (std::size_t i = 0; i < n; ++i) sum += data[8 + i];
    FUZZ_CHECK(sum == Le32(data + 8 + n));
    for (std::size_t a = 0; a < kFlashImageSize; ++a) {
        const bool inside = a >= static_cast<std::size_t>(start) && a <= static_cast<std::size_t>(end);
        FUZZ_CHECK((*image)[a] == (inside ? data[8 + a - static_cast<std::size_t>(start)] : 0xAA));
    }
    return 0;
}
