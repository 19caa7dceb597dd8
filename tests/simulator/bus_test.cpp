// The board as one device among others on the bus: handles, permissions, strings,
// change notifications, the transfer log and injected failures.

#include <gtest/gtest.h>
#include <poll.h>

#include <cerrno>

#include "sim_bench.h"

namespace quelvan::sim::testing {
namespace {

std::vector<bool> Outcomes(const SimulatedHidBackend& backend) {
    std::vector<bool> out;
    for (const auto& t : backend.Transfers()) out.push_back(t.ok);
    return out;
}

TEST(Bus, StaleHandlesFailAfterTheInterfaceLeft) {
    SimBench bench;
    SimulatedHidBackend& backend = *bench.backend;
    const HidInterfaceInfo info = backend.Enumerate().at(0);
    HidOpenResult open = backend.Open(info);
    ASSERT_TRUE(open.handle);
    EXPECT_TRUE(open.readWrite);
    std::array<std::uint8_t, 42> buffer{1};
    EXPECT_TRUE(open.handle->GetFeature(buffer.data(), buffer.size()));

    backend.Unplug();
    EXPECT_EQ(bench.Board().Mode(), BoardMode::Absent);
    EXPECT_FALSE(open.handle->GetFeature(buffer.data(), buffer.size()));
    EXPECT_FALSE(backend.Open(info).handle) << "a gone interface cannot be opened";
    EXPECT_FALSE(backend.ReadString(info, HidString::Product));

    backend.Plug();
    EXPECT_FALSE(open.handle->GetFeature(buffer.data(), buffer.size())) << "plugged again means a new interface";
    EXPECT_EQ(backend.Transfers().back().device, "board");
    EXPECT_FALSE(backend.Transfers().back().ok);
    HidOpenResult fresh = backend.Open(backend.Enumerate().at(0));
    EXPECT_TRUE(fresh.handle->GetFeature(buffer.data(), buffer.size()));

    // A handle that outlives its backend fails instead of touching freed memory.
    bench.controller.reset();
    bench.backend.reset();
    EXPECT_FALSE(fresh.handle->GetFeature(buffer.data(), buffer.size()));
}

TEST(Bus, PermissionDeniedGivesAQueryOnlyHandle) {
    SimBench bench;
    bench.backend->SetOpenError(EACCES);
    HidDevice* board = bench.Acquire(kBoardProduct);
    ASSERT_NE(board, nullptr) << "strings can still be read";
    EXPECT_FALSE(bench.protocol.ReadLiveState().ok);
    EXPECT_EQ(board->LastOpenError(), EACCES);

    HidOpenResult open = bench.backend->Open(board->Info());
    ASSERT_TRUE(open.handle);
    EXPECT_FALSE(open.readWrite);
    EXPECT_EQ(open.error, EACCES);
    std::array<std::uint8_t, 42> buffer{1};
    EXPECT_FALSE(open.handle->GetFeature(buffer.data(), buffer.size()));
}

TEST(Bus, StringsSerialNumberAndForeignDevices) {
    BoardSettings settings;
    settings.serialNumber.assign(1, char16_t{0x0409});  // a board that answers with its language list
    SimBench bench(settings);
    HidDevice* board = bench.Acquire(kBoardProduct);
    ASSERT_NE(board, nullptr);
    EXPECT_EQ(board->SerialNumberString(), u"");

    SimBench plain;
    EXPECT_EQ(plain.Acquire(kBoardProduct)->SerialNumberString(), u"QV2-000123");

    SimulatedHidBackend& backend = *bench.backend;
    EXPECT_FALSE(backend.TakeChange());
    const int keyboard = backend.AddForeignDevice({});
    EXPECT_TRUE(backend.TakeChange());
    const auto list = backend.Enumerate();
    ASSERT_EQ(list.size(), 2u);
    const HidInterfaceInfo& foreign = list[1];
    EXPECT_EQ(foreign.vendorId, 0x046D);
    EXPECT_EQ(backend.ReadString(foreign, HidString::Product), u"USB Keyboard");
    HidOpenResult open = backend.Open(foreign);
    ASSERT_TRUE(open.handle);
    std::array<std::uint8_t, 42> buffer{1};
    EXPECT_FALSE(open.handle->GetFeature(buffer.data(), buffer.size()));
    EXPECT_EQ(backend.Transfers().back().device, "foreign");
    EXPECT_EQ(backend.CountTransfers(false, 1), 0) << "only the board's transfers are counted";

    backend.RemoveForeignDevice(keyboard);
    EXPECT_TRUE(backend.TakeChange());
    EXPECT_EQ(backend.Enumerate().size(), 1u);

    backend.SetStringsReadable(false);
    EXPECT_FALSE(backend.ReadString(backend.Enumerate().at(0), HidString::Manufacturer));
}

TEST(Bus, ChangeFdIsPollable) {
    SimBench bench;
    SimulatedHidBackend& backend = *bench.backend;
    pollfd p{backend.ChangeFd(), POLLIN, 0};
    ASSERT_GE(p.fd, 0);
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    backend.Unplug();
    backend.Plug();
    EXPECT_EQ(::poll(&p, 1, 0), 1);
    EXPECT_TRUE(backend.TakeChange());
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    EXPECT_FALSE(backend.TakeChange());
}

TEST(Bus, InjectedFailuresAreLoggedAndCounted) {
    SimBench bench;
    bench.Board().SetFrozen(true);
    bench.Acquire(kBoardProduct);
    SimulatedHidBackend& backend = *bench.backend;
    ASSERT_TRUE(bench.protocol.ReadLiveState().ok);
    ASSERT_TRUE(bench.protocol.ReadDeviceConfig().ok);

    struct Case {
        bool isSet;
        std::uint8_t id;
        int failures;
        int attempts;
        bool ok;
    };
    for (const Case& c : {Case{true, 1, 2, 3, true}, Case{true, 1, 3, 3, false}, Case{false, 1, 1, 2, true},
                          Case{false, 2, 1, 1, false}, Case{true, 2, 0, 1, true}}) {
        backend.ClearTransfers();
        backend.FailNext(c.isSet, c.id, c.failures);
        TransferResult r;
        if (c.id == 1)
            r = c.isSet ? bench.protocol.WriteLiveState(false, false, true) : bench.protocol.ReadLiveState();
        else
            r = c.isSet ? bench.protocol.WriteDeviceConfig() : bench.protocol.ReadDeviceConfig();
        EXPECT_EQ(r.ok, c.ok);
        EXPECT_EQ(backend.CountTransfers(c.isSet, c.id), c.attempts);
        std::vector<bool> expected(c.failures, false);
        if (c.ok) expected.push_back(true);
        auto outcomes = Outcomes(backend);
        outcomes.resize(std::min(outcomes.size(), expected.size()));
        EXPECT_EQ(outcomes, expected);
    }

    // A failed get is logged as it was asked; a successful one as it was answered.
    backend.ClearTransfers();
    backend.FailNext(false, 1, 1);
    bench.protocol.ReadLiveState();
    ASSERT_EQ(backend.Transfers().size(), 2u);
    std::vector<std::uint8_t> asked(42, 0);
    asked[0] = 1;
    EXPECT_EQ(backend.Transfers()[0].bytes, asked);
    EXPECT_EQ(backend.Transfers()[1].bytes[1], 4) << "firmware version answered";
}

// The log is a test hook: a board left running keeps no bytes until a test asks for them,
// while the counts stay exact either way.
TEST(Bus, TransferLogIsKeptOnlyWhileRecording) {
    SimBench bench;
    SimulatedHidBackend& backend = *bench.backend;
    backend.RecordTransfers(false);
    bench.Acquire(kBoardProduct);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(bench.protocol.ReadLiveState().ok);
    backend.FailNext(false, 2, 1);
    bench.protocol.ReadDeviceConfig();
    EXPECT_FALSE(backend.RecordingTransfers());
    EXPECT_TRUE(backend.Transfers().empty());
    EXPECT_EQ(backend.CountTransfers(false, 1), 5);
    EXPECT_EQ(backend.CountTransfers(false, 2), 1) << "a failed attempt counts too";

    backend.RecordTransfers();
    bench.protocol.ReadLiveState();
    ASSERT_EQ(backend.Transfers().size(), 1u);
    EXPECT_EQ(backend.Transfers()[0].bytes.size(), 42u);
    EXPECT_EQ(backend.CountTransfers(false, 1), 6);

    // Switching it off drops what was kept; clearing switches it on again.
    backend.RecordTransfers(false);
    EXPECT_TRUE(backend.Transfers().empty());
    bench.protocol.ReadLiveState();
    EXPECT_TRUE(backend.Transfers().empty());
    backend.ClearTransfers();
    EXPECT_TRUE(backend.RecordingTransfers());
    EXPECT_EQ(backend.CountTransfers(false, 1), 0);
    bench.protocol.WriteLiveState(false, false, true);
    ASSERT_EQ(backend.Transfers().size(), 1u);
    EXPECT_TRUE(backend.Transfers()[0].isSet);
    EXPECT_EQ(backend.CountTransfers(true, 1), 1);
}

TEST(Bus, RandomFailuresReplayUnderASeed) {
    auto run = [](std::uint32_t seed) {
        SimBench bench;
        bench.Board().SetFrozen(true);
        bench.Acquire(kBoardProduct);
        bench.backend->FailRandomly(0.3, seed);
        std::vector<bool> outcomes;
        for (int i = 0; i < 300; ++i) outcomes.push_back(bench.protocol.ReadScheduleEntry().has_value());
        return outcomes;
    };
    const auto first = run(11);
    EXPECT_EQ(run(11), first);
    EXPECT_NE(run(12), first);
    const auto failed = std::count(first.begin(), first.end(), false);
    EXPECT_GT(failed, 60);
    EXPECT_LT(failed, 120);
}

}  // namespace
}  // namespace quelvan::sim::testing
