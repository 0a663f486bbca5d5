// The plugin process a driver runs, against the simulator feed at 10x, passive, its console on a
// pseudo-terminal of 80 columns: CPU time per processed row and share of a core (from
// /proc/<pid>/task/*/schedstat), console bytes per row, and the system calls per row counted by
// the kernel's performance counters on its system-call tracepoint for a few seconds (all, and
// by kind: the event wait's futex, the console's write, the mapping's size, the key check).
// Beside it in the same run: the plugin waiting for the simulator (CPU, wake-ups and calls a
// second), the same race with the console going to /dev/null (what the console costs), and the
// same race read by Qm_Korvane_EventWaiter, which only waits on the event 16 ms at a time (the
// floor: what waking a process at the simulator's rate costs on this machine).
//
// 30 s of race per case at --benchmark_min_time of 1 s or more, 3 s below (the test run's short
// pass). Linux only. Run it where no other simulator feed is running, e.g. in a namespace of
// its own (dev.sh bench does):
//   unshare --ipc --mount sh -c 'mount -t tmpfs tmpfs /dev/shm && bin/plugin_process_bench'
//
// KORVANE_BENCH_WINE=<folder of the Windows build's programs> runs the Windows build under Wine
// instead (WINEPREFIX as the caller set it): the CPU is then that of the plugin's process and of
// Wine's console host, the rows are counted at the feed's 60 a second, and no calls are counted.
//
// KORVANE_BENCH_BASELINE=<folder of another build's programs, of the same platform> runs every
// case with those programs too, just before this build's: a before and after in one run. E.g.
// against the main branch:
//   git worktree add /tmp/base main
//   cmake --preset linux-release -S /tmp/base -B build/base
//   cmake --build build/base --target Qm_Korvane_Plugin Qm_Korvane_SimFeed
//   KORVANE_BENCH_BASELINE=$PWD/build/base/bin unshare --ipc --mount sh -c
//     'mount -t tmpfs tmpfs /dev/shm && build/linux-release/bin/plugin_process_bench
//      --benchmark_min_time=1'   (one line)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <linux/perf_event.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double raceSeconds = 3.0;
double countSeconds = 1.0;

fs::path programDir() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

const char* wineDir() {
    const char* d = std::getenv("KORVANE_BENCH_WINE");
    return d && *d ? d : nullptr;
}

// KORVANE_BENCH_BASELINE: the folder of another build's programs (e.g. one built from the
// main branch), measured case by case beside this build's in the same run.
const char* baselineDir() {
    const char* d = std::getenv("KORVANE_BENCH_BASELINE");
    return d && *d ? d : nullptr;
}

// The programs of this build, or of the baseline for a case whose `build` argument is 1.
std::vector<std::string> command(const std::string& program, std::vector<std::string> args,
                                 bool baseline) {
    const fs::path dir = baseline    ? fs::path(baselineDir())
                         : wineDir() ? fs::path(wineDir())
                                     : programDir();
    if (wineDir()) {
        args.insert(args.begin(), (dir / (program + ".exe")).string());
        args.insert(args.begin(), "wine");
    } else {
        args.insert(args.begin(), (dir / program).string());
    }
    return args;
}

// The console of a child: a pseudo-terminal of 80 columns whose output this process reads and
// counts, as a terminal window would.
class Terminal {
  public:
    Terminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            return;
        }
        slave_ = ::ptsname(master_);
        winsize size{};
        size.ws_col = 80;
        size.ws_row = 25;
        ::ioctl(master_, TIOCSWINSZ, &size);
        reader_ = std::thread([this] { drain(); });
    }
    ~Terminal() {
        stop_ = true;
        if (reader_.joinable()) {
            reader_.join();
        }
        if (master_ >= 0) {
            ::close(master_);
        }
    }
    bool ok() const { return !slave_.empty(); }
    const std::string& slave() const { return slave_; }
    void press(char key) { [[maybe_unused]] ssize_t n = ::write(master_, &key, 1); }
    uint64_t bytes() const { return bytes_; }
    bool saw(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_.find(text) != std::string::npos;
    }

  private:
    void drain() {
        char buf[65536];
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) {
                continue;
            }
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            bytes_ += static_cast<uint64_t>(n);
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.append(buf, static_cast<size_t>(n));
            if (seen_.size() > (1u << 20)) {
                seen_.erase(0, seen_.size() - (1u << 16));
            }
        }
    }

    int master_ = -1;
    std::string slave_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> bytes_{0};
    std::mutex mutex_;
    std::string seen_;
};

pid_t spawn(const std::vector<std::string>& args, const fs::path& dir, const std::string& in,
            const std::string& out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in.c_str(), O_RDWR, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A session of its own, so the terminal opened as its input becomes its console.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool exited(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

void stopChild(pid_t pid, int seconds) {
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < until) {
        if (exited(pid)) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// CPU time of every thread of `pid`, in nanoseconds.
uint64_t cpuNs(pid_t pid) {
    uint64_t total = 0;
    std::error_code ec;
    for (const auto& t : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        total += std::strtoull(readFile(t.path() / "schedstat").c_str(), nullptr, 10);
    }
    return total;
}

// Under Wine: the plugin's own process and Wine's console host.
std::vector<pid_t> measuredPids(pid_t plugin) {
    if (!wineDir()) {
        return {plugin};
    }
    std::vector<pid_t> pids;
    std::error_code ec;
    for (const auto& p : fs::directory_iterator("/proc", ec)) {
        const std::string name = p.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        // Only this Wine session's: other programs may run other plugins.
        const char* prefix = std::getenv("WINEPREFIX");
        const std::string env = readFile(p.path() / "environ");
        if (!prefix || env.find(std::string("WINEPREFIX=") + prefix + '\0') == std::string::npos) {
            continue;
        }
        const std::string cmd = readFile(p.path() / "cmdline");
        if (cmd.find("Qm_Korvane_Plugin") != std::string::npos ||
            cmd.find("Qm_Korvane_EventWaiter") != std::string::npos ||
            cmd.find("conhost") != std::string::npos) {
            pids.push_back(static_cast<pid_t>(std::stoi(name)));
        }
    }
    return pids;
}

// Times the threads of `pid` went to sleep (each a wake-up later), from the kernel's count.
uint64_t sleeps(pid_t pid) {
    uint64_t total = 0;
    std::error_code ec;
    for (const auto& t : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        const std::string status = readFile(t.path() / "status");
        const size_t at = status.find("voluntary_ctxt_switches:");
        if (at != std::string::npos) {
            total += std::strtoull(status.c_str() + at + 24, nullptr, 10);
        }
    }
    return total;
}

uint64_t cpuNs(const std::vector<pid_t>& pids) {
    uint64_t total = 0;
    for (pid_t p : pids) {
        total += cpuNs(p);
    }
    return total;
}

// The newest tick count the simulator feed published (Linux feed: its block in /dev/shm).
int64_t newestTick() {
    const int fd = ::open("/dev/shm/IRSDKMemMapFileName", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    int64_t newest = -1;
    void* p = ::mmap(nullptr, 112, PROT_READ, MAP_SHARED, fd, 0);
    if (p != MAP_FAILED) {
        const auto* h = static_cast<const int32_t*>(p);
        const int buffers = std::clamp(h[8], 0, 4);
        for (int i = 0; i < buffers; ++i) {
            newest = std::max<int64_t>(newest, h[12 + 4 * i]);
        }
        ::munmap(p, 112);
    }
    ::close(fd);
    return newest;
}

// Rows published over a stretch of time (Wine: the feed's 60 a second).
class RowCounter {
  public:
    RowCounter() : start_(Clock::now()), tick_(wineDir() ? -1 : newestTick()) {}
    double rows() const {
        if (tick_ >= 0) {
            return static_cast<double>(newestTick() - tick_);
        }
        return 60.0 * std::chrono::duration<double>(Clock::now() - start_).count();
    }

  private:
    Clock::time_point start_;
    int64_t tick_;
};

// The id of the kernel's system-call entry tracepoint; tracefs is mounted where it is missing
// (this runs in a mount namespace of its own under dev.sh). -1 when there is none.
long syscallTracepoint() {
    for (const char* dir : {"/sys/kernel/tracing", "/sys/kernel/debug/tracing"}) {
        const std::string id = readFile(fs::path(dir) / "events/raw_syscalls/sys_enter/id");
        if (!id.empty()) {
            return std::strtol(id.c_str(), nullptr, 10);
        }
    }
    if (::mount("nodev", "/sys/kernel/tracing", "tracefs", 0, nullptr) == 0) {
        const std::string id = readFile("/sys/kernel/tracing/events/raw_syscalls/sys_enter/id");
        if (!id.empty()) {
            return std::strtol(id.c_str(), nullptr, 10);
        }
    }
    return -1;
}

// Counts the system calls every thread of a process enters (all of them, or those a
// tracepoint filter such as "id == 202" selects), through the kernel's performance counters:
// nothing is stopped or slowed, unlike under a tracer.
class CallCounter {
  public:
    CallCounter(pid_t pid, long tracepoint, const char* filter) {
        std::error_code ec;
        for (const auto& t : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
            perf_event_attr attr{};
            attr.type = PERF_TYPE_TRACEPOINT;
            attr.size = sizeof attr;
            attr.config = static_cast<uint64_t>(tracepoint);
            attr.inherit = 1;  // threads started later count too
            const pid_t tid = static_cast<pid_t>(std::stoi(t.path().filename().string()));
            const int fd = static_cast<int>(
                ::syscall(SYS_perf_event_open, &attr, tid, -1, -1, PERF_FLAG_FD_CLOEXEC));
            if (fd < 0) {
                continue;
            }
            if (filter && ::ioctl(fd, PERF_EVENT_IOC_SET_FILTER, filter) != 0) {
                ::close(fd);
                continue;
            }
            fds_.push_back(fd);
        }
    }
    ~CallCounter() {
        for (int fd : fds_) {
            ::close(fd);
        }
    }
    bool ok() const { return !fds_.empty(); }
    uint64_t count() const {
        uint64_t total = 0;
        for (int fd : fds_) {
            uint64_t n = 0;
            if (::read(fd, &n, sizeof n) == sizeof n) {
                total += n;
            }
        }
        return total;
    }

  private:
    std::vector<int> fds_;
};

struct CallCounts {
    bool ok = false;
    double total = 0, futex = 0, write = 0, fstat = 0, ioctl = 0, poll = 0, rows = 0;
};

// The calls of `pid` per row over `seconds`: all of them, and by kind those of the event wait
// (its futex), of the console (its write), and the usual others (the mapping's size, the key
// check, the console's width).
CallCounts countCalls(pid_t pid, double seconds) {
    CallCounts c;
    const long tp = syscallTracepoint();
    if (tp < 0) {
        return c;
    }
    CallCounter all(pid, tp, nullptr);
    CallCounter futex(pid, tp, "id == 202");
    CallCounter write(pid, tp, "id == 1 || id == 20");
    CallCounter fstat(pid, tp, "id == 5 || id == 262");
    CallCounter ioctl(pid, tp, "id == 16");
    CallCounter poll(pid, tp, "id == 7 || id == 271");
    if (!all.ok() || !futex.ok() || !write.ok() || !fstat.ok() || !ioctl.ok() || !poll.ok()) {
        return c;
    }
    const uint64_t a0 = all.count(), f0 = futex.count(), w0 = write.count(), s0 = fstat.count(),
                   i0 = ioctl.count(), p0 = poll.count();
    RowCounter rows;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    c.rows = std::max(1.0, rows.rows());
    c.total = static_cast<double>(all.count() - a0) / c.rows;
    c.futex = static_cast<double>(futex.count() - f0) / c.rows;
    c.write = static_cast<double>(write.count() - w0) / c.rows;
    c.fstat = static_cast<double>(fstat.count() - s0) / c.rows;
    c.ioctl = static_cast<double>(ioctl.count() - i0) / c.rows;
    c.poll = static_cast<double>(poll.count() - p0) / c.rows;
    c.ok = true;
    return c;
}

fs::path workFolder(const char* name) {
    fs::path dir = fs::temp_directory_path() /
                   (std::string("korvane-proc-") + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream ini(dir / "Qm_Korvane_Launcher.ini");
    ini << "[Setup]\nPassiveMode=1\nUseSerial=0\nSetupComplete=1\n\n"
           "[Service]\nHost=127.0.0.1\nPort=9\nSecure=0\n";
    return dir;
}

bool waitFor(const std::function<bool()>& done, int seconds) {
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < until) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Baseline: the plugin on its terminal, waiting for a simulator that is not there.
void BM_PluginWaitingForTheSim(benchmark::State& state) {
    const fs::path dir = workFolder("idle");
    for (auto _ : state) {
        Terminal term;
        const pid_t plugin = spawn(command("Qm_Korvane_Plugin", {}, state.range(0) == 1), dir,
                                   term.slave(), term.slave());
        if (!term.ok() || plugin < 0) {
            state.SkipWithError("cannot start the plugin on a terminal");
            return;
        }
        waitFor([&] { return term.saw("Waiting for the sim"); }, 30);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const std::vector<pid_t> pids = measuredPids(plugin);
        const long tp = wineDir() ? -1 : syscallTracepoint();
        std::unique_ptr<CallCounter> calls;
        if (tp >= 0) {
            calls = std::make_unique<CallCounter>(plugin, tp, nullptr);
        }
        const uint64_t calls0 = calls && calls->ok() ? calls->count() : 0;
        const uint64_t sleeps0 = sleeps(plugin);
        const uint64_t cpu0 = cpuNs(pids);
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(raceSeconds));
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const double cpu = static_cast<double>(cpuNs(pids) - cpu0) * 1e-9;
        const double woke = static_cast<double>(sleeps(plugin) - sleeps0);
        if (calls && calls->ok()) {
            state.counters["calls_per_s"] = static_cast<double>(calls->count() - calls0) / wall;
        }
        term.press('q');
        stopChild(plugin, 20);
        state.counters["core_pct"] = 100.0 * cpu / wall;
        // What the wait alone costs each row of a 60 Hz simulator.
        state.counters["cpu_us_per_60hz_row"] = 1e6 * cpu / wall / 60.0;
        state.counters["wakeups_per_s"] = woke / wall;
        state.counters["rows_per_s"] = 0;
    }
    fs::remove_all(dir);
}

void BM_PluginPassiveAgainstTheFeed(benchmark::State& state) {
    const bool console = state.range(0) == 1;
    const bool baseline = state.range(1) == 1;
    // In place of the plugin, a program that only waits on the event: the floor.
    const bool waiter = state.range(2) == 1;
    const fs::path dir = workFolder(waiter ? "waiter" : console ? "pty" : "null");
    for (auto _ : state) {
        const pid_t feed = spawn(command("Qm_Korvane_SimFeed",
                                         {"--scenario", "one_stop", "--time-scale", "10",
                                          "--no-keyboard", "--quiet", "--stop-file", "feed.stop"},
                                         baseline),
                                 dir, "/dev/null", (dir / "feed.out").string());
        Terminal term;
        const pid_t plugin =
            waiter
                ? spawn(command("Qm_Korvane_EventWaiter", {}, false), dir, "/dev/null", "/dev/null")
                : spawn(command("Qm_Korvane_Plugin", {}, baseline), dir, term.slave(),
                        console ? term.slave() : std::string("/dev/null"));
        if (!term.ok() || feed < 0 || plugin < 0) {
            state.SkipWithError("cannot start the feed or the plugin");
            return;
        }
        // Past the connection, the 3 s load pause and into the first rows.
        std::this_thread::sleep_for(std::chrono::seconds(wineDir() ? 15 : 6));
        if (console && !wineDir() && !term.saw("Telemetry Loaded")) {
            waitFor([&] { return term.saw("Telemetry Loaded"); }, 30);
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        const std::vector<pid_t> pids = measuredPids(plugin);
        std::vector<pid_t> hosts;  // Wine's console host alone
        for (pid_t p : pids) {
            if (readFile("/proc/" + std::to_string(p) + "/cmdline").find("conhost") !=
                std::string::npos) {
                hosts.push_back(p);
            }
        }
        const uint64_t cpu0 = cpuNs(pids);
        const uint64_t host0 = cpuNs(hosts);
        const uint64_t sleeps0 = sleeps(plugin);
        const uint64_t bytes0 = term.bytes();
        RowCounter rows;
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(raceSeconds));
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const double cpu = static_cast<double>(cpuNs(pids) - cpu0) * 1e-9;
        const double hostCpu = static_cast<double>(cpuNs(hosts) - host0) * 1e-9;
        const double woke = static_cast<double>(sleeps(plugin) - sleeps0);
        const double n = std::max(1.0, rows.rows());
        const double bytes = static_cast<double>(term.bytes() - bytes0);

        CallCounts calls;
        if (!wineDir()) {
            calls = countCalls(plugin, countSeconds);
        }
        { std::ofstream(dir / "feed.stop") << "stop\n"; }
        if (waiter) {
            ::kill(plugin, SIGTERM);
        }
        term.press('q');
        stopChild(plugin, 30);
        stopChild(feed, 30);
        if (n < 10) {
            state.SkipWithError("the feed published no rows");
            return;
        }
        state.counters["rows"] = n;
        state.counters["cpu_us_per_row"] = 1e6 * cpu / n;
        state.counters["core_pct"] = 100.0 * cpu / wall;
        state.counters["console_bytes_per_row"] = bytes / n;
        state.counters["wakeups_per_row"] = woke / n;
        if (!hosts.empty()) {
            state.counters["console_host_core_pct"] = 100.0 * hostCpu / wall;
        }
        if (calls.ok) {
            state.counters["calls_per_row"] = calls.total;
            state.counters["calls_per_row_besides_wait_and_console"] =
                calls.total - calls.futex - calls.write;
            state.counters["fstat_per_row"] = calls.fstat;
            state.counters["futex_per_row"] = calls.futex;
            state.counters["write_per_row"] = calls.write;
            state.counters["ioctl_per_row"] = calls.ioctl;
            state.counters["poll_per_row"] = calls.poll;
        }
    }
    fs::remove_all(dir);
}

// Each case of the baseline build, when one is named, just before the same case of this one;
// last, the floor: a program that only waits on the event.
void Register() {
    const std::vector<int64_t> builds =
        baselineDir() ? std::vector<int64_t>{1, 0} : std::vector<int64_t>{0};
    for (int64_t build : builds) {
        benchmark::RegisterBenchmark("BM_PluginWaitingForTheSim", BM_PluginWaitingForTheSim)
            ->ArgName("baseline")
            ->Arg(build)
            ->Iterations(1)
            ->UseRealTime()
            ->Unit(benchmark::kSecond);
    }
    // console_on_terminal 1: console on the terminal; 0: to /dev/null (input still the
    // terminal).
    for (int64_t console : {1, 0}) {
        for (int64_t build : builds) {
            benchmark::RegisterBenchmark("BM_PluginPassiveAgainstTheFeed",
                                         BM_PluginPassiveAgainstTheFeed)
                ->ArgNames({"console_on_terminal", "baseline", "only_waits"})
                ->Args({console, build, 0})
                ->Iterations(1)
                ->UseRealTime()
                ->Unit(benchmark::kSecond);
        }
    }
    benchmark::RegisterBenchmark("BM_PluginPassiveAgainstTheFeed", BM_PluginPassiveAgainstTheFeed)
        ->ArgNames({"console_on_terminal", "baseline", "only_waits"})
        ->Args({0, 0, 1})
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kSecond);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const std::string key = "--benchmark_min_time=";
        if (a.rfind(key, 0) == 0 && std::strtod(a.c_str() + key.size(), nullptr) >= 1.0) {
            raceSeconds = 30.0;
            countSeconds = 5.0;
        }
    }
    Register();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
