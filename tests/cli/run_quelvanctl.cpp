#include "run_quelvanctl.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
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

pid_t SpawnTied(const std::vector<std::string>& args, const SpawnOutput& output) {
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int mode = O_WRONLY | O_CREAT | O_CLOEXEC | (output.append ? O_APPEND : O_TRUNC);
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = ::open(output.out.c_str(), mode, 0600);
    const int err =
        output.err == output.out ? ::fcntl(out, F_DUPFD_CLOEXEC, 0) : ::open(output.err.c_str(), mode, 0600);
    const pid_t parent = ::getpid();
    const pid_t pid = in >= 0 && out >= 0 && err >= 0 ? ::fork() : -1;
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(127);
        if (::dup2(in, STDIN_FILENO) < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0)
            ::_exit(127);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    for (const int fd : {in, out, err})
        if (fd >= 0) ::close(fd);
    return pid;
}

namespace {

struct Started {
    pid_t pid = 0;
    std::unique_ptr<ScratchDir> io;
};

Started Spawn(std::vector<std::string> all) {
    Started started{0, std::make_unique<ScratchDir>()};
    started.pid = SpawnTied(all, {started.io->File("stdout"), started.io->File("stderr")});
    if (started.pid < 0) throw std::runtime_error("cannot start " + all[0]);
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
