// The plugin process a driver runs, against the simulator feed at 10x, passive, its console on a
// pseudo-terminal of 80 columns: CPU time per processed row and share of a core (from
// /proc/<pid>/task/*/schedstat), console bytes per row, and the system calls per row counted by
// following the process with ptrace for a few seconds (by call, and for fstat by the object it
// asks about, so the event wait and the console write can be told from the rest). Beside it in
// the same run: the plugin waiting for the simulator (the floor), and the same race with the
// console going to /dev/null (what the console costs).
//
// 30 s of race per case at --benchmark_min_time of 1 s or more, 3 s below (the test run's short
// pass). Linux only. Run it where no other simulator feed is running, e.g. in a namespace of
// its own (dev.sh bench does):
//   unshare --ipc --mount sh -c 'mount -t tmpfs tmpfs /dev/shm && bin/plugin_process_bench'
//
// KORVANE_BENCH_WINE=<folder of the Windows build's programs> runs the Windows build under Wine
// instead (WINEPREFIX as the caller set it): the CPU is then that of the plugin's process and of
// Wine's console host, the rows are counted at the feed's 60 a second, and no calls are counted.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/user.h>
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
#include <map>
#include <mutex>
#include <set>
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

std::vector<std::string> command(const std::string& program, std::vector<std::string> args) {
    if (const char* d = wineDir()) {
        args.insert(args.begin(), (fs::path(d) / (program + ".exe")).string());
        args.insert(args.begin(), "wine");
    } else {
        args.insert(args.begin(), (programDir() / program).string());
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
        const std::string cmd = readFile(p.path() / "cmdline");
        if (cmd.find("Qm_Korvane_Plugin") != std::string::npos ||
            cmd.find("conhost") != std::string::npos) {
            pids.push_back(static_cast<pid_t>(std::stoi(name)));
        }
    }
    return pids;
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

// The system calls of every thread of `pid` over `seconds`, by name ("fstat event" and
// "fstat block" apart: the event wait's own check against the telemetry block's).
std::map<std::string, uint64_t> countCalls(pid_t pid, double seconds) {
    std::map<std::string, uint64_t> calls;
    std::set<pid_t> threads;
    std::error_code ec;
    for (const auto& t : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        const pid_t tid = static_cast<pid_t>(std::stoi(t.path().filename().string()));
        if (::ptrace(PTRACE_SEIZE, tid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACECLONE) ==
                0 &&
            ::ptrace(PTRACE_INTERRUPT, tid, nullptr, nullptr) == 0) {
            threads.insert(tid);
        }
    }
    if (threads.empty()) {
        return calls;
    }
    std::map<pid_t, bool> inCall;
    auto what = [pid](const user_regs_struct& regs) -> std::string {
        const long nr = static_cast<long>(regs.orig_rax);
        switch (nr) {
            case SYS_futex:
                return "futex";
            case SYS_write:
                return "write";
            case SYS_read:
                return "read";
            case SYS_poll:
                return "poll";
            case SYS_ppoll:
                return "ppoll";
            case SYS_nanosleep:
                return "nanosleep";
            case SYS_clock_nanosleep:
                return "clock_nanosleep";
            case SYS_clock_gettime:
                return "clock_gettime";
            case SYS_ioctl:
                return "ioctl";
            case SYS_fstat:
            case SYS_newfstatat: {
                const long fd = static_cast<long>(nr == SYS_fstat ? regs.rdi : regs.rdi);
                std::error_code e;
                const std::string target =
                    fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd),
                                     e)
                        .string();
                if (target.find("DataValidEvent") != std::string::npos) {
                    return "fstat event";
                }
                if (target.find("IRSDKMemMapFileName") != std::string::npos) {
                    return "fstat block";
                }
                return "fstat other";
            }
            default:
                return "call " + std::to_string(nr);
        }
    };
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    bool stopping = false;
    std::set<pid_t> detached;
    while (!threads.empty()) {
        int status = 0;
        const pid_t tid = ::waitpid(-1, &status, __WALL);
        if (tid < 0) {
            break;
        }
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            threads.erase(tid);
            continue;
        }
        if (!WIFSTOPPED(status)) {
            continue;
        }
        threads.insert(tid);
        if (!stopping && Clock::now() >= until) {
            stopping = true;
            for (pid_t t : threads) {
                if (t != tid) {
                    ::ptrace(PTRACE_INTERRUPT, t, nullptr, nullptr);
                }
            }
        }
        if (stopping) {
            ::ptrace(PTRACE_DETACH, tid, nullptr, nullptr);
            threads.erase(tid);
            continue;
        }
        const int sig = WSTOPSIG(status);
        int inject = 0;
        if (sig == (SIGTRAP | 0x80)) {
            bool& entering = inCall[tid];
            entering = !entering;
            if (entering) {
                user_regs_struct regs{};
                if (::ptrace(PTRACE_GETREGS, tid, nullptr, &regs) == 0) {
                    ++calls[what(regs)];
                }
            }
        } else if ((status >> 16) == 0 && sig != SIGTRAP && sig != SIGSTOP) {
            inject = sig;  // a real signal: hand it on
        }
        ::ptrace(PTRACE_SYSCALL, tid, nullptr, reinterpret_cast<void*>(static_cast<long>(inject)));
    }
    return calls;
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
        const pid_t plugin =
            spawn(command("Qm_Korvane_Plugin", {}), dir, term.slave(), term.slave());
        if (!term.ok() || plugin < 0) {
            state.SkipWithError("cannot start the plugin on a terminal");
            return;
        }
        waitFor([&] { return term.saw("Waiting for the sim"); }, 30);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const std::vector<pid_t> pids = measuredPids(plugin);
        const uint64_t cpu0 = cpuNs(pids);
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(raceSeconds));
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const double cpu = static_cast<double>(cpuNs(pids) - cpu0) * 1e-9;
        term.press('q');
        stopChild(plugin, 20);
        state.counters["core_pct"] = 100.0 * cpu / wall;
        state.counters["rows_per_s"] = 0;
    }
    fs::remove_all(dir);
}

void BM_PluginPassiveAgainstTheFeed(benchmark::State& state) {
    const bool console = state.range(0) == 1;
    const fs::path dir = workFolder(console ? "pty" : "null");
    for (auto _ : state) {
        const pid_t feed = spawn(
            command("Qm_Korvane_SimFeed", {"--scenario", "one_stop", "--time-scale", "10",
                                           "--no-keyboard", "--quiet", "--stop-file", "feed.stop"}),
            dir, "/dev/null", (dir / "feed.out").string());
        Terminal term;
        const pid_t plugin = spawn(command("Qm_Korvane_Plugin", {}), dir, term.slave(),
                                   console ? term.slave() : std::string("/dev/null"));
        if (!term.ok() || feed < 0 || plugin < 0) {
            state.SkipWithError("cannot start the feed or the plugin");
            return;
        }
        // Past the connection, the 3 s load pause and into the first rows.
        std::this_thread::sleep_for(std::chrono::seconds(6));
        if (console && !term.saw("Telemetry Loaded")) {
            waitFor([&] { return term.saw("Telemetry Loaded"); }, 30);
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        const std::vector<pid_t> pids = measuredPids(plugin);
        const uint64_t cpu0 = cpuNs(pids);
        const uint64_t bytes0 = term.bytes();
        RowCounter rows;
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(raceSeconds));
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const double cpu = static_cast<double>(cpuNs(pids) - cpu0) * 1e-9;
        const double n = std::max(1.0, rows.rows());
        const double bytes = static_cast<double>(term.bytes() - bytes0);

        std::map<std::string, uint64_t> calls;
        double countedRows = 0;
        if (!wineDir()) {
            RowCounter during;
            calls = countCalls(plugin, countSeconds);
            countedRows = std::max(1.0, during.rows());
        }
        { std::ofstream(dir / "feed.stop") << "stop\n"; }
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
        if (!calls.empty()) {
            uint64_t total = 0;
            for (const auto& [name, count] : calls) {
                total += count;
            }
            const uint64_t eventWait = calls["futex"] + calls["fstat event"];
            const uint64_t consoleWrite = calls["write"];
            state.counters["calls_per_row"] = static_cast<double>(total) / countedRows;
            state.counters["calls_per_row_besides_wait_and_console"] =
                static_cast<double>(total - eventWait - consoleWrite) / countedRows;
            state.counters["fstat_block_per_row"] =
                static_cast<double>(calls["fstat block"]) / countedRows;
            std::string detail;
            for (const auto& [name, count] : calls) {
                char item[96];
                std::snprintf(item, sizeof item, "%s%s %.2f", detail.empty() ? "" : ", ",
                              name.c_str(), static_cast<double>(count) / countedRows);
                detail += item;
            }
            state.SetLabel("calls per row: " + detail);
        }
    }
    fs::remove_all(dir);
}

BENCHMARK(BM_PluginWaitingForTheSim)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
// 1: console on the terminal; 0: console to /dev/null (input still the terminal).
BENCHMARK(BM_PluginPassiveAgainstTheFeed)
    ->ArgName("console_on_terminal")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

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
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
