#include "files/file_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace quelvan::files {

namespace {

constexpr int kMaxLinkHops = 40;

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

FileStamp StampOf(const struct stat& st) {
    return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

int KindError(const struct stat& st) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return kNotRegularFile;
    return 0;
}

bool MayWrite(const std::string& path, int mode) {
    return ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0;
}

mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool WriteAll(int fd, std::string_view text, off_t offset) {
    while (!text.empty()) {
        const ssize_t n = ::pwrite(fd, text.data(), text.size(), offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
        offset += n;
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

// The file as it was read, or nothing to compare with.
bool Unchanged(const struct stat& now, const std::optional<FileStamp>& expected) {
    return !expected || StampOf(now) == *expected;
}

// Overwrites the file itself. Its new size is reserved first, so that a full disk stops
// the write before any old byte is lost.
int WriteInPlace(const WriteTarget& target, std::string_view contents, const std::optional<FileStamp>& expected) {
    const int fd = ::open(target.path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    auto fail = [fd](int error) {
        ::close(fd);
        return error;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(errno);
    if (const int kind = KindError(st)) return fail(kind);
    if (!Unchanged(st, expected)) return fail(kFileChanged);
    const auto size = static_cast<off_t>(contents.size());
    if (size > st.st_size) {
        const int reserved = ::posix_fallocate(fd, 0, size);
        if (reserved != 0) {
            // A file system that cannot reserve space at all is written without it.
            if (reserved != EOPNOTSUPP && reserved != EINVAL) {
                [[maybe_unused]] const int restored = ::ftruncate(fd, st.st_size);
                return fail(reserved);
            }
        }
    }
    if (!WriteAll(fd, contents, 0)) return fail(errno);
    if (::ftruncate(fd, size) != 0) return fail(errno);
    if (::fsync(fd) != 0) return fail(errno);
    if (::close(fd) != 0) return errno;
    return 0;
}

// A temporary file beside the target, renamed over it once it is on the disk. Writes
// nothing and sets `ownerLost` when the old file's owner or group cannot be given to the
// new one: such a file is written in place instead.
int WriteByRename(const WriteTarget& target, std::string_view contents, const std::optional<FileStamp>& expected,
                  bool& ownerLost) {
    ownerLost = false;
    const std::string folder = FolderOf(target.path);
    std::string pattern = folder + "/." + NameOf(target.path) + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    const std::string temporary(buffer.data());
    auto fail = [&](int error, bool open) {
        if (open) ::close(fd);
        ::unlink(temporary.c_str());
        return error;
    };
    struct stat made {};
    if (::fstat(fd, &made) != 0) return fail(errno, true);
    if (target.exists && (made.st_uid != target.owner || made.st_gid != target.group) &&
        ::fchown(fd, target.owner, target.group) != 0) {
        ownerLost = true;
        return fail(0, true);
    }
    if (::fchmod(fd, target.exists ? (target.mode & 07777) : NewFileMode()) != 0) return fail(errno, true);
    if (!WriteAll(fd, contents, 0)) return fail(errno, true);
    if (::fsync(fd) != 0) return fail(errno, true);
    if (::close(fd) != 0) return fail(errno, false);

    struct stat now {};
    if (target.exists) {
        if (::stat(target.path.c_str(), &now) != 0) return fail(errno, false);
        if (!Unchanged(now, expected)) return fail(kFileChanged, false);
    } else if (::lstat(target.path.c_str(), &now) == 0) {
        return fail(kFileChanged, false);  // created meanwhile: not ours to replace
    }
    if (::rename(temporary.c_str(), target.path.c_str()) != 0) return fail(errno, false);
    SyncFolder(folder);
    return 0;
}

}  // namespace

bool FileStamp::operator==(const FileStamp& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

std::string SizeText(std::size_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= (1u << 10) && bytes % (1u << 10) == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

std::string FileErrorText(int error, std::size_t limit) {
    switch (error) {
        case kNotRegularFile:
            return "not a regular file (a device, pipe or socket is neither read nor replaced)";
        case kFileChanged:
            return "another program changed the file meanwhile; it was left as that program wrote it";
        case EFBIG:
            return "larger than " + SizeText(limit);
        case EISDIR:
            return "is a folder";
        default:
            return std::strerror(error);
    }
}

int ReadRegularFile(const std::string& path, std::size_t limit, std::string& contents, FileStamp* stamp) {
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) return errno;
    if (const int kind = KindError(before)) return kind;
    // Checked again on the descriptor: the name may have been swapped in between.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    auto fail = [fd](int error) {
        ::close(fd);
        return error;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(errno);
    if (const int kind = KindError(st)) return fail(kind);
    if (static_cast<std::size_t>(st.st_size) > limit) return fail(EFBIG);
    std::string result;
    result.reserve(static_cast<std::size_t>(st.st_size));
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(errno);
        if (n == 0) break;
        // A file that grows while it is read is still bounded.
        if (result.size() + static_cast<std::size_t>(n) > limit) return fail(EFBIG);
        result.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    contents = std::move(result);
    if (stamp) *stamp = StampOf(st);
    return 0;
}

int PrepareWriteTarget(const std::string& requested, WriteTarget& target) {
    std::string path = requested;
    if (path.empty()) return ENOENT;
    struct stat st {};
    // What the name leads to decides first: a name like /dev/stdout or /proc/self/fd/1 is a
    // link whose text is no path, yet the system follows it to a pipe or a terminal.
    if (::stat(path.c_str(), &st) == 0) {
        if (const int kind = KindError(st)) return kind;
    }
    // A symbolic link stays; its final target is what is written (a dangling link names
    // the file to create).
    for (int hop = 0;; ++hop) {
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) return errno;
            target = WriteTarget{path, false, false, 0, 0, 0};
            const std::string folder = FolderOf(path);
            struct stat dir {};
            if (::stat(folder.c_str(), &dir) != 0) return errno;
            if (!S_ISDIR(dir.st_mode)) return ENOTDIR;
            if (!MayWrite(folder, W_OK | X_OK)) return errno;
            return 0;
        }
        if (!S_ISLNK(st.st_mode)) break;
        if (hop == kMaxLinkHops) return ELOOP;
        std::vector<char> link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4095) + 1);
        const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
        if (length < 0) return errno;
        if (static_cast<std::size_t>(length) >= link.size()) return ENAMETOOLONG;
        const std::string to(link.data(), static_cast<std::size_t>(length));
        path = to.front() == '/' ? to : FolderOf(path) + "/" + to;
    }
    if (const int kind = KindError(st)) return kind;
    if (!MayWrite(path, W_OK)) return errno;
    // Even where the system would allow it (root), a file without any write permission is
    // meant to stay as it is.
    if ((st.st_mode & 0222) == 0) return EACCES;
    target.path = path;
    target.exists = true;
    target.mode = st.st_mode;
    target.owner = st.st_uid;
    target.group = st.st_gid;
    const bool foreignOwner = st.st_uid != ::geteuid() && ::geteuid() != 0;
    target.inPlace = st.st_nlink > 1 || foreignOwner || !MayWrite(FolderOf(path), W_OK | X_OK);
    return 0;
}

int WriteFileContents(const WriteTarget& target, std::string_view contents, const std::optional<FileStamp>& expected) {
    if (target.exists && target.inPlace) return WriteInPlace(target, contents, expected);
    bool ownerLost = false;
    const int error = WriteByRename(target, contents, expected, ownerLost);
    if (ownerLost) return WriteInPlace(target, contents, expected);
    return error;
}

}  // namespace quelvan::files
