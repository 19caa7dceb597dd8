#pragma once
// Files that a user names (settings files, firmware files, pictures): only regular files are
// read or written, reads are bounded and never wait, and a file that is replaced keeps what
// its user relies on (a symbolic link stays a link, hard links stay linked, the owner and the
// permissions stay, a read-only file is not written).

#include <sys/stat.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quelvan::files {

// What a settings or firmware file may hold at most; nothing real comes near it.
constexpr std::size_t kMaxReadBytes = 16u << 20;

// Failures that have no errno of their own (errno values are positive).
constexpr int kNotRegularFile = -1;  // a device, FIFO or socket
constexpr int kFileChanged = -2;     // another program changed the file while it was being written
// Too large to read: EFBIG. A file the user may not write: EACCES (also for root on a file
// without any write permission, as an editor would treat it).

// The reason for an error code, in English ("No such file or directory", "not a regular file ...").
// EFBIG names `limit`, the limit the file was read with ("larger than 4 KiB").
std::string FileErrorText(int error, std::size_t limit = kMaxReadBytes);
// A size in the largest binary unit that divides it: "4 KiB", "1 MiB", "100 bytes".
std::string SizeText(std::size_t bytes);

// What a file looked like when it was read, to notice a change before it is replaced.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool operator==(const FileStamp& other) const;
};

// Reads a whole regular file of at most `limit` bytes. A device, FIFO or socket is refused
// before it is opened (and checked again on the open descriptor), so nothing blocks and
// nothing is read without end. Returns 0 or the error code; `stamp` receives the file's
// state when given.
int ReadRegularFile(const std::string& path, std::size_t limit, std::string& contents, FileStamp* stamp = nullptr);

// Where and how a named file is written.
struct WriteTarget {
    std::string path;      // the name given, or the final target of a symbolic link
    bool exists = false;   // false: a new file is created under `path`
    bool inPlace = false;  // overwrite the file itself (several hard links, a folder that may
                           // not be written, an owner that a new file could not keep)
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
};

// Checks a name before anything else happens: an existing regular file that the user may
// write (followed through symbolic links, a dangling one naming the file to create), or a
// new name in an existing folder that the user may write. Returns 0 or the error code.
int PrepareWriteTarget(const std::string& path, WriteTarget& target);

// Replaces the contents of a prepared target. A new file or one in a writable folder gets a
// temporary file beside it that reaches the disk and is renamed over it, so an interrupted
// write leaves the old file; otherwise the file is overwritten in place after its new size
// has been reserved, and synced. With `expected`, nothing is written when the file no longer
// looks as it did when it was read (kFileChanged). Returns 0 or the error code.
int WriteFileContents(const WriteTarget& target, std::string_view contents,
                      const std::optional<FileStamp>& expected = std::nullopt);

}  // namespace quelvan::files
