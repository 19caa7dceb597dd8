// The backend choice and the string conversion of the real backend; no devices needed.

#include "backend/backend_factory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "backend/hidapi_backend.h"
#include "device/identification.h"

namespace quelvan {
namespace {

TEST(WideToUtf16, CarriesEveryCharacterUtf16Can) {
    struct Case {
        const wchar_t* in;
        std::u16string out;
    };
    const Case cases[] = {
        {nullptr, u""},
        {L"", u""},
        {L"www.dravik.info", u"www.dravik.info"},
        {L"M\u00FCller \u00DF", u"M\u00FCller \u00DF"},
        {L"\U0001F3B9!", u"\U0001F3B9!"},  // a surrogate pair
        {L"\U0010FFFF", u"\U0010FFFF"},
    };
    for (const auto& c : cases) EXPECT_EQ(WideToUtf16(c.in), c.out);

    // What UTF-16 cannot carry becomes the replacement character.
    const wchar_t invalid[] = {L'a', static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000), L'b', 0};
    EXPECT_EQ(WideToUtf16(invalid), u"a\uFFFD\uFFFDb");
}

class MakeBackendTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (!path_.empty()) std::remove(path_.c_str());
    }
    std::string TempPath() {
        path_ = ::testing::TempDir() + "quelvan_backend_state_" + std::to_string(::getpid()) + ".json";
        std::remove(path_.c_str());
        return path_;
    }
    ManualClock clock_;
    std::string path_;
};

TEST_F(MakeBackendTest, SimulateGivesTheSimulatedBoard) {
    std::string error;
    auto backend = MakeBackend({true, ""}, clock_, &error);
    ASSERT_NE(backend, nullptr) << error;
    const auto devices = backend->Enumerate();
    ASSERT_FALSE(devices.empty());
    EXPECT_EQ(backend->ReadString(devices[0], HidString::Product), std::u16string(kBoardProduct));
}

TEST_F(MakeBackendTest, SimulatedBoardLivesOnInItsStateFile) {
    const std::string path = TempPath();
    std::string error;
    {
        auto backend = MakeBackend({true, path}, clock_, &error);
        ASSERT_NE(backend, nullptr) << error;
    }
    std::ifstream saved(path);
    EXPECT_TRUE(saved.good()) << "the state file was written";
}

TEST_F(MakeBackendTest, AnUnreadableStateFileIsReportedNotIgnored) {
    const std::string path = TempPath();
    std::ofstream(path) << "{ this is not a board";
    std::string error;
    auto backend = MakeBackend({true, path}, clock_, &error);
    EXPECT_EQ(backend, nullptr);
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace quelvan
