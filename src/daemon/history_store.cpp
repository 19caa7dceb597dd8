#include "daemon/history_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/config_keys.h"
#include "files/file_access.h"
#include "files/ini_file.h"
#include "web/web_settings.h"

namespace quelvan::service {

namespace {

constexpr const char* kHeader = "; quelvand settings history, entry ";
constexpr std::size_t kMaxEntryBytes = 1u << 20;

// A serial number as a folder name: nothing that could leave the folder.
std::string SafeName(const std::string& serial) {
    std::string name;
    for (char c : serial) name += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    return name.empty() ? std::string("_") : name;
}

std::string EntryName(int id) {
    char name[32];
    std::snprintf(name, sizeof name, "%06d.ini", id);
    return name;
}

std::optional<int> IdOfName(const char* name) {
    const std::size_t n = std::strlen(name);
    if (n != 10 || std::strcmp(name + 6, ".ini") != 0) return std::nullopt;
    int id = 0;
    for (int i = 0; i < 6; ++i) {
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
        id = id * 10 + (name[i] - '0');
    }
    return id;
}

std::string HeaderValue(const std::string& text, const std::string& key) {
    const std::string mark = "; " + key + ": ";
    const std::size_t at = text.find(mark);
    if (at == std::string::npos) return {};
    const std::size_t start = at + mark.size(), end = text.find('\n', start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Writes `contents` as `path`: a fresh 0600 file beside it, synced, renamed over it.
int WriteAtomically(const std::string& folder, const std::string& path, const std::string& contents) {
    std::string temp = folder + "/.entry-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return errno;
    int error = ::fchmod(fd, 0600) == 0 ? 0 : errno;
    for (std::size_t done = 0; error == 0 && done < contents.size();) {
        const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            error = n < 0 ? errno : ENOSPC;
        else
            done += static_cast<std::size_t>(n);
    }
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) ::unlink(temp.c_str());
    return error;
}

int MakeFolder(const std::string& path) {
    for (std::size_t slash = 1; slash != std::string::npos;) {
        slash = path.find('/', slash + 1);
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

}  // namespace

std::string HistoryText(const HistoryRecord& record) {
    return files::UpdateSettingsText("", record.config, record.table).text;
}

HistoryRecord RecordOfText(const std::string& text) {
    HistoryRecord record;
    files::ReadConfiguration(text, record.config);
    std::size_t rows = 0;
    while (text.find("\n[" + std::to_string(rows) + "]") != std::string::npos) ++rows;
    record.table.resize(rows);
    files::ReadTable(text, record.table);
    return record;
}

std::string BodyOfText(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && text.compare(at, 2, "; ") == 0) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos) return {};
        at = end + 1;
    }
    return text.substr(at);
}

std::vector<std::string> HistoryDifferences(const HistoryRecord& before, const HistoryRecord& after) {
    std::vector<std::string> changed;
    for (const quelvan::ConfigKey& key : ConfigKeys())
        if (ReadConfigKey(before.config, key) != ReadConfigKey(after.config, key)) changed.push_back(key.name);
    const std::size_t rows = std::max(before.table.size(), after.table.size());
    for (std::size_t row = 0; row < rows; ++row) {
        const bool same =
            row < before.table.size() && row < after.table.size() && before.table[row] == after.table[row];
        if (!same) changed.push_back("row " + std::to_string(row));
    }
    return changed;
}

HistoryStore::HistoryStore(std::string folder, std::size_t kept) : folder_(std::move(folder)), kept_(kept) {}

std::string HistoryStore::BoardFolder(const std::string& serial) const {
    return folder_ + "/" + SafeName(serial);
}

std::vector<int> HistoryStore::Ids(const std::string& serial) const {
    std::vector<int> ids;
    DIR* dir = ::opendir(BoardFolder(serial).c_str());
    if (!dir) return ids;
    while (const dirent* e = ::readdir(dir))
        if (const std::optional<int> id = IdOfName(e->d_name)) ids.push_back(*id);
    ::closedir(dir);
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::optional<int> HistoryStore::Add(const std::string& serial, const HistoryEntry& entry, const std::string& text,
                                     std::string* error) {
    const std::string folder = BoardFolder(serial);
    if (const int failure = MakeFolder(folder); failure != 0) {
        if (error) *error = "cannot make the folder " + folder + ": " + std::strerror(failure);
        return std::nullopt;
    }
    const std::vector<int> ids = Ids(serial);
    const int id = ids.empty() ? 1 : ids.back() + 1;
    std::string changed;
    for (const std::string& c : entry.changed) changed += (changed.empty() ? "" : ", ") + c;
    const std::string contents = std::string(kHeader) + std::to_string(id) + " of board " + serial +
                                 "\n; time: " + entry.time + "\n; by: " + entry.by + "\n; changed: " + changed + "\n" +
                                 text;
    const std::string path = folder + "/" + EntryName(id);
    if (const int failure = WriteAtomically(folder, path, contents); failure != 0) {
        if (error) *error = "cannot write " + path + ": " + std::strerror(failure);
        return std::nullopt;
    }
    // The oldest go only once the new one is safely there.
    for (std::size_t i = 0; i + kept_ < ids.size() + 1; ++i) ::unlink((folder + "/" + EntryName(ids[i])).c_str());
    return id;
}

std::vector<HistoryEntry> HistoryStore::List(const std::string& serial) const {
    std::vector<HistoryEntry> list;
    for (int id : Ids(serial)) {
        const std::optional<std::string> text = Text(serial, id);
        if (!text) continue;
        HistoryEntry e;
        e.id = id;
        e.time = HeaderValue(*text, "time");
        e.by = HeaderValue(*text, "by");
        const std::string changed = HeaderValue(*text, "changed");
        for (std::size_t start = 0; start < changed.size();) {
            const std::size_t comma = changed.find(", ", start);
            e.changed.push_back(changed.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            start = comma == std::string::npos ? changed.size() : comma + 2;
        }
        list.push_back(std::move(e));
    }
    return list;
}

std::optional<std::string> HistoryStore::Text(const std::string& serial, int id) const {
    std::string text;
    if (files::ReadRegularFile(BoardFolder(serial) + "/" + EntryName(id), kMaxEntryBytes, text) != 0)
        return std::nullopt;
    return text;
}

std::vector<std::string> HistoryStore::Boards() const {
    std::vector<std::string> boards;
    DIR* dir = ::opendir(folder_.c_str());
    if (!dir) return boards;
    while (const dirent* e = ::readdir(dir))
        if (e->d_name[0] != '.') boards.emplace_back(e->d_name);
    ::closedir(dir);
    std::sort(boards.begin(), boards.end());
    return boards;
}

std::string DefaultHistoryFolder() {
    std::string token = DefaultWebTokenPath();
    return token.substr(0, token.rfind('/')) + "/history";
}

}  // namespace quelvan::service
