#include <gtest/gtest.h>

#include "device/hid_device_controller.h"
#include "device/transfer_trace.h"
#include "fake_backend.h"

namespace quelvan {
namespace {

using testing::FakeBackend;

class ControllerTest : public ::testing::Test {
protected:
    ControllerTest() {
        controller.OnDeviceChange = [this] { ++changes; };
        controller.OnEnumerate = [this](HidDevice& d, int index) {
            offered.push_back({index, d.ProductString()});
            return true;
        };
    }
    void Change() {
        backend.signalled = true;
        controller.ProcessNotifications();
    }

    FakeBackend backend;
    HidDeviceController controller{backend};
    int changes = 0;
    std::vector<std::pair<int, std::u16string>> offered;
};

TEST_F(ControllerTest, InitialNotificationRaisesDeviceChangeEvenWithoutDevices) {
    EXPECT_EQ(backend.enumerations, 0);  // nothing happens before the loop delivers it
    EXPECT_TRUE(controller.ProcessNotifications());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(controller.DeviceCount(), 0);
    EXPECT_FALSE(controller.ProcessNotifications());  // posted once only
    Change();                                         // a non-HID change: scan, no event
    EXPECT_EQ(backend.enumerations, 2);
    EXPECT_EQ(changes, 1);
}

TEST_F(ControllerTest, ArrivalAndRemovalAreDiffedByIdentity) {
    controller.ProcessNotifications();
    const auto a = backend.Add(u"m", u"A");
    Change();
    EXPECT_EQ(changes, 2);
    const auto b = backend.Add(u"m", u"B");
    Change();
    EXPECT_EQ(changes, 3);
    ASSERT_EQ(controller.DeviceCount(), 2);
    EXPECT_EQ(controller.DeviceAt(0)->DeviceInstance(), a);
    EXPECT_EQ(controller.DeviceAt(1)->DeviceInstance(), b);
    Change();  // nothing changed
    EXPECT_EQ(changes, 3);
    backend.Remove(a);
    Change();
    EXPECT_EQ(changes, 4);
    ASSERT_EQ(controller.DeviceCount(), 1);
    EXPECT_EQ(controller.DeviceAt(0)->DeviceInstance(), b);
}

TEST_F(ControllerTest, AcquiredDeviceThatLeavesStaysListedUnpluggedUntilReleased) {
    const auto a = backend.Add(u"m", u"A");
    backend.Add(u"m", u"B");
    controller.ProcessNotifications();
    HidDevice* held = controller.AcquireDevice(0);
    ASSERT_NE(held, nullptr);
    std::uint8_t buffer[4] = {1};
    EXPECT_TRUE(held->WriteFeature(buffer, 4));
    EXPECT_TRUE(held->IsOpen());

    backend.Remove(a);
    Change();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(controller.DeviceCount(), 2);
    EXPECT_FALSE(held->PluggedIn());
    EXPECT_FALSE(held->IsOpen());
    EXPECT_FALSE(held->WriteFeature(buffer, 4));  // not accessible any more

    offered.clear();
    EXPECT_EQ(controller.EnumerateDevices(), 1);  // only plugged-in devices are offered
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0].first, 1);

    controller.ReleaseDevice(held);
    ASSERT_EQ(controller.DeviceCount(), 1);
    EXPECT_NE(controller.DeviceAt(0)->DeviceInstance(), a);
    EXPECT_EQ(controller.DeviceAt(0)->ProductString(), u"B");  // cached while it was offered
}

TEST_F(ControllerTest, ReleaseWhilePluggedInLeavesAnAcquirableEntryAtTheSameIndex) {
    backend.Add(u"m", u"A");
    backend.Add(u"m", u"B");
    controller.ProcessNotifications();
    HidDevice* held = controller.AcquireDevice(1);
    ASSERT_NE(held, nullptr);
    const std::string identity = held->DeviceInstance();
    controller.ReleaseDevice(held);
    ASSERT_EQ(controller.DeviceCount(), 2);
    EXPECT_EQ(controller.DeviceAt(1)->DeviceInstance(), identity);
    EXPECT_FALSE(controller.DeviceAt(1)->Acquired());
    EXPECT_NE(controller.AcquireDevice(1), nullptr);
}

TEST_F(ControllerTest, AcquireRefusesOutOfRangeAndSecondAcquisition) {
    backend.Add(u"m", u"A");
    controller.ProcessNotifications();
    EXPECT_EQ(controller.AcquireDevice(-1), nullptr);
    EXPECT_EQ(controller.AcquireDevice(1), nullptr);
    EXPECT_NE(controller.AcquireDevice(0), nullptr);
    EXPECT_EQ(controller.AcquireDevice(0), nullptr);
}

TEST_F(ControllerTest, NotificationsDuringAScanAreDroppedNotQueued) {
    backend.Add(u"m", u"A");
    int nested = 0;
    controller.OnDeviceChange = [&] {
        ++changes;
        backend.Add(u"m", u"late");
        backend.signalled = true;
        EXPECT_TRUE(controller.InChange());
        controller.ProcessNotifications();  // a notification arriving inside the handler
        controller.NotifyDeviceChange();
        ++nested;
    };
    controller.ProcessNotifications();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(backend.enumerations, 1);
    EXPECT_FALSE(controller.InChange());
    EXPECT_FALSE(controller.ProcessNotifications());  // the dropped one is gone
    controller.OnDeviceChange = nullptr;
    controller.NotifyDeviceChange();  // the next notification rescans everything
    EXPECT_EQ(controller.DeviceCount(), 2);
}

TEST_F(ControllerTest, EnumerationOffersInOrderAndClosesDevicesNotAcquired) {
    backend.Add(u"m", u"A");
    backend.Add(u"m", u"B");
    backend.Add(u"m", u"C");
    controller.ProcessNotifications();
    controller.OnEnumerate = [&](HidDevice& d, int index) {
        std::uint8_t b[2] = {1};
        d.ReadFeature(b, 2);  // opens it
        if (index == 1) controller.AcquireDevice(index);
        return index < 1;  // stop after the second
    };
    EXPECT_EQ(controller.EnumerateDevices(), 2);
    EXPECT_FALSE(controller.DeviceAt(0)->IsOpen());
    EXPECT_TRUE(controller.DeviceAt(1)->IsOpen());
    EXPECT_FALSE(controller.DeviceAt(0)->Enumerating());

    controller.OnEnumerate = nullptr;  // without a handler the run ends at the first device
    EXPECT_EQ(controller.EnumerateDevices(), 1);
}

TEST_F(ControllerTest, StringsAreCachedAndReadOnlyWhileAccessible) {
    backend.Add(u"www.dravik.info", std::u16string(u"Quelvan2\0junk", 13));
    controller.ProcessNotifications();
    HidDevice* d = controller.DeviceAt(0);
    EXPECT_EQ(d->ManufacturerString(), u"");  // neither acquired nor being offered
    EXPECT_EQ(backend.stringReads, 0);
    controller.AcquireDevice(0);
    EXPECT_EQ(d->ProductString(), u"Quelvan2");  // kept up to the first zero
    EXPECT_EQ(d->ProductString(), u"Quelvan2");
    EXPECT_EQ(backend.stringReads, 1);
}

TEST_F(ControllerTest, SerialNumberEqualToTheLanguageListIsEmpty) {
    struct Case {
        std::u16string serial;
        std::optional<std::u16string> languages;
        std::u16string expected;
    } cases[] = {
        {u"ABC123", std::nullopt, u"ABC123"},  // platform cannot read the list
        {u"ABC123", u"\x0409", u"ABC123"},
        {u"\x0409", u"\x0409", u""},              // the device answered with its language list
        {u"\x0409xyz", u"\x0409", u""},           // equal in the first L characters
        {u"\x0407", u"\x0409\x0407", u"\x0407"},  // differs within L = 2
        {u"ABC", u"", u""},                       // L = 0
    };
    for (const auto& c : cases) {
        FakeBackend b;
        const auto id = b.Add(u"m", u"p");
        b.Get(id).serial = c.serial;
        b.Get(id).languages = c.languages;
        HidDeviceController ctl(b);
        ctl.ProcessNotifications();
        ctl.AcquireDevice(0);
        EXPECT_EQ(ctl.DeviceAt(0)->SerialNumberString(), c.expected);
    }
}

TEST_F(ControllerTest, QueryOnlyHandleFailsTransfersAndReportsTheOpenError) {
    const auto id = backend.Add(u"m", u"A");
    backend.Get(id).readWrite = false;
    controller.ProcessNotifications();
    HidDevice* d = controller.AcquireDevice(0);
    std::uint8_t buffer[3] = {1, 2, 3};
    std::vector<TransferRecord> seen;
    controller.SetTransferObserver([&](const TransferRecord& r) { seen.push_back(r); });
    EXPECT_FALSE(d->WriteFeature(buffer, 3));
    EXPECT_EQ(d->LastOpenError(), 13);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen[0].ok);
    EXPECT_EQ(FormatTransfer(seen[0]), "set 1 3 fail 01 02 03");

    // Access granted later (a udev rule) works at the next transfer, without re-plugging;
    // the read-write handle then stays open.
    const int opens = backend.opens;
    backend.Get(id).readWrite = true;
    EXPECT_TRUE(d->WriteFeature(buffer, 3));
    EXPECT_EQ(d->LastOpenError(), 0);
    EXPECT_TRUE(d->WriteFeature(buffer, 3));
    EXPECT_EQ(backend.opens, opens + 1);
}

TEST_F(ControllerTest, TraceLineShowsTheWholeBufferInLowerCaseHex) {
    TransferRecord r;
    r.isSet = false;
    r.ok = true;
    r.bytes = {0x03, 0xFF, 0x0A};
    EXPECT_EQ(FormatTransfer(r), "get 3 3 ok 03 ff 0a");
}

}  // namespace
}  // namespace quelvan
