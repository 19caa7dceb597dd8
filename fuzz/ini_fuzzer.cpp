// Any text as a settings file: importing never fails; exporting into that same text is
// refused for what is not a text INI file, and otherwise gives a file that reads back as
// exactly the exported values and that a second export leaves as it is.

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

    const quelvan::files::SettingsUpdate update = quelvan::files::UpdateSettingsText(text, config, table);
    if (update.problem) return 0;
    const std::string& exported = update.text;
    FUZZ_CHECK(!quelvan::files::UpdateSettingsText(exported, config, table).problem);
    FUZZ_CHECK(quelvan::files::UpdateSettingsText(exported, config, table).text == exported);
    quelvan::DeviceConfig back;
    quelvan::files::ReadConfiguration(exported, back);
    FUZZ_CHECK(back == config);
    std::vector<quelvan::ScheduleEntry> rows(3);
    quelvan::files::ReadTable(exported, rows);
    FUZZ_CHECK(rows == table);

    (void)quelvan::files::ParseIniInteger(text);
    return 0;
}
