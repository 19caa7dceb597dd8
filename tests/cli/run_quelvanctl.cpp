#include "run_quelvanctl.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace quelvan::testing {

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quelvanctl-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

namespace {

struct Started {
    pid_t pid = 0;
    std::unique_ptr<ScratchDir> io;
};

Started Start(const std::vector<std::string>& args) {
    Started started{0, std::make_unique<ScratchDir>()};
    const std::string outPath = started.io->File("stdout"), errPath = started.io->File("stderr");
    std::vector<std::string> all = {QUELVANCTL_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int spawned = posix_spawn(&started.pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + all[0]);
    return started;
}

ProcessResult Wait(const Started& started) {
    int status = 0;
    while (waitpid(started.pid, &status, 0) < 0 && errno == EINTR) {
    }
    ProcessResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadFile(started.io->File("stdout"));
    result.err = ReadFile(started.io->File("stderr"));
    return result;
}

}  // namespace

ProcessResult RunQuelvanctlBinary(const std::vector<std::string>& args) {
    return Wait(Start(args));
}

std::vector<ProcessResult> RunQuelvanctlBinariesTogether(const std::vector<std::vector<std::string>>& argLists) {
    std::vector<Started> started;
    for (const auto& args : argLists) started.push_back(Start(args));
    std::vector<ProcessResult> results;
    for (const Started& s : started) results.push_back(Wait(s));
    return results;
}

}  // namespace quelvan::testing
