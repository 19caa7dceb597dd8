#include "files/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace quelvan::files {

namespace {

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The rename is durable only once the folder itself has reached the disk; a failure here
// no longer endangers the data, so it is not reported.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

ReplaceResult ReplaceFileContents(const std::string& requested, std::string_view text) {
    std::string path = requested;
    struct stat old {};
    bool exists = false;
    if (::lstat(path.c_str(), &old) == 0 && S_ISLNK(old.st_mode)) {
        char resolved[PATH_MAX];
        // A dangling link: the platform's writer would create its target.
        if (::realpath(path.c_str(), resolved)) path = resolved;
    }
    if (::stat(path.c_str(), &old) == 0) {
        if (S_ISDIR(old.st_mode)) return {false, EISDIR};
        exists = true;
    } else if (errno != ENOENT) {
        return {false, errno};
    }

    const std::string folder = FolderOf(path);
    const auto slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = folder + "/." + name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = ::mkstemp(buffer.data());
    if (fd < 0) return {false, errno};
    const std::string temporary(buffer.data());

    auto fail = [&](int error, bool open) {
        if (open) ::close(fd);
        ::unlink(temporary.c_str());
        return ReplaceResult{false, error};
    };
    if (!WriteAll(fd, text)) return fail(errno, true);
    if (::fchmod(fd, exists ? (old.st_mode & 07777) : NewFileMode()) != 0) return fail(errno, true);
    // Keep the owner where allowed (an administrator editing a user's file); otherwise the
    // file belongs to whoever wrote it, as with any other editor.
    if (exists) {
        [[maybe_unused]] const int kept = ::fchown(fd, old.st_uid, old.st_gid);
    }
    if (::fsync(fd) != 0) return fail(errno, true);
    if (::close(fd) != 0) return fail(errno, false);
    if (::rename(temporary.c_str(), path.c_str()) != 0) return fail(errno, false);
    SyncFolder(folder);
    return {};
}

bool ReadFileText(const std::string& path, std::string& text, int* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        if (error) *error = EISDIR;
        return false;
    }
    std::string result;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = errno;
            ::close(fd);
            return false;
        }
        result.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    text = std::move(result);
    return true;
}

}  // namespace quelvan::files
