// Any text as a settings file: importing never fails, and exporting into that same text
// gives a file that reads back as exactly the exported values.

#include <cstdint>
#include <string_view>
#include <vector>

#include "files/ini_file.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    quelvan::DeviceConfig config;
    config.Mode = 7;  // some fields not zero, so that "left alone" shows
    config.TempWaterLow = -50;
    quelvan::files::ReadConfiguration(text, config);
    std::vector<quelvan::ScheduleEntry> table(3);
    table[2].Hour = 24;
    quelvan::files::ReadTable(text, table);
    FUZZ_CHECK(table.size() == 3);

    const std::string exported = quelvan::files::WriteSettingsAndTable(text, config, table);
    quelvan::DeviceConfig back;
    quelvan::files::ReadConfiguration(exported, back);
    FUZZ_CHECK(back == config);
    std::vector<quelvan::ScheduleEntry> rows(3);
    quelvan::files::ReadTable(exported, rows);
    FUZZ_CHECK(rows == table);

    (void)quelvan::files::ParseIniInteger(text);
    return 0;
}
