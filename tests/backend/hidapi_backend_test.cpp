// The real hidapi/libudev backend, driven through the real controller and report protocol,
// against boards that umockdev emulates (sysfs, /dev node, udev events, hidraw ioctls).
// Must run under umockdev-wrapper; without it every test fails with the reason.

#include "backend/hidapi_backend.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "device/board_protocol.h"
#include "device/clock.h"
#include "device/hid_device_controller.h"
#include "device/identification.h"
#include "umockdev_testbed.h"

namespace quelvan {
namespace {

using umock::EmulatedBoard;
using umock::EmulatedUsbDevice;
using umock::UmockdevTestbed;

bool WaitReadable(int fd, int milliseconds) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, milliseconds) > 0 && (p.revents & POLLIN) != 0;
}

// The discovery logic of the programs in miniature: hold the first board, let it go
// when it is unplugged.
struct BoardSlot {
    explicit BoardSlot(HidDeviceController& controller) : controller(controller) {
        controller.OnEnumerate = [this](HidDevice& device, int index) {
            if (!held && IdentifyDevice(device.ManufacturerString(), device.ProductString()) == DeviceRole::Board) {
                held = this->controller.AcquireDevice(index);
                if (held) arrivals.push_back(held->DeviceInstance());
            }
            return true;
        };
        controller.OnDeviceChange = [this] {
            ++changes;
            if (held && !held->PluggedIn()) {
                this->controller.ReleaseDevice(held);
                held = nullptr;
                ++removals;
            }
            this->controller.EnumerateDevices();
        };
    }
    HidDeviceController& controller;
    HidDevice* held = nullptr;
    std::vector<std::string> arrivals;  // identities of the boards acquired
    int removals = 0;
    int changes = 0;
};

class HidapiBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        testbed_ = UmockdevTestbed::Start(&error);
        ASSERT_NE(testbed_, nullptr) << error;
    }

    std::unique_ptr<HidapiBackend> MakeBackend(HidapiBackend::Monitor monitor = HidapiBackend::Monitor::Always) {
        std::string error;
        auto backend = HidapiBackend::Create({monitor}, &error);
        EXPECT_NE(backend, nullptr) << error;
        return backend;
    }

    std::unique_ptr<UmockdevTestbed> testbed_;
    ManualClock clock_;
};

TEST_F(HidapiBackendTest, ListsEveryInterfaceWithIdsStringsAndARoleFromTheStrings) {
    EmulatedUsbDevice foreign;
    foreign.vendorId = 0x046D;
    foreign.productId = 0xC31C;
    foreign.bcdDevice = 0x0110;
    foreign.manufacturer = "Müller Gerätebau";      // needs UTF-8 decoding whatever the locale
    foreign.product = "Tastatur \xF0\x9F\x8E\xB9";  // a character beyond 16 bits
    foreign.serial = "";
    struct Case {
        EmulatedUsbDevice device;
        DeviceRole role;
        std::u16string manufacturer, product, serial;
    };
    const std::vector<Case> cases = {
        {EmulatedUsbDevice{}, DeviceRole::Board, u"www.dravik.info", u"Quelvan2", u"QV2-000123"},
        {umock::EmulatedBootloader(1), DeviceRole::Bootloader1, u"www.dravik.info", u"1", u""},
        {umock::EmulatedBootloader(2), DeviceRole::Bootloader2, u"www.dravik.info", u"2", u""},
        {foreign, DeviceRole::Other, u"Müller Gerätebau", u"Tastatur \U0001F3B9", u""},
    };
    std::vector<std::string> nodes;
    for (const auto& c : cases) nodes.push_back(testbed_->NodePath(testbed_->Plug(c.device, nullptr)));

    auto backend = MakeBackend();
    ASSERT_NE(backend, nullptr);
    const auto first = backend->Enumerate();
    ASSERT_EQ(first.size(), cases.size());
    const auto second = backend->Enumerate();
    ASSERT_EQ(second.size(), cases.size());

    // Strings can be read while a device is offered (or held), so they are taken there.
    struct Seen {
        std::string path, identity;
        std::uint16_t vendorId, productId, version;
        std::u16string manufacturer, product, serial;
    };
    std::vector<Seen> seen;
    HidDeviceController controller(*backend);
    controller.OnEnumerate = [&](HidDevice& device, int) {
        seen.push_back({device.DevicePath(), device.DeviceInstance(), device.VendorID(), device.ProductID(),
                        device.VersionNumber(), device.ManufacturerString(), device.ProductString(),
                        device.SerialNumberString()});
        return true;
    };
    controller.OnDeviceChange = [&] { controller.EnumerateDevices(); };
    ASSERT_TRUE(controller.ProcessNotifications());
    ASSERT_EQ(seen.size(), cases.size());

    std::set<std::string> identities;
    for (const auto& s : seen) identities.insert(s.identity);
    EXPECT_EQ(identities.size(), cases.size()) << "every interface has its own identity";
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(nodes[i]);
        const auto it = std::find_if(seen.begin(), seen.end(), [&](const Seen& s) { return s.path == nodes[i]; });
        ASSERT_NE(it, seen.end());
        EXPECT_EQ(it->vendorId, cases[i].device.vendorId);
        EXPECT_EQ(it->productId, cases[i].device.productId);
        EXPECT_EQ(it->version, cases[i].device.bcdDevice);
        EXPECT_EQ(it->manufacturer, cases[i].manufacturer);
        EXPECT_EQ(it->product, cases[i].product);
        EXPECT_EQ(it->serial, cases[i].serial);
        EXPECT_EQ(IdentifyDevice(it->manufacturer, it->product), cases[i].role);
        for (const auto* scan : {&first, &second}) {
            const bool same = std::any_of(scan->begin(), scan->end(), [&](const HidInterfaceInfo& s) {
                return s.path == it->path && s.identity == it->identity;
            });
            EXPECT_TRUE(same) << "identity must not change while plugged in";
        }
    }
}

TEST_F(HidapiBackendTest, FeatureReportsRoundTripThroughTheReportProtocol) {
    auto board = std::make_shared<EmulatedBoard>();
    LiveState live = board->Live();
    live.ClockHour = 7;
    live.ClockMinute = 8;
    live.ClockSecond = 9;
    live.Reserved1 = {0xAA, 0x55};
    live.Temperature = kNoTemperatureSensor;
    live.ChannelValue[11] = 4096;
    board->SetLive(live);
    testbed_->PlugBoard(board);

    auto backend = MakeBackend();
    ASSERT_NE(backend, nullptr);
    HidDeviceController controller(*backend);
    BoardSlot slot(controller);
    controller.ProcessNotifications();
    ASSERT_NE(slot.held, nullptr);
    BoardProtocol protocol(clock_);
    protocol.SetDevice(slot.held);

    // Gets: what the board holds arrives unchanged, reserved bytes included.
    EXPECT_TRUE(protocol.ReadLiveState().ok);
    EXPECT_EQ(protocol.live, board->Live());
    EXPECT_TRUE(protocol.ReadDeviceConfig().ok);
    EXPECT_EQ(protocol.config, board->Config());
    const auto rows = board->Schedule();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto entry = protocol.ReadScheduleEntry();
        ASSERT_TRUE(entry.has_value());
        EXPECT_EQ(entry->first, i);
        EXPECT_EQ(entry->second, rows[i]);
    }

    // Sets: the board receives exactly the buffer the protocol built.
    board->ClearTransfers();
    protocol.live.ChannelValue[2] = 2048;
    EXPECT_TRUE(protocol.WriteLiveState(false, false, true).ok);
    std::vector<std::uint8_t> expected{report::kLiveState};
    const auto payload = protocol.live.Encode();
    expected.insert(expected.end(), payload.begin(), payload.end());
    expected[report::kClockMinuteByte] = 255;
    expected[report::kMoonTransitMinuteByte] = 255;
    auto transfers = board->Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_TRUE(transfers[0].isSet);
    EXPECT_EQ(transfers[0].bytes, expected);
    EXPECT_EQ(board->Live().ChannelValue[2], 2048);
    EXPECT_EQ(board->Live().ClockMinute, 8) << "the clock was not to be set";

    board->ClearTransfers();
    protocol.config.FanLow = 77;
    protocol.config.RC5.Step = 0xBEEF;
    EXPECT_TRUE(protocol.WriteDeviceConfig().ok);
    EXPECT_EQ(board->Config(), protocol.config);
    transfers = board->Transfers();
    ASSERT_EQ(transfers.size(), 4u);
    const std::size_t lengths[] = {28, 17, 29, 25};
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(transfers[i].bytes.size(), lengths[i]);

    board->ClearTransfers();
    EXPECT_TRUE(protocol.SaveEEPROM().ok);
    std::vector<std::uint8_t> save(report::kCommandLength, 0);
    save[0] = 3;
    save[1] = 255;
    ASSERT_EQ(board->Transfers().size(), 1u);
    EXPECT_EQ(board->Transfers()[0].bytes, save);
    EXPECT_EQ(board->EEPROMSaves(), 1);
}

TEST_F(HidapiBackendTest, FailedOrShortAnswersAreFailures) {
    auto board = std::make_shared<EmulatedBoard>();
    testbed_->PlugBoard(board);
    auto backend = MakeBackend();
    ASSERT_NE(backend, nullptr);
    HidDeviceController controller(*backend);
    BoardSlot slot(controller);
    controller.ProcessNotifications();
    ASSERT_NE(slot.held, nullptr);

    struct Case {
        const char* name;
        int failures;  // transfers the board refuses before it answers
        int error;
        bool ok;
        int attempts;
    };
    const Case cases[] = {
        {"answers at once", 0, 0, true, 1},
        {"stalls twice, then answers", 2, EPIPE, true, 3},
        {"fails every attempt", 3, EIO, false, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BoardProtocol protocol(clock_);
        protocol.SetDevice(slot.held);
        protocol.live.ClockHour = 99;
        board->FailNext(c.failures, c.error);
        const TransferResult result = protocol.ReadLiveState();
        EXPECT_EQ(result.ok, c.ok);
        EXPECT_EQ(result.attempts, c.attempts);
        EXPECT_EQ(protocol.live.ClockHour, c.ok ? board->Live().ClockHour : 99);
    }

    // The board answers report 1 with its 42 bytes; a larger buffer is only partly filled,
    // and its stale tail must not pass for an answer.
    std::vector<std::uint8_t> buffer(50, 0xEE);
    buffer[0] = report::kLiveState;
    EXPECT_FALSE(slot.held->ReadFeature(buffer.data(), buffer.size()));
    buffer.resize(report::kLiveStateLength);
    EXPECT_TRUE(slot.held->ReadFeature(buffer.data(), buffer.size()));
    // A report the board does not have stalls.
    std::uint8_t unknown[8] = {9};
    EXPECT_FALSE(slot.held->ReadFeature(unknown, sizeof unknown));
    EXPECT_FALSE(slot.held->WriteFeature(unknown, sizeof unknown));
}

TEST_F(HidapiBackendTest, UnplugAndReplugAreSeenThroughTheUdevMonitor) {
    auto board = std::make_shared<EmulatedBoard>();
    int plug = testbed_->PlugBoard(board);
    const std::string node = testbed_->NodePath(plug);

    auto backend = MakeBackend(HidapiBackend::Monitor::Always);
    ASSERT_NE(backend, nullptr);
    ASSERT_TRUE(backend->HasMonitor());
    const int fd = backend->ChangeFd();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(backend->RescanIntervalMs(), 0);
    EXPECT_FALSE(backend->TakeChange()) << "nothing happened since the monitor started";

    HidDeviceController controller(*backend);
    BoardSlot slot(controller);
    EXPECT_TRUE(controller.ProcessNotifications());  // the initial notification
    ASSERT_NE(slot.held, nullptr);
    ASSERT_EQ(slot.arrivals.size(), 1u);
    BoardProtocol protocol(clock_);
    protocol.SetDevice(slot.held);
    EXPECT_TRUE(protocol.ReadLiveState().ok);

    testbed_->Unplug(plug);
    ASSERT_TRUE(WaitReadable(fd, 5000)) << "no udev event for the removal";
    // Until the scan runs the controller still holds the board; its handle now fails.
    EXPECT_FALSE(protocol.ReadLiveState().ok);
    EXPECT_TRUE(controller.ProcessNotifications());
    EXPECT_EQ(slot.removals, 1);
    EXPECT_EQ(slot.held, nullptr);
    EXPECT_EQ(controller.DeviceCount(), 0);
    EXPECT_FALSE(backend->TakeChange()) << "the events were drained";

    // Plugged in again: same port, same node, but a new identity and a working handle.
    plug = testbed_->PlugBoard(board);
    EXPECT_EQ(testbed_->NodePath(plug), node);
    ASSERT_TRUE(WaitReadable(fd, 5000)) << "no udev event for the arrival";
    EXPECT_TRUE(controller.ProcessNotifications());
    ASSERT_NE(slot.held, nullptr);
    ASSERT_EQ(slot.arrivals.size(), 2u);
    EXPECT_NE(slot.arrivals[1], slot.arrivals[0]);
    EXPECT_EQ(slot.held->DevicePath(), node);
    protocol.SetDevice(slot.held);
    EXPECT_TRUE(protocol.ReadLiveState().ok);
    EXPECT_FALSE(controller.ProcessNotifications()) << "no change, no scan";
}

TEST_F(HidapiBackendTest, WithoutAMonitorEveryPeriodicRescanLooksForChanges) {
    auto backend = MakeBackend(HidapiBackend::Monitor::Never);
    ASSERT_NE(backend, nullptr);
    EXPECT_EQ(backend->ChangeFd(), -1);
    EXPECT_EQ(backend->RescanIntervalMs(), HidapiBackend::kRescanIntervalMs);

    HidDeviceController controller(*backend);
    BoardSlot slot(controller);
    EXPECT_TRUE(controller.ProcessNotifications());
    EXPECT_EQ(slot.held, nullptr);
    EXPECT_EQ(slot.changes, 1);

    const int plug = testbed_->PlugBoard(std::make_shared<EmulatedBoard>());
    EXPECT_TRUE(controller.ProcessNotifications());
    EXPECT_NE(slot.held, nullptr);
    EXPECT_EQ(slot.changes, 2);
    EXPECT_TRUE(controller.ProcessNotifications());
    EXPECT_EQ(slot.changes, 2) << "a rescan that finds nothing new raises no change";

    testbed_->Unplug(plug);
    EXPECT_TRUE(controller.ProcessNotifications());
    EXPECT_EQ(slot.removals, 1);
}

TEST_F(HidapiBackendTest, ANodeThatCannotBeOpenedReadWriteGivesAQueryOnlyHandleAndItsErrno) {
    const int plug = testbed_->PlugBoard(std::make_shared<EmulatedBoard>());
    // A directory in place of the node: it opens for queries, never for reading and writing.
    const std::string node = testbed_->RootDir() + testbed_->NodePath(plug);
    ASSERT_EQ(::unlink(node.c_str()), 0);
    ASSERT_EQ(::mkdir(node.c_str(), 0755), 0);

    auto backend = MakeBackend();
    ASSERT_NE(backend, nullptr);
    const auto devices = backend->Enumerate();
    ASSERT_EQ(devices.size(), 1u);
    const HidOpenResult opened = backend->Open(devices[0]);
    EXPECT_NE(opened.handle, nullptr);
    EXPECT_FALSE(opened.readWrite);
    EXPECT_EQ(opened.error, EISDIR);

    HidDeviceController controller(*backend);
    BoardSlot slot(controller);
    controller.ProcessNotifications();
    ASSERT_NE(slot.held, nullptr) << "still listed and recognised by its strings";
    std::uint8_t buffer[report::kLiveStateLength] = {report::kLiveState};
    EXPECT_FALSE(slot.held->ReadFeature(buffer, sizeof buffer));
    EXPECT_EQ(slot.held->LastOpenError(), EISDIR);
}

}  // namespace
}  // namespace quelvan
