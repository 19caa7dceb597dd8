// What a user may name as a settings or firmware file: every kind of file, exported into,
// imported from and read as firmware. Only regular files are read or replaced, nothing
// blocks, a link stays a link, hard links stay linked, a read-only file and anything that is
// not a text INI file stay byte for byte as they were.

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "files/file_access.h"
#include "files/firmware_file.h"
#include "files/ini_file.h"
#include "files_test_support.h"

namespace quelvan::files::testing {
namespace {

constexpr const char* kOldText = "; mine\n[Other]\nA=1\n[Config]\nFanLow=3\n";

struct Kind {
    const char* name;
    // Makes the file in `dir` and returns the name to give.
    std::function<std::string(const TempDir& dir)> make;
    bool exportOk;
    const char* exportMessage;  // part of the German message when refused
    const char* importMessage;  // part of the German message, empty when the import reads it
    const char* firmwareMessage;
    // After the export (done or refused): is everything as expected?
    std::function<void(const TempDir& dir, const std::string& name)> check;
};

std::string Written(const TempDir& dir, const std::string& name, const std::string& text) {
    WriteText(dir.File(name), text);
    return dir.File(name);
}

void Unchanged(const std::string& path, const std::string& text) {
    EXPECT_EQ(ReadText(path), text);
}

void Exported(const std::string& path) {
    const std::string text = ReadText(path);
    EXPECT_EQ(text.rfind("; mine\n[Other]\nA=1\n[Config]\nFanLow=10\n", 0), 0u) << text;
    EXPECT_NE(text.find("\n[0]\nHour=6\n"), std::string::npos) << text;
}

TEST(FileKinds, ExportImportAndFirmwareOnEveryKindOfFile) {
    DeviceConfig config;
    config.FanLow = 10;
    const std::vector<ScheduleEntry> table = {ScheduleEntry{6, 0, {}}};
    const bool root = ::geteuid() == 0;
    std::string binary(65536, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 31 % 251);
    // Read for an import (its settings are welcome), but not written over.
    std::string wide = "\xFF\xFE";
    for (const char c : std::string("[Config]\r\nFanLow=7\r\n[0]\r\nHour=5\r\n")) wide += {c, '\0'};

    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const std::string pipeName = "/proc/self/fd/" + std::to_string(pipeEnds[1]);

    std::vector<Kind> kinds = {
        {"a new name", [](const TempDir& d) { return d.File("new.ini"); }, true, "", "nicht gefunden", "nicht gefunden",
         [](const TempDir& d, const std::string& p) {
             EXPECT_EQ(ReadText(p).rfind("[Config]\nMode=0\n", 0), 0u);
             EXPECT_EQ(d.Names(), std::vector<std::string>{"new.ini"}) << "no temporary file is left";
         }},
        {"a regular text file", [](const TempDir& d) { return Written(d, "a.ini", kOldText); }, true, "", "",
         "Checksummenfehler", [](const TempDir&, const std::string& p) { Exported(p); }},
        {"a symbolic link",
         [](const TempDir& d) {
             Written(d, "target.ini", kOldText);
             ::symlink("target.ini", d.File("link.ini").c_str());
             return d.File("link.ini");
         },
         true, "", "", "Checksummenfehler",
         [](const TempDir& d, const std::string& p) {
             EXPECT_TRUE(std::filesystem::is_symlink(p));
             Exported(d.File("target.ini"));
         }},
        {"a dangling symbolic link",
         [](const TempDir& d) {
             ::symlink("made.ini", d.File("dangling.ini").c_str());
             return d.File("dangling.ini");
         },
         true, "", "nicht gefunden", "nicht gefunden",
         [](const TempDir& d, const std::string& p) {
             EXPECT_TRUE(std::filesystem::is_symlink(p)) << "the link stays";
             EXPECT_EQ(ReadText(d.File("made.ini")).rfind("[Config]\n", 0), 0u) << "its target is made";
         }},
        {"one of two hard links",
         [](const TempDir& d) {
             Written(d, "first.ini", kOldText);
             ::link(d.File("first.ini").c_str(), d.File("second.ini").c_str());
             return d.File("second.ini");
         },
         true, "", "", "Checksummenfehler",
         [](const TempDir& d, const std::string&) {
             EXPECT_TRUE(std::filesystem::equivalent(d.File("first.ini"), d.File("second.ini"))) << "still one file";
             Exported(d.File("first.ini"));
         }},
        {"a read-only file",
         [](const TempDir& d) {
             const std::string p = Written(d, "ro.ini", kOldText);
             ::chmod(p.c_str(), 0444);
             return p;
         },
         false, "konnte nicht geschrieben werden", "", "Checksummenfehler",
         [](const TempDir&, const std::string& p) {
             Unchanged(p, kOldText);
             EXPECT_EQ(Mode(p), 0444u);
         }},
        {"a folder",
         [](const TempDir& d) {
             std::filesystem::create_directory(d.File("folder.ini"));
             return d.File("folder.ini");
         },
         false, "konnte nicht geschrieben werden", "konnte nicht gelesen werden", "FEHLER beim Einlesen",
         [](const TempDir&, const std::string& p) { EXPECT_TRUE(std::filesystem::is_directory(p)); }},
        {"a FIFO",
         [](const TempDir& d) {
             ::mkfifo(d.File("fifo.ini").c_str(), 0600);
             return d.File("fifo.ini");
         },
         false, "konnte nicht geschrieben werden", "konnte nicht gelesen werden", "FEHLER beim Einlesen",
         [](const TempDir&, const std::string& p) { EXPECT_TRUE(std::filesystem::is_fifo(p)); }},
        // What "export /dev/stdout | cat" names: a link whose text is no path, to a pipe.
        {"a pipe by its name in /proc", [&pipeName](const TempDir&) { return pipeName; }, false,
         "konnte nicht geschrieben werden", "konnte nicht gelesen werden", "FEHLER beim Einlesen",
         [](const TempDir&, const std::string& p) { EXPECT_TRUE(std::filesystem::is_fifo(p)); }},
        {"a device", [](const TempDir&) { return std::string("/dev/null"); }, false, "konnte nicht geschrieben werden",
         "konnte nicht gelesen werden", "FEHLER beim Einlesen",
         [](const TempDir&, const std::string& p) { EXPECT_TRUE(std::filesystem::is_character_file(p)); }},
        {"an endless device", [](const TempDir&) { return std::string("/dev/zero"); }, false,
         "konnte nicht geschrieben werden", "konnte nicht gelesen werden", "FEHLER beim Einlesen",
         [](const TempDir&, const std::string& p) { EXPECT_TRUE(std::filesystem::is_character_file(p)); }},
        {"a binary file", [&binary](const TempDir& d) { return Written(d, "data.bin", binary); }, false,
         "keine INI-Textdatei", "Keine Einstellungen", "Checksummenfehler",
         [&binary](const TempDir&, const std::string& p) { Unchanged(p, binary); }},
        {"a text that is not INI",
         [](const TempDir& d) { return Written(d, "README", "Quelvan\n\nSettings go here.\n"); }, false,
         "keine INI-Textdatei", "Keine Einstellungen", "Checksummenfehler",
         [](const TempDir&, const std::string& p) { Unchanged(p, "Quelvan\n\nSettings go here.\n"); }},
        {"UTF-16 with a byte-order mark", [&wide](const TempDir& d) { return Written(d, "wide.ini", wide); }, false,
         "keine INI-Textdatei", "", "FEHLER", [&wide](const TempDir&, const std::string& p) { Unchanged(p, wide); }},
        {"a file too large to read",
         [](const TempDir& d) {
             const std::string p = Written(d, "huge.ini", "[Config]\n");
             EXPECT_EQ(::truncate(p.c_str(), static_cast<off_t>(kMaxReadBytes) + 1), 0);
             return p;
         },
         false, "konnte nicht gelesen werden", "konnte nicht gelesen werden", "FEHLER beim Einlesen",
         [](const TempDir&, const std::string& p) { EXPECT_EQ(std::filesystem::file_size(p), kMaxReadBytes + 1); }},
    };
    // Root may write anywhere; an ordinary user meets a folder it may not write, and root a
    // file of another owner.
    if (!root) {
        kinds.push_back({"a writable file in a folder that may not be written",
                         [](const TempDir& d) {
                             std::filesystem::create_directory(d.File("locked"));
                             WriteText(d.File("locked/a.ini"), kOldText);
                             ::chmod(d.File("locked").c_str(), 0555);
                             return d.File("locked/a.ini");
                         },
                         true, "", "", "Checksummenfehler",
                         [](const TempDir& d, const std::string& p) {
                             Exported(p);
                             ::chmod(d.File("locked").c_str(), 0755);
                         }});
    } else {
        kinds.push_back({"another user's file",
                         [](const TempDir& d) {
                             const std::string p = Written(d, "theirs.ini", kOldText);
                             EXPECT_EQ(::chown(p.c_str(), 65534, 65534), 0);
                             ::chmod(p.c_str(), 0640);
                             return p;
                         },
                         true, "", "", "Checksummenfehler",
                         [](const TempDir&, const std::string& p) {
                             Exported(p);
                             struct stat st {};
                             ::stat(p.c_str(), &st);
                             EXPECT_EQ(st.st_uid, 65534u);
                             EXPECT_EQ(st.st_gid, 65534u);
                             EXPECT_EQ(Mode(p), 0640u);
                         }});
    }

    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        TempDir dir;
        const std::string path = kind.make(dir);

        DeviceConfig imported;
        const FileResult read = ImportConfiguration(path, imported);
        EXPECT_EQ(read.ok, std::string(kind.importMessage).empty()) << read.message;
        EXPECT_NE(read.message.find(kind.importMessage), std::string::npos) << read.message;
        if (read.ok) {
            EXPECT_NE(imported, DeviceConfig{}) << "the file's settings arrived";
        }

        FlashImage image{};
        std::int32_t start = 0, end = 0;
        std::string firmware;
        EXPECT_FALSE(ReadFirmwareFile(path, image, start, end, [&](const std::string& m) { firmware = m; }));
        EXPECT_NE(firmware.find(kind.firmwareMessage), std::string::npos) << firmware;

        EXPECT_EQ(CheckExportTarget(path).ok, kind.exportOk);
        const FileResult written = ExportSettingsAndTable(path, config, table);
        EXPECT_EQ(written.ok, kind.exportOk) << written.message;
        if (!kind.exportOk) {
            EXPECT_NE(written.message.find(kind.exportMessage), std::string::npos) << written.message;
            EXPECT_FALSE(written.error.empty());
        }
        kind.check(dir, path);
    }
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

// A line another program appended after the file was read is not written over: the write
// is refused (an export then reads the file again and merges into what is there).
TEST(FileKinds, AFileChangedMeanwhileIsNotWrittenOver) {
    for (const bool twoLinks : {false, true}) {
        SCOPED_TRACE(twoLinks ? "in place" : "by rename");
        TempDir dir;
        const std::string path = Written(dir, "a.ini", kOldText);
        if (twoLinks) ::link(path.c_str(), dir.File("b.ini").c_str());
        WriteTarget target;
        ASSERT_EQ(PrepareWriteTarget(path, target), 0);
        EXPECT_EQ(target.inPlace, twoLinks);
        std::string text;
        FileStamp stamp;
        ASSERT_EQ(ReadRegularFile(path, kMaxReadBytes, text, &stamp), 0);
        std::ofstream(path, std::ios::app) << "Appended=1\n";
        EXPECT_EQ(WriteFileContents(target, "[Config]\nFanLow=1\n", stamp), kFileChanged);
        EXPECT_EQ(ReadText(path), std::string(kOldText) + "Appended=1\n");
        ASSERT_EQ(ReadRegularFile(path, kMaxReadBytes, text, &stamp), 0);
        EXPECT_EQ(WriteFileContents(target, "[Config]\nFanLow=1\n", stamp), 0);
        EXPECT_EQ(ReadText(path), "[Config]\nFanLow=1\n");
    }
}

}  // namespace
}  // namespace quelvan::files::testing
