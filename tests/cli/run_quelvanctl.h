#pragma once
// Runs the built quelvanctl binary with arguments and collects its output and exit code,
// and gives each test a scratch folder for state and trace files.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quelvan::testing {

struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Whether this test run sends every command on a state file through a service quelvand
// (QUELVAN_TEST_SERVICE names it; CTest runs the tests once without and once with it).
bool RunsThroughService();

// QUELVANCTL_PATH is set by the build to the binary under test.
ProcessResult RunQuelvanctlBinary(const std::vector<std::string>& args);
// Starts one process per argument list at once and waits for all of them.
std::vector<ProcessResult> RunQuelvanctlBinariesTogether(const std::vector<std::vector<std::string>>& argLists);

// A fresh, empty folder below the system's temporary folder, removed on destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Starts a program (looked up on PATH when the name has no '/') with standard input from
// /dev/null and its output into files (appended, or the file made empty first). The child is
// killed when the test process ends, even by a crash: a service or broker left behind would
// hold the test runner's files and ports. Returns the pid, or -1.
struct SpawnOutput {
    std::string out;
    std::string err;
    bool append = false;
};
pid_t SpawnTied(const std::vector<std::string>& args, const SpawnOutput& output);

std::string ReadFile(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path);

}  // namespace quelvan::testing
