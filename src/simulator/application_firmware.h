#pragma once
// The board's application firmware: its RAM (the records the reports carry, the schedule
// rows, the running clock) and EEPROM, the six feature reports with the two commands,
// and what the board does on its own as time passes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "device/clock.h"
#include "device/records.h"
#include "simulator/simulated_backend.h"
#include "simulator/weather_process.h"

namespace quelvan::sim {

struct ApplicationRam {
    LiveState live;
    DeviceConfig config;
    std::vector<ScheduleEntry> schedule;
    std::optional<int> entryCountOverride;
    std::optional<int> scheduleIndexOverride;
    int nextScheduleIndex = 0;
    int clockRemainderMs = 0;           // below the 40 ms clock tick
    double moonRemainderMinutes = 0.0;  // the transit moves in fractions of a minute
    WeatherState weather;
};

struct Eeprom {
    DeviceConfig config;
    std::vector<ScheduleEntry> schedule;
    int storeCount = 0;
};

enum class FirmwareRequest { None, EnterBootloader };

class ApplicationFirmware {
public:
    // Later days see the moon's transit about 48.8 minutes later (1440 minutes a lunar month).
    static constexpr double kMoonMinutesPerDay = 48.8;
    // After a long gap only this much weather is simulated (60 s of 100 Hz steps).
    static constexpr int kMaxWeatherSteps = 6000;

    ApplicationFirmware(ApplicationRam& ram, Eeprom& eeprom, const BoardSettings& settings)
        : ram_(ram), eeprom_(eeprom), settings_(settings) {}

    // The factory state: defaults in RAM and EEPROM.
    static void Reset(ApplicationRam& ram, Eeprom& eeprom);

    // Feature reports; a wrong length or an unknown report fails like a stalled transfer.
    // Get writes the buffer only on success.
    bool Get(std::uint8_t* buffer, std::size_t length);
    bool Set(const std::uint8_t* buffer, std::size_t length, FirmwareRequest* request);

    // Switching on: RAM from EEPROM, the clock from the computer, channels dark until
    // the program sets them.
    void PowerOn(const LocalDateTime& now);
    // The board's own behaviour over `realMs` of real time (the clock runs TimeLapse
    // times faster), ending with the channels the current mode shows.
    void Run(std::int64_t realMs, std::mt19937& random);
    // Recomputes the channels for the current mode and time without time passing.
    void ShowProgram();
    // Fields the firmware fills in itself: version, entry count, a missing sensor.
    void RefreshFixedFields();

    int EntryCount() const;
    std::int64_t ClockMs() const;  // board time of day in milliseconds
    void SetClockMs(std::int64_t ms);

private:
    bool SetLiveState(const std::uint8_t* buffer);
    bool SetScheduleEntry(const std::uint8_t* buffer);
    bool RunCommand(std::uint8_t command, FirmwareRequest* request);
    void AdvanceMoon(std::int64_t boardMs);
    void UpdateSensors(std::mt19937& random);
    std::int16_t WaterTemperature() const;

    ApplicationRam& ram_;
    Eeprom& eeprom_;
    const BoardSettings& settings_;
};

}  // namespace quelvan::sim
