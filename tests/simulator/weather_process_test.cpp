// The weather as a random process: its statistics match the four probabilities, covers
// come up at their step speed, lightning needs a storm, and runs replay under a seed.

#include "simulator/weather_process.h"

#include <gtest/gtest.h>

namespace quelvan::sim {
namespace {

struct Tally {
    int steps = 0;
    int inside = 0;  // steps spent in the event
    int starts = 0;
};

// Runs the process and counts one kind of event (cloud or storm).
Tally RunSteps(const DeviceConfig& config, std::uint32_t seed, int steps, bool WeatherState::*event) {
    WeatherState state;
    WeatherProcess process(state);
    std::mt19937 random(seed);
    Tally t;
    for (int i = 0; i < steps; ++i) {
        const bool before = state.*event;
        process.Step(config, random);
        t.steps++;
        if (state.*event) t.inside++;
        if (!before && state.*event) t.starts++;
    }
    return t;
}

TEST(WeatherProcess, EventsFollowTheirProbabilities) {
    struct Case {
        std::uint16_t p, d;
        bool WeatherState::*event;
    };
    for (const Case& c : {Case{65535, 16384, &WeatherState::cloud}, Case{8192, 8192, &WeatherState::cloud},
                          Case{65535, 16384, &WeatherState::storm}}) {
        DeviceConfig config;
        if (c.event == &WeatherState::cloud) {
            config.CloudP = c.p;
            config.CloudD = c.d;
        } else {
            config.StormP = c.p;
            config.StormD = c.d;
        }
        const double p = c.p / 16777216.0, d = c.d / 16777216.0;
        const Tally t = RunSteps(config, 5, 2'000'000, c.event);
        const double share = static_cast<double>(t.inside) / t.steps;
        EXPECT_NEAR(share, p / (p + d), 0.05) << c.p << "/" << c.d;
        const double expectedStarts = t.steps * (1.0 - share) * p;
        EXPECT_NEAR(t.starts, expectedStarts, expectedStarts * 0.12);
        const double meanLength = static_cast<double>(t.inside) / t.starts;
        EXPECT_NEAR(meanLength, 1.0 / d, 0.15 / d);
    }
    DeviceConfig calm;  // all zero: never a cloud or storm
    EXPECT_EQ(RunSteps(calm, 5, 100'000, &WeatherState::cloud).starts, 0);
}

TEST(WeatherProcess, CoverComesUpAtItsStepAndDims) {
    DeviceConfig config;
    config.CloudAlpha = 25535;
    config.CloudStep = 1000;
    WeatherState state;
    state.cloud = true;  // a cloud that does not end: CloudD is 0
    WeatherProcess process(state);
    std::mt19937 random(1);
    for (int i = 0; i < 39; ++i) process.Step(config, random);
    EXPECT_EQ(state.cloudCover, 65535 - 39000);
    process.Step(config, random);
    EXPECT_EQ(state.cloudCover, 25535);
    process.Step(config, random);
    EXPECT_EQ(state.cloudCover, 25535);

    ChannelLevels full;
    full.fill(4096);
    const ChannelLevels dimmed = process.Apply(full, config);
    EXPECT_EQ(dimmed[0], 1596);  // 4096 * 25535 / 65535
    EXPECT_EQ(dimmed[11], 1596);
}

TEST(WeatherProcess, LightningFlashesOnlyDuringAStorm) {
    DeviceConfig config;
    config.LightningP = 65535;
    config.LightningD = 0;
    config.LightningColor[1] = 50;
    WeatherState state;
    WeatherProcess process(state);
    std::mt19937 random(3);
    for (int i = 0; i < 1000; ++i) process.Step(config, random);
    EXPECT_FALSE(state.lightning);

    state.storm = true;
    config.StormAlpha = 0;
    for (int i = 0; i < 10; ++i) process.Step(config, random);
    EXPECT_TRUE(state.lightning);
    const ChannelLevels lit = process.Apply(ChannelLevels{}, config);
    EXPECT_EQ(lit[1], 2048);
    EXPECT_EQ(lit[0], 0);
}

TEST(WeatherProcess, LongGapsPlayOnlyTheLastMinute) {
    DeviceConfig config;
    config.CloudP = 40000;
    config.CloudD = 40000;
    WeatherState a, b;
    std::mt19937 ra(9), rb(9);
    WeatherProcess(a).Play(3LL * 24 * 3600 * 1000 + 7, config, ra, 6000);
    for (int i = 0; i < 6000; ++i) WeatherProcess(b).Step(config, rb);
    b.pendingMs = 7;
    EXPECT_EQ(a, b);
    EXPECT_EQ(ra, rb);

    // Short spans add up to whole steps.
    WeatherState c;
    std::mt19937 rc(9);
    for (int i = 0; i < 4; ++i) WeatherProcess(c).Play(4, config, rc, 6000);
    EXPECT_EQ(c.pendingMs, 6);
    EXPECT_NE(rc, std::mt19937(9));
}

}  // namespace
}  // namespace quelvan::sim
