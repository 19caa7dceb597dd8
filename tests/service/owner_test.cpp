// The owner in-process on a simulated board: what a bridge's session sees and sends, what is
// read back before a change is reported, and how sessions keep others and the poll out.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <thread>

#include "service/board_owner.h"
#include "simulator/simulated_backend.h"

namespace quelvan::service {
namespace {

std::vector<std::string> Summary(const sim::SimulatedHidBackend& backend) {
    std::vector<std::string> s;
    for (const sim::SimTransfer& t : backend.Transfers())
        s.push_back((t.isSet ? "set " : "get ") + std::to_string(t.bytes.at(0)));
    return s;
}

class Owner : public ::testing::Test {
protected:
    void SetUp() override {
        backend_.Board().SetFrozen(true);
        backend_.Board().Config().Mode = 0;
        owner_.Start();
        ASSERT_EQ(owner_.Devices().size(), 1u);
        device_ = owner_.Devices().front()->device;
        QObject::connect(&owner_, &BoardOwner::StateChanged,
                         [this](const QString&) { reported_.push_back(owner_.Find(device_)->live); });
    }

    sim::SimulatedHidBackend backend_;
    SystemClock clock_;
    BoardOwner owner_{backend_, clock_, OwnerOptions{}};
    std::string device_;
    std::vector<LiveState> reported_;
};

TEST_F(Owner, ABridgesSessionWorksOnFreshRecordsAndItsChangeIsReadBackBeforeItIsReported) {
    backend_.Board().Live().ChannelValue[3] = 999;  // changed behind the owner's last read
    backend_.ClearTransfers();
    bool ok = false;
    owner_.RunSession(
        "QV2-000123",
        [](BoardProtocol& board) {
            EXPECT_EQ(board.live.ChannelValue[3], 999);
            board.live.ChannelValue[2] = 1234;
            board.WriteLiveState(false, false, true);
        },
        [&](bool result, const std::string& error) { ok = result && error.empty(); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(Summary(backend_), (std::vector<std::string>{"get 1", "get 2", "get 4", "get 5", "get 6", "set 1",
                                                           "get 1", "get 2", "get 4", "get 5", "get 6"}));
    ASSERT_EQ(reported_.size(), 1u);
    EXPECT_EQ(reported_.back().ChannelValue[2], 1234);
    EXPECT_EQ(reported_.back().ChannelValue[3], 999);

    bool failed = false;
    owner_.RunSession(
        "QV2-999999", [](BoardProtocol&) { ADD_FAILURE() << "no such board"; },
        [&](bool result, const std::string&) { failed = !result; });
    EXPECT_TRUE(failed);
}

TEST_F(Owner, ASessionKeepsOthersAndThePollOutUntilItsHolderGoes) {
    const HolderId first = owner_.NewHolder(), second = owner_.NewHolder();
    ASSERT_TRUE(owner_.BeginSession(device_, first));
    EXPECT_FALSE(owner_.BeginSession(device_, second));
    bool ran = false;
    owner_.WhenFree(
        device_, second, [&] { ran = owner_.BeginSession(device_, second); },
        [](std::string_view, const std::string& why) { ADD_FAILURE() << why; });
    std::vector<std::uint8_t> get(42, 0);
    get[0] = 1;
    EXPECT_FALSE(owner_.Transfer(device_, second, false, get)) << "another holder's transfer";
    backend_.ClearTransfers();
    owner_.PollBoards();
    EXPECT_TRUE(backend_.Transfers().empty()) << "the poll leaves a board in a session alone";
    EXPECT_TRUE(owner_.Transfer(device_, first, false, get));

    owner_.ForgetHolder(first);  // as when its connection ends
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran);
    EXPECT_EQ(owner_.Find(device_)->sessionHolder, second);
    backend_.Unplug();
    owner_.ProcessDeviceChanges();
    EXPECT_TRUE(owner_.Devices().empty()) << "a board that left ends its session with it";
}

TEST(OwnerConfigPoll, APollReadsTheSettingsTooOnlyWhenTheyAreOlderThanConfigPollMs) {
    for (const int configPollMs : {0, 50}) {
        sim::SimulatedHidBackend backend;
        backend.Board().SetFrozen(true);
        SystemClock clock;
        OwnerOptions options;
        options.configPollMs = configPollMs;
        BoardOwner owner(backend, clock, options);
        owner.Start();
        backend.ClearTransfers();
        owner.PollBoards();
        EXPECT_EQ(Summary(backend), std::vector<std::string>{"get 1"}) << "settings just read, " << configPollMs;
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        backend.ClearTransfers();
        owner.PollBoards();
        const std::vector<std::string> withSettings = {"get 1", "get 2", "get 4", "get 5", "get 6"};
        EXPECT_EQ(Summary(backend), configPollMs > 0 ? withSettings : std::vector<std::string>{"get 1"})
            << configPollMs;
    }
}

// A client that keeps its session busy (a get every 40 ms, a new session as soon as the old one
// ends) against another holder's work and the poll: the session ends at its longest length,
// the other's work runs, and meanwhile the board is marked stale with the time of its last read.
TEST(OwnerSessions, ABusyHolderKeepsABoardNoLongerThanTheLongestSessionAndMeanwhileItIsStale) {
    sim::SimulatedHidBackend backend;
    backend.Board().SetFrozen(true);
    SystemClock clock;
    OwnerOptions options;
    options.pollMs = 100;
    options.sessionMaxMs = 800;
    BoardOwner owner(backend, clock, options);
    owner.Start();
    ASSERT_EQ(owner.Devices().size(), 1u);
    const std::string device = owner.Devices().front()->device;
    EXPECT_FALSE(owner.Devices().front()->stale);
    const qint64 firstRead = owner.Devices().front()->lastReadMs;
    EXPECT_GT(firstRead, 0);

    std::vector<nlohmann::json> reported;
    QObject::connect(&owner, &BoardOwner::StateChanged,
                     [&](const QString&) { reported.push_back(FreshnessJson(*owner.Find(device))); });
    const HolderId busy = owner.NewHolder(), other = owner.NewHolder();
    ASSERT_TRUE(owner.BeginSession(device, busy));
    QTimer keepBusy;
    QObject::connect(&keepBusy, &QTimer::timeout, [&] {
        std::vector<std::uint8_t> get(42, 0);
        get[0] = 1;
        if (owner.Find(device)->sessionHolder != busy)
            owner.WhenFree(
                device, busy, [&] { owner.BeginSession(device, busy); }, [](std::string_view, const std::string&) {});
        else
            owner.Transfer(device, busy, false, get);
    });
    keepBusy.start(40);
    QElapsedTimer waited;
    waited.start();
    qint64 otherRanAfter = -1;
    owner.WhenFree(
        device, other, [&] { otherRanAfter = waited.elapsed(); },
        [](std::string_view, const std::string& why) { ADD_FAILURE() << why; });
    while (otherRanAfter < 0 && waited.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    keepBusy.stop();

    ASSERT_GE(otherRanAfter, 0) << "the other holder's work never ran";
    EXPECT_GE(otherRanAfter, 700) << "the busy session lasted its full length";
    EXPECT_LT(otherRanAfter, 2000);
    ASSERT_GE(reported.size(), 2u);
    EXPECT_EQ(reported.front()["stale"], true) << "three poll periods without a read";
    const std::string lastRead = reported.front()["last_read"].get<std::string>();
    EXPECT_EQ(lastRead, QDateTime::fromMSecsSinceEpoch(firstRead, Qt::UTC).toString(Qt::ISODate).toStdString());
    EXPECT_EQ(lastRead.back(), 'Z') << lastRead;
    EXPECT_EQ(reported.back()["stale"], false) << "read again as the session ended";
    EXPECT_GT(owner.Find(device)->lastReadMs, firstRead);
}

// A flash runs in the bootloader's session: cutting it would leave the board in its bootloader.
TEST(OwnerSessions, ABootloadersSessionIsNotCutHoweverLongItLasts) {
    sim::SimulatedHidBackend backend;
    SystemClock clock;
    OwnerOptions options;
    options.pollMs = 100;
    options.sessionMaxMs = 300;
    BoardOwner owner(backend, clock, options);
    owner.Start();
    owner.RunSession(
        "", [](BoardProtocol& board) { board.EnterBootloader(); }, [](bool, const std::string&) {});
    QElapsedTimer t;
    t.start();
    const HeldDevice* loader = nullptr;
    while (!loader && t.elapsed() < 3000) {
        owner.ProcessDeviceChanges();
        for (const HeldDevice* d : owner.Devices())
            if (d->role != DeviceRole::Board) loader = d;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    ASSERT_TRUE(loader) << "the board did not come back as its bootloader";
    const std::string device = loader->device;
    const HolderId flasher = owner.NewHolder();
    ASSERT_TRUE(owner.BeginSession(device, flasher));
    t.restart();
    while (t.elapsed() < 1000) {
        std::vector<std::uint8_t> info(7, 0);
        info[0] = 1;
        EXPECT_TRUE(owner.Transfer(device, flasher, false, info));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    ASSERT_TRUE(owner.Find(device));
    EXPECT_EQ(owner.Find(device)->sessionHolder, flasher) << "three times the longest session of a board";
}

}  // namespace
}  // namespace quelvan::service
