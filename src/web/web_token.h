#pragma once
// The web page's access token: random, made at the first start and kept in a file only the
// service's user may read, compared in constant time. There is no default token and no
// password: without a usable token file the page is not served.

#include <string>
#include <string_view>

namespace quelvan::service {

// Shorter tokens (a hand-made file) are refused.
inline constexpr std::size_t kMinWebTokenLength = 16;

struct WebTokenOutcome {
    std::string token;  // empty on failure
    std::string error;
    bool created = false;
};

// Reads the token from `path`, or, where the file does not exist, makes a new token and
// writes it there (mode 0600, its folder made with 0700 where missing). A file that is not
// a regular file of this user, that others may read or write, or that holds no token of at
// least kMinWebTokenLength printable characters is refused, not replaced.
WebTokenOutcome LoadOrCreateWebToken(const std::string& path);

// 32 characters of a-z and 2-7 (160 bits from the system's random source): easy to type on
// a phone, no characters that look alike.
std::string NewWebToken();

// Whether `given` is `expected`, in a time that depends on the length of `expected` only.
bool WebTokensEqual(std::string_view expected, std::string_view given);

}  // namespace quelvan::service
