#include "simulator/weather_process.h"

#include <algorithm>

#include "device/numeric.h"

namespace quelvan::sim {

namespace {

// True with probability numerator / 2^bits, from one draw of the generator; using the
// raw bits keeps runs identical across standard library implementations.
bool Chance(std::mt19937& random, std::uint32_t numerator, int bits) {
    const std::uint32_t draw = static_cast<std::uint32_t>(random()) & ((1u << bits) - 1u);
    return draw < numerator;
}

// Moves a cover towards its target by `step` (0: at once, so that a cloud still shows).
std::uint16_t Approach(std::uint16_t cover, std::uint16_t target, std::uint16_t step) {
    if (step == 0) return target;
    if (cover < target) return static_cast<std::uint16_t>(std::min<int>(cover + step, target));
    return static_cast<std::uint16_t>(std::max<int>(cover - step, target));
}

}  // namespace

void WeatherProcess::Step(const DeviceConfig& config, std::mt19937& random) {
    constexpr int kWeatherBits = 24;
    constexpr int kLightningBits = 16;
    if (state_.cloud ? Chance(random, config.CloudD, kWeatherBits) : Chance(random, config.CloudP, kWeatherBits))
        state_.cloud = !state_.cloud;
    if (state_.storm ? Chance(random, config.StormD, kWeatherBits) : Chance(random, config.StormP, kWeatherBits))
        state_.storm = !state_.storm;
    if (state_.storm) {
        if (state_.lightning ? Chance(random, config.LightningD, kLightningBits)
                             : Chance(random, config.LightningP, kLightningBits))
            state_.lightning = !state_.lightning;
    } else {
        state_.lightning = false;
    }
    state_.cloudCover = Approach(state_.cloudCover, state_.cloud ? config.CloudAlpha : 0xFFFF, config.CloudStep);
    state_.stormCover = Approach(state_.stormCover, state_.storm ? config.StormAlpha : 0xFFFF, config.StormStep);
}

void WeatherProcess::Play(std::int64_t boardMs, const DeviceConfig& config, std::mt19937& random, int maxSteps) {
    if (boardMs <= 0) return;
    const std::int64_t total = state_.pendingMs + boardMs;
    const std::int64_t steps = total / kWeatherStepMs;
    state_.pendingMs = total % kWeatherStepMs;
    const std::int64_t run = std::min<std::int64_t>(steps, maxSteps);
    for (std::int64_t i = 0; i < run; ++i) Step(config, random);
}

ChannelLevels WeatherProcess::Apply(const ChannelLevels& levels, const DeviceConfig& config) const {
    const double factor = (state_.cloudCover / 65535.0) * (state_.stormCover / 65535.0);
    ChannelLevels out{};
    for (int c = 0; c < kChannelCount; ++c) {
        long long value = RoundHalfEven(levels[c] * factor);
        if (state_.lightning) value = std::max<long long>(value, PercentToLevel(config.LightningColor[c]));
        out[c] = static_cast<std::int16_t>(value);
    }
    return out;
}

}  // namespace quelvan::sim
