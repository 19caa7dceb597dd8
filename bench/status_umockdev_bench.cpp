// `quelvanctl status` over the real hidapi/libudev backend against a board emulated by
// umockdev, side by side with a Python script doing the same five reads (bench/status_hid.py
// with Debian's python3-hid) under the same emulation. Whole processes, started alternately
// so that both see the same machine load; medians of the runs.
//
//     umockdev-wrapper build/bench/status_umockdev_bench QUELVANCTL PYTHON_SCRIPT [--runs N]
//                      [--breakdown] [--compare OTHER_QUELVANCTL]...
//     umockdev-wrapper build/bench/status_umockdev_bench --exec PROGRAM [ARGS...]
//
// --exec runs one program once on the emulated board and passes its output on (to look
// into a run with strace or perf, for instance).
//
// --breakdown adds the parts of the time (starting any process, quelvanctl without devices,
// listing without transfers, Python's start); --compare times another build's status too.
// Prints one line per program ("quelvanctl status: median 4.1 ms (min 3.8, max 6.0, 40 runs)")
// and the ratio. Exit code 1 when a program fails or the emulation cannot be started.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "umockdev_testbed.h"

namespace {

using quelvan::umock::EmulatedBoard;
using quelvan::umock::UmockdevTestbed;

struct Timing {
    std::vector<double> wallMs;
    std::vector<double> cpuMs;  // the child's user + system time

    static double Median(std::vector<double> v) {
        std::sort(v.begin(), v.end());
        const std::size_t n = v.size();
        return n == 0 ? 0.0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }
    double Wall() const { return Median(wallMs); }
    double Cpu() const { return Median(cpuMs); }
    double Min() const { return wallMs.empty() ? 0.0 : *std::min_element(wallMs.begin(), wallMs.end()); }
};

double Ms(const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
}

// Runs a program inside the emulation (it inherits the preload library and the testbed's
// folder from this process) with its output thrown away, and times it.
bool RunTimed(const std::vector<std::string>& argv, Timing& timing) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        if (null < 0) ::_exit(127);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", argv.front().c_str(), status);
        return false;
    }
    timing.wallMs.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    timing.cpuMs.push_back(Ms(usage.ru_utime) + Ms(usage.ru_stime));
    return true;
}

void Print(const std::string& name, const Timing& t) {
    std::printf("%-34s median %7.2f ms  (min %6.2f, cpu %6.2f ms, %zu runs)\n", name.c_str(), t.Wall(), t.Min(),
                t.Cpu(), t.wallMs.size());
}

// The emulation with one board plugged in; null (with the reason on stderr) when umockdev fails.
std::unique_ptr<UmockdevTestbed> StartWithBoard() {
    std::string error;
    auto testbed = UmockdevTestbed::Start(&error);
    if (!testbed) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return nullptr;
    }
    testbed->PlugBoard(std::make_shared<EmulatedBoard>());
    return testbed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--exec") == 0) {
        auto testbed = StartWithBoard();
        if (!testbed) return 1;
        const quelvan::umock::ProgramResult result = testbed->Run(std::vector<std::string>(argv + 2, argv + argc));
        std::fputs(result.out.c_str(), stdout);
        std::fputs(result.err.c_str(), stderr);
        return result.exitCode;
    }
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: umockdev-wrapper %s QUELVANCTL PYTHON_SCRIPT [--runs N] [--breakdown] [--compare "
                     "OTHER_QUELVANCTL]...\n",
                     argv[0]);
        return 2;
    }
    const std::string quelvanctl = argv[1];
    const std::string script = argv[2];
    int runs = 40;
    bool breakdown = false;
    std::vector<std::string> others;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        if (std::strcmp(argv[i], "--breakdown") == 0) breakdown = true;
        if (std::strcmp(argv[i], "--compare") == 0 && i + 1 < argc) others.push_back(argv[++i]);
    }

    auto testbed = StartWithBoard();
    if (!testbed) return 1;

    struct Program {
        std::string name;
        std::vector<std::string> argv;
        Timing timing;
    };
    std::vector<Program> programs = {
        {"quelvanctl status", {quelvanctl, "status"}, {}},
        {"python3-hid, the same reads", {"/usr/bin/python3", script}, {}},
    };
    // Where the time goes: starting any process, then quelvanctl without the devices, then
    // with the listing but no transfer; Python's start and its module import.
    if (breakdown) {
        programs.push_back({"  /bin/true", {"/bin/true"}, {}});
        programs.push_back({"  quelvanctl --version", {quelvanctl, "--version"}, {}});
        programs.push_back({"  quelvanctl list", {quelvanctl, "list"}, {}});
        programs.push_back({"  python3 -c pass", {"/usr/bin/python3", "-c", "pass"}, {}});
        programs.push_back({"  python3 -c 'import hidraw'", {"/usr/bin/python3", "-c", "import hidraw"}, {}});
    }
    for (const std::string& other : others) programs.push_back({"  " + other + " status", {other, "status"}, {}});
    // One unmeasured run of each loads the programs and libraries into the page cache; then
    // they take turns, so that all see the same load.
    for (Program& p : programs) {
        Timing warmUp;
        if (!RunTimed(p.argv, warmUp)) return 1;
    }
    for (int i = 0; i < runs; ++i)
        for (Program& p : programs)
            if (!RunTimed(p.argv, p.timing)) return 1;
    for (const Program& p : programs) Print(p.name, p.timing);
    std::printf("ratio (python / quelvanctl)         %.2f\n", programs[1].timing.Wall() / programs[0].timing.Wall());
    return 0;
}
