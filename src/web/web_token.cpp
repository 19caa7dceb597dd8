#include "web/web_token.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QRandomGenerator>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace quelvan::service {

namespace {

std::string Reason() {
    return std::strerror(errno);
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

bool Usable(const std::string& token) {
    if (token.size() < kMinWebTokenLength) return false;
    for (const char c : token)
        if (c <= ' ' || c > '~') return false;
    return true;
}

WebTokenOutcome ReadToken(int fd, const std::string& path) {
    WebTokenOutcome outcome;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        outcome.error = "cannot read the token file " + path + ": " + Reason();
        return outcome;
    }
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        outcome.error = "the token file " + path + " is not a regular file of the service's user";
        return outcome;
    }
    if ((info.st_mode & 077) != 0) {
        outcome.error = "other users may read the token file " + path + ": chmod 600 " + path;
        return outcome;
    }
    std::array<char, 1024> buffer{};
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    const std::string token = got > 0 ? Trimmed(std::string(buffer.data(), static_cast<std::size_t>(got))) : "";
    if (!Usable(token)) {
        outcome.error = "the token file " + path + " holds no token of " + std::to_string(kMinWebTokenLength) +
                        " or more printable characters";
        return outcome;
    }
    outcome.token = token;
    return outcome;
}

WebTokenOutcome CreateToken(const std::string& path) {
    WebTokenOutcome outcome;
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty() && !std::filesystem::exists(folder, error)) {
        std::filesystem::create_directories(folder, error);
        if (error || ::chmod(folder.c_str(), 0700) != 0) {
            outcome.error = "cannot make the folder " + folder.string() +
                            " for the token file: " + (error ? error.message() : Reason());
            return outcome;
        }
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        outcome.error = "cannot make the token file " + path + ": " + Reason();
        return outcome;
    }
    const std::string token = NewWebToken();
    const std::string text = token + "\n";
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (!written) {
        outcome.error = "cannot write the token file " + path + ": " + Reason();
        ::unlink(path.c_str());
        return outcome;
    }
    outcome.token = token;
    outcome.created = true;
    return outcome;
}

}  // namespace

WebTokenOutcome LoadOrCreateWebToken(const std::string& path) {
    // Twice: another process may make the file between our look and our making it.
    for (int attempt = 0;; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            WebTokenOutcome outcome = ReadToken(fd, path);
            ::close(fd);
            return outcome;
        }
        if (errno != ENOENT) return {{}, "cannot read the token file " + path + ": " + Reason(), false};
        WebTokenOutcome created = CreateToken(path);
        if (!created.token.empty() || errno != EEXIST || attempt > 0) return created;
    }
}

std::string NewWebToken() {
    constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz234567";
    std::string token;
    for (int i = 0; i < 32; ++i) token += kAlphabet[QRandomGenerator::system()->bounded(32)];
    return token;
}

bool WebTokensEqual(std::string_view expected, std::string_view given) {
    // Every byte of `expected` is looked at, whatever `given` is; the length is one more difference.
    unsigned difference = expected.size() == given.size() ? 0 : 1;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const unsigned char other = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        difference |= static_cast<unsigned char>(expected[i]) ^ other;
    }
    return difference == 0;
}

}  // namespace quelvan::service
