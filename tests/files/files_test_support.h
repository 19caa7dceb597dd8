#pragma once
// Scratch folders, whole-file helpers and firmware files built byte by byte for the tests
// of the files layer.

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quelvan::files::testing {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quelvan-files-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& Path() const { return path_; }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename());
        return names;
    }

private:
    std::filesystem::path path_;
};

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline unsigned Mode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Image byte at an address of the test files: a pattern that differs between neighbours.
inline std::uint8_t PatternByte(std::int64_t address) {
    return static_cast<std::uint8_t>(address * 7 + 3);
}

// A firmware file: header, the image bytes for start..end (none when end < start), and the
// checksum (the correct one unless given).
inline std::vector<std::uint8_t> FirmwareBytes(std::int32_t start, std::int32_t end,
                                               std::optional<std::uint32_t> checksum = std::nullopt) {
    std::vector<std::uint8_t> bytes;
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put32(static_cast<std::uint32_t>(start));
    put32(static_cast<std::uint32_t>(end));
    std::uint32_t sum = static_cast<std::uint32_t>(start) + static_cast<std::uint32_t>(end);
    for (std::int64_t a = start; a <= end; ++a) {
        bytes.push_back(PatternByte(a));
        sum += PatternByte(a);
    }
    put32(checksum.value_or(sum));
    return bytes;
}

}  // namespace quelvan::files::testing
