// Any argument vector after "quelvanctl --json", run on a simulated board in this process:
// nothing throws or crashes (bytes that are not UTF-8 included), the exit code is one of
// the documented ones, every failure prints exactly one JSON object {"ok": false, ...}, and
// what a success prints as JSON parses.
//
// Input: the arguments separated by zero bytes (at most 24, each at most 200 bytes). Files
// the commands name are made in a scratch folder that is emptied after every run; an
// argument with a '/' ends the run, so that nothing outside that folder is touched.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/quelvanctl.h"
#include "device/clock.h"
#include "fuzz_check.h"
#include "simulator/simulated_backend.h"

namespace {

constexpr std::size_t kMaxArguments = 24;
constexpr std::size_t kMaxArgumentBytes = 200;

std::filesystem::path& Scratch() {
    static std::filesystem::path folder;
    return folder;
}

void EmptyScratch() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(Scratch(), ignored))
        std::filesystem::remove_all(entry.path(), ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = (std::filesystem::temp_directory_path() / "quelvan-argv-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    Scratch() = pattern;
    if (::chdir(pattern.c_str()) != 0) std::abort();
    // A confirmation question must never wait for a person.
    if (!std::freopen("/dev/null", "r", stdin)) std::abort();
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(Scratch(), ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args = {"quelvanctl", "--json"};
    std::string current;
    for (std::size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0) {
            args.push_back(current);
            current.clear();
            if (args.size() > kMaxArguments + 2) return 0;
            continue;
        }
        if (current.size() == kMaxArgumentBytes) return 0;
        current.push_back(static_cast<char>(data[i]));
    }
    for (const std::string& a : args)
        if (a.find('/') != std::string::npos) return 0;
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());

    const quelvan::ManualClock clock(quelvan::LocalDateTime{2024, 5, 17, 13, 45, 30, 0});
    quelvan::sim::SimulatedHidBackend backend({}, &clock);
    backend.Board().SetFrozen(true);
    std::ostringstream out, err;
    const int code = quelvan::cli::RunQuelvanctl(static_cast<int>(argv.size()), argv.data(), backend, clock, out, err);
    EmptyScratch();

    FUZZ_CHECK(code >= 0 && code <= 5);
    const std::string text = out.str();
    if (code != 0) {
        // One line, one object, and it says that it failed.
        FUZZ_CHECK(!text.empty() && text.find('\n') == text.size() - 1);
        const auto json = nlohmann::json::parse(text, nullptr, false);
        FUZZ_CHECK(json.is_object() && json.contains("ok") && json["ok"] == false && json.contains("error"));
    } else if (!text.empty() && (text.front() == '{' || text.front() == '[')) {
        FUZZ_CHECK(!nlohmann::json::parse(text, nullptr, false).is_discarded());
    }
    return 0;
}
