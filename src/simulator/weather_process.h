#pragma once
// Clouds, thunderstorms and lightning as the board's 100 Hz random process.
//
// In each 1/100 s step a cloud begins with probability CloudP / 2^24 (when there is none)
// and ends with CloudD / 2^24; storms likewise with StormP / StormD. During a storm a
// lightning flash begins with LightningP / 2^16 and ends with LightningD / 2^16. The
// cover of a cloud (storm) moves towards CloudAlpha (StormAlpha) by CloudStep (StormStep)
// per step while it lasts, and back to 65535 (clear) at the same speed afterwards.

#include <cstdint>
#include <random>

#include "device/records.h"
#include "simulator/light_program.h"

namespace quelvan::sim {

constexpr int kWeatherStepMs = 10;

struct WeatherState {
    bool cloud = false;
    bool storm = false;
    bool lightning = false;
    std::uint16_t cloudCover = 0xFFFF;  // 0 dark .. 65535 clear
    std::uint16_t stormCover = 0xFFFF;
    std::int64_t pendingMs = 0;  // board time not yet turned into whole steps
    bool operator==(const WeatherState&) const = default;
};

class WeatherProcess {
public:
    explicit WeatherProcess(WeatherState& state) : state_(state) {}

    // One 1/100 s step.
    void Step(const DeviceConfig& config, std::mt19937& random);

    // Plays `boardMs` of board time: whole steps are run, the rest is kept for next time.
    // After a long gap only the last `maxSteps` steps are simulated: the weather has no
    // memory beyond its current state, so skipping the older ones changes nothing that
    // could be seen, and it keeps a board reloaded after days instant.
    void Play(std::int64_t boardMs, const DeviceConfig& config, std::mt19937& random, int maxSteps);

    // The program's levels dimmed by the covers, with lightning on top.
    ChannelLevels Apply(const ChannelLevels& levels, const DeviceConfig& config) const;

private:
    WeatherState& state_;
};

}  // namespace quelvan::sim
