#include "run_quelvanctl.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
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

Started Spawn(std::vector<std::string> all) {
    Started started{0, std::make_unique<ScratchDir>()};
    const std::string outPath = started.io->File("stdout"), errPath = started.io->File("stderr");
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

Started Start(const std::vector<std::string>& args) {
    std::vector<std::string> all = {QUELVANCTL_PATH};
    all.insert(all.end(), args.begin(), args.end());
    return Spawn(std::move(all));
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

// Run once more by CTest with QUELVAN_TEST_SERVICE naming quelvand, every command on a
// simulated board's state file goes through a service started on that file: the same
// tests, the same expectations, the board owned by the service.
class ServiceForTest {
public:
    // Nothing happens unless the test run asks for it and the arguments name a state file.
    explicit ServiceForTest(std::vector<std::string>& args) {
        if (!RunsThroughService()) return;
        const char* quelvand = std::getenv("QUELVAN_TEST_SERVICE");
        std::string state;
        auto it =
            std::find_if(args.begin(), args.end(), [](const std::string& a) { return a.rfind("--simulate=", 0) == 0; });
        if (it == args.end()) return;
        state = it->substr(std::strlen("--simulate="));
        dir_ = std::make_unique<ScratchDir>();
        const std::string socket = dir_->File("quelvand.sock"), config = dir_->File("quelvand.conf");
        // No polling: the service's own reads would shift the fault plans the tests set.
        std::ofstream(config) << "[service]\npoll_ms = 0\nsocket = " << socket << "\n";
        service_ = Spawn({quelvand, "--config", config, "--simulate=" + state});
        // Bounded: a service that cannot start (an unusable state file) leaves the command
        // to run on its own, as the test expects of that file.
        for (int i = 0; i < 2000 && !Answers(socket); ++i) {
            int status = 0;
            if (waitpid(service_.pid, &status, WNOHANG) == service_.pid) {
                service_.pid = 0;
                return;
            }
            usleep(5000);
        }
        *it = "--service";
        ::setenv("QUELVAN_SOCKET", socket.c_str(), 1);
    }
    ~ServiceForTest() { Stop(); }

    // The service's end: a crash or an error exit fails the command that used it.
    void Stop(ProcessResult* result = nullptr) {
        if (service_.pid <= 0) return;
        ::unsetenv("QUELVAN_SOCKET");
        ::kill(service_.pid, SIGTERM);
        const ProcessResult ended = Wait(service_);
        service_.pid = 0;
        if (result && ended.exitCode != 0) {
            result->exitCode = 99;
            result->err += "\nquelvand ended with " + std::to_string(ended.exitCode) + ": " + ended.err;
        }
    }

private:
    static bool Answers(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return ok;
    }

    std::unique_ptr<ScratchDir> dir_;
    Started service_;
};

}  // namespace

bool RunsThroughService() {
    const char* quelvand = std::getenv("QUELVAN_TEST_SERVICE");
    return quelvand && *quelvand;
}

ProcessResult RunQuelvanctlBinary(const std::vector<std::string>& args) {
    std::vector<std::string> used = args;
    ServiceForTest service(used);
    ProcessResult result = Wait(Start(used));
    service.Stop(&result);
    return result;
}

std::vector<ProcessResult> RunQuelvanctlBinariesTogether(const std::vector<std::vector<std::string>>& argLists) {
    std::vector<std::vector<std::string>> used = argLists;
    // One service for all of them, on the first one's board.
    std::optional<ServiceForTest> service;
    if (!used.empty()) {
        service.emplace(used.front());
        if (used.front() != argLists.front()) {
            for (std::size_t i = 1; i < used.size(); ++i)
                for (std::string& a : used[i])
                    if (a.rfind("--simulate=", 0) == 0) a = "--service";
        }
    }
    std::vector<Started> started;
    for (const auto& args : used) started.push_back(Start(args));
    std::vector<ProcessResult> results;
    for (const Started& s : started) results.push_back(Wait(s));
    if (service && !results.empty()) service->Stop(&results.front());
    return results;
}

}  // namespace quelvan::testing
