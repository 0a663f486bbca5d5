// The plugin's resident memory through the simulator feed's two-hour race at a high time scale,
// against the same plugin waiting for the simulator (the baseline). Linux only: memory is read
// from /proc. The programs are the ones beside this benchmark; the service is left away (its
// answers are empty), the sound goes to a capture file.
//
// Run it where no other simulator feed is running, e.g. in a namespace of its own:
//   unshare --ipc --mount sh -c 'mount -t tmpfs tmpfs /dev/shm && bin/plugin_memory_bench'
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path programDir() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

double residentMb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long kb = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> kb;
            return static_cast<double>(kb) / 1024.0;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0.0;
}

struct Child {
    pid_t pid = -1;
    int keyFd = -1;  // the plugin's standard input: a byte is the driver's key
};

Child spawn(const std::vector<std::string>& args, const fs::path& dir, bool keyPipe,
            const std::vector<std::string>& extraEnv) {
    Child c;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipeFds[2] = {-1, -1};
    if (keyPipe && ::pipe(pipeFds) == 0) {
        posix_spawn_file_actions_adddup2(&actions, pipeFds[0], STDIN_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
        c.keyFd = pipeFds[1];
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (dir / "stderr.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    std::vector<std::string> envStrings(extraEnv);
    for (char** e = environ; *e; ++e) {
        envStrings.emplace_back(*e);
    }
    std::vector<char*> argv, envp;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : envStrings)
        envp.push_back(const_cast<char*>(e.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    if (posix_spawn(&c.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        c.pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    if (pipeFds[0] >= 0) {
        ::close(pipeFds[0]);
    }
    return c;
}

bool exited(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

// Presses the key and waits up to a minute for the plugin's orderly close.
void closePlugin(Child& plugin) {
    if (plugin.keyFd >= 0) {
        [[maybe_unused]] ssize_t n = ::write(plugin.keyFd, "q", 1);
        ::close(plugin.keyFd);
    }
    const auto until = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < until) {
        if (exited(plugin.pid)) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(plugin.pid, SIGKILL);
    ::waitpid(plugin.pid, nullptr, 0);
}

fs::path workFolder(const char* name) {
    fs::path dir = fs::temp_directory_path() /
                   (std::string("korvane-") + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream ini(dir / "Qm_Korvane_Launcher.ini");
    ini << "[Setup]\nPassiveMode=0\nUseSerial=0\nSetupComplete=1\n\n"
           "[Service]\nHost=127.0.0.1\nPort=9\nSecure=0\n";
    return dir;
}

std::vector<std::string> pluginEnv(const fs::path& dir) {
    return {"KORVANE_AUDIO_CAPTURE=" + (dir / "audio.wav").string()};
}

struct Samples {
    double peak = 0, final = 0;
    std::vector<double> floors;  // the lowest sample of each 10 s window after settling
};

// Samples every 250 ms while `running` holds; `settleSeconds` is when the first racing laps are
// behind the plugin and its memory should stop growing. Sounds still being heard are live data
// and come and go with the messages, so growth is judged on the windows' floors: what is not
// released raises every later floor.
template <typename Running>
Samples sample(pid_t pid, double settleSeconds, Running running) {
    Samples s;
    const auto start = Clock::now();
    while (running()) {
        const double mb = residentMb(pid);
        const double t = std::chrono::duration<double>(Clock::now() - start).count();
        if (mb > 0) {
            s.peak = std::max(s.peak, mb);
            s.final = mb;
            if (t >= settleSeconds) {
                const auto window = static_cast<std::size_t>((t - settleSeconds) / 10.0);
                if (window >= s.floors.size()) {
                    s.floors.resize(window + 1, mb);
                }
                s.floors[window] = std::min(s.floors[window], mb);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return s;
}

void report(benchmark::State& state, const Samples& s) {
    const double settled = s.floors.empty() ? 0 : s.floors.front();
    const double highest =
        s.floors.empty() ? 0 : *std::max_element(s.floors.begin(), s.floors.end());
    state.counters["peak_MB"] = s.peak;
    state.counters["settled_MB"] = settled;
    state.counters["growth_after_settle_MB"] = highest - settled;
    state.counters["final_MB"] = s.final;
}

// After the race the plugin is left alone until its last messages have been heard: what is
// resident then, against the first floor after settling, is what the race kept.
void reportKept(benchmark::State& state, const Samples& race, const Samples& quiet) {
    if (race.floors.empty() || quiet.floors.empty()) {
        return;
    }
    const double quietFloor = *std::min_element(quiet.floors.begin(), quiet.floors.end());
    state.counters["after_race_MB"] = quietFloor;
    state.counters["kept_by_race_MB"] = quietFloor - race.floors.front();
}

// Baseline: the plugin started and waiting for the simulator.
void BM_PluginWaitingForTheSim(benchmark::State& state) {
    const fs::path dir = workFolder("idle");
    for (auto _ : state) {
        Child plugin =
            spawn({(programDir() / "Qm_Korvane_Plugin").string()}, dir, true, pluginEnv(dir));
        if (plugin.pid < 0) {
            state.SkipWithError("cannot start the plugin");
            return;
        }
        const auto until = Clock::now() + std::chrono::seconds(20);
        Samples s = sample(plugin.pid, 5.0, [&] { return Clock::now() < until; });
        closePlugin(plugin);
        report(state, s);
    }
    fs::remove_all(dir);
}

void BM_PluginTwoHourRace(benchmark::State& state) {
    const fs::path dir = workFolder("race");
    const std::string scale = std::to_string(state.range(0));
    for (auto _ : state) {
        Child feed = spawn({(programDir() / "Qm_Korvane_SimFeed").string(), "--scenario",
                            "two_hour", "--time-scale", scale, "--until-end", "--no-keyboard",
                            "--quiet", "--log", (dir / "feed.log").string()},
                           dir, false, {});
        Child plugin =
            spawn({(programDir() / "Qm_Korvane_Plugin").string()}, dir, true, pluginEnv(dir));
        if (feed.pid < 0 || plugin.pid < 0) {
            state.SkipWithError("cannot start the feed or the plugin");
            return;
        }
        // Practice starts after the garage and warm-up; at 60x its first laps are behind the
        // plugin well within 15 s.
        Samples s = sample(plugin.pid, 15.0, [&] { return !exited(feed.pid); });
        const auto quietUntil = Clock::now() + std::chrono::seconds(10);
        Samples quiet = sample(plugin.pid, 0.0, [&] { return Clock::now() < quietUntil; });
        closePlugin(plugin);
        report(state, s);
        reportKept(state, s, quiet);
    }
    fs::remove_all(dir);
}

BENCHMARK(BM_PluginWaitingForTheSim)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_PluginTwoHourRace)->Arg(60)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
