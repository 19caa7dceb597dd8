// The web page's small rules: the token's file, made once for the service alone.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "run_quelvanctl.h"
#include "web/web_token.h"

namespace quelvan::service {
namespace {

TEST(WebRules, TheWebTokenIsMadeOnceForTheServiceAloneAndAFileOthersMayReadIsRefused) {
    testing::ScratchDir dir;
    const std::string path = dir.File("state/quelvan/web-token");
    const WebTokenOutcome made = LoadOrCreateWebToken(path);
    ASSERT_TRUE(made.created) << made.error;
    EXPECT_EQ(made.token.size(), 32u);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(dir.File("state/quelvan").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    const WebTokenOutcome again = LoadOrCreateWebToken(path);
    EXPECT_FALSE(again.created);
    EXPECT_EQ(again.token, made.token);
    EXPECT_NE(NewWebToken(), made.token);

    struct Case {
        const char* what;
        std::string text;
        mode_t mode;
        bool usable;
    };
    const Case cases[] = {
        {"a hand-made token", "my-own-long-token-of-30-chars!\n", 0600, true},
        {"readable by others", "my-own-long-token-of-30-chars!\n", 0644, false},
        {"too short", "short\n", 0600, false},
        {"not printable", std::string("a-token-with-a-\x01-in-its-middle\n"), 0600, false},
    };
    for (const Case& c : cases) {
        const std::string file = dir.File("hand-made");
        std::ofstream(file, std::ios::trunc) << c.text;
        ::chmod(file.c_str(), c.mode);
        const WebTokenOutcome read = LoadOrCreateWebToken(file);
        EXPECT_EQ(!read.token.empty(), c.usable) << c.what << ": " << read.error;
        EXPECT_FALSE(read.created) << c.what << ": a bad file is refused, not replaced";
    }

    EXPECT_TRUE(WebTokensEqual("abcdefghijklmnop", "abcdefghijklmnop"));
    for (const char* wrong : {"", "abcdefghijklmno", "abcdefghijklmnopq", "Abcdefghijklmnop", "abcdefghijklmnoq"})
        EXPECT_FALSE(WebTokensEqual("abcdefghijklmnop", wrong)) << wrong;
}

}  // namespace
}  // namespace quelvan::service
