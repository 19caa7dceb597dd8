#pragma once
// JSON output that cannot fail: arguments and device strings may hold bytes that are not
// UTF-8 (a file name in another encoding), which JSON cannot carry; they are replaced by
// U+FFFD instead of ending the program after its work was done.

#include <nlohmann/json.hpp>
#include <string>

namespace quelvan::cli {

template <typename Json>
std::string JsonText(const Json& value, int indent = -1) {
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

}  // namespace quelvan::cli
