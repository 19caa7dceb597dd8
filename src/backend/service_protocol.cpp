#include "backend/service_protocol.h"

#include <cstdlib>

namespace quelvan::wire {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Getenv(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

}  // namespace

std::string ToHex(const std::uint8_t* bytes, std::size_t length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(2 * length, '0');
    for (std::size_t i = 0; i < length; ++i) {
        text[2 * i] = kDigits[bytes[i] >> 4];
        text[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> FromHex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return bytes;
}

void LineSplitter::Feed(const char* data, std::size_t size) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != '\n') continue;
        const std::size_t piece = i - start;
        if (skipping_) {
            skipping_ = false;
        } else if (partial_.size() + piece > limit_) {
            ready_.push_back({{}, true});
        } else {
            partial_.append(data + start, piece);
            ready_.push_back({std::move(partial_), false});
        }
        partial_.clear();
        start = i + 1;
    }
    if (skipping_ || start == size) return;
    const std::size_t rest = size - start;
    if (partial_.size() + rest > limit_) {
        // Reported now, so that a peer that never ends its line still gets an answer.
        ready_.push_back({{}, true});
        partial_.clear();
        skipping_ = true;
        return;
    }
    partial_.append(data + start, rest);
}

std::optional<LineSplitter::Line> LineSplitter::Next() {
    if (ready_.empty()) return std::nullopt;
    Line line = std::move(ready_.front());
    ready_.pop_front();
    return line;
}

std::vector<std::string> ClientSocketPaths() {
    if (const std::string explicitPath = Getenv("QUELVAN_SOCKET"); !explicitPath.empty()) return {explicitPath};
    std::vector<std::string> paths;
    if (const std::string runtime = Getenv("XDG_RUNTIME_DIR"); !runtime.empty())
        paths.push_back(runtime + "/quelvan/quelvand.sock");
    paths.emplace_back(kSystemSocketPath);
    return paths;
}

std::string DefaultServiceSocketPath() {
    if (const std::string runtime = Getenv("XDG_RUNTIME_DIR"); !runtime.empty())
        return runtime + "/quelvan/quelvand.sock";
    return std::string(kSystemSocketPath);
}

}  // namespace quelvan::wire
