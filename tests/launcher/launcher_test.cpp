// The launcher's run over a scripted service: the version decision, the downloads that must
// never leave a broken file, the self-update, the launch and the key wait, and the launcher
// killed at every step of an update. How a version is read from any text is the version fuzz
// target's to show (its seeds are replayed by every test run).

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/log_writer.h"
#include "common/settings_file.h"
#include "launcher/launcher.h"
#include "support/launcher_fixture.h"
#include "platform/http_client.h"
#include "platform/signature.h"

namespace launchertest {
namespace {

using platform::HttpFailure;
using platform::HttpResponse;

constexpr const char* kPluginProgram = kWindows ? "Qm_Korvane_Plugin.exe" : "./Qm_Korvane_Plugin";
const std::string kVersionPath = "/qrd/getpubver.php?platform=";

HttpResponse answer(std::string body, int status = 200) {
    HttpResponse r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

HttpResponse failure(HttpFailure kind, uint32_t code, std::string partialBody = "") {
    HttpResponse r = answer(std::move(partialBody), kind == HttpFailure::kConnect ? 0 : 200);
    r.failure = kind;
    r.errorCode = code;
    return r;
}

// Answers by path; anything not routed is a 404, as the service gives for a missing file.
struct RoutedTransport : platform::HttpTransport {
    HttpResponse get(const platform::HttpRequest& request) override {
        if (beforeAnswer) {
            beforeAnswer();
        }
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(request);
        auto it = routes.find(request.path);
        return it == routes.end() ? answer("", 404) : it->second;
    }
    void version(const std::string& platform, HttpResponse r) {
        routes[kVersionPath + platform] = r;
    }
    void file(const std::string& name, HttpResponse r) { routes["/files/R3/" + name] = r; }

    std::function<void()> beforeAnswer;
    std::mutex mutex;
    std::map<std::string, HttpResponse> routes;
    std::vector<platform::HttpRequest> requests;
};

class LauncherUnit : public LauncherTest {
  protected:
    void SetUp() override {
        LauncherTest::SetUp();
        platform::setHttpTransport(&http_);
    }
    void TearDown() override {
        platform::setHttpTransport(nullptr);
        LauncherTest::TearDown();
    }
    // Both programs at 3.014, the service out of reach: both count as up to date.
    void upToDateOffline() {
        writeFile("Qm_Korvane_Launcher.ver", "3.014\n");
        writeFile("Qm_Korvane_Plugin.ver", "3.014\n");
        http_.version(launcher::kLauncherPlatform, failure(HttpFailure::kConnect, 12029));
        http_.version(launcher::kPluginPlatform, failure(HttpFailure::kConnect, 12029));
    }
    bool logged(const std::string& a, const std::string& b = "") const {
        for (const std::string& l : logLines()) {
            if (contains(l, a) && contains(l, b)) {
                return true;
            }
        }
        return false;
    }
    RoutedTransport http_;
};

// Both systems' checks in every build: a program damaged in any of the ways a cut or foreign
// download is, is never taken for a whole one.
TEST(ProgramCheck, OnlyAWholeX64ProgramOfItsSystemPasses) {
    struct Case {
        bool windows;
        size_t at;  // where the damage goes (size: nothing damaged)
        uint64_t value;
        size_t width;
        const char* problem;  // "" for a whole program
    } cases[] = {
        {true, 6000, 0, 0, ""},
        {true, 0x96, 0x22, 2, ""},  // an executable image, large-address aware, as linkers write
        {true, 0x3c, 6000, 4, "not a Windows program"},
        {true, 0x84, 0x14c, 2, "not a program for x86-64"},
        {true, 0x98, 0x10b, 2, "not a 64-bit Windows program"},
        {true, 0x86, 0, 2, "cut short"},                     // no sections
        {true, 0x80 + 24 + 240 + 16, 6000, 4, "cut short"},  // the section runs past the end
        {true, 0x80 + 24 + 240 + 20, 5990, 4, "cut short"},
        {true, 0x80 + 24 + 240 + 20, 0x3ff, 4, ""},  // data at any offset, not only at 0x?00
        {false, 6000, 0, 0, ""},
        {false, 0, 0, 1, "not a Linux program"},
        {false, 4, 1, 1, "not a 64-bit little-endian program"},
        {false, 16, 1, 2, "not an executable"},
        {false, 18, 3, 2, "not a program for x86-64"},
        {false, 56, 0, 2, "cut short"},          // no program headers
        {false, 40, 6000 - 64, 8, "cut short"},  // section headers past the end
        {false, 44, 1, 4, "cut short"},          // ... beyond 4 GiB
    };
    for (const Case& c : cases) {
        std::string b = c.windows ? windowsImage(6000, 5) : linuxImage(6000, 5);
        putLittle(b, c.at, c.value, c.width);
        SCOPED_TRACE(std::string(c.windows ? "Windows" : "Linux") + " at " + std::to_string(c.at));
        EXPECT_EQ(c.windows ? launcher::WindowsProgramProblem(b) : launcher::LinuxProgramProblem(b),
                  c.problem);
    }
}

TEST_F(LauncherUnit, VersionDecision) {
    struct Case {
        const char* name;
        HttpResponse published;
        const char* localFile;  // nullptr: no version file
        bool update;
        const char* console;  // printed on the way, "" for nothing to check
    } cases[] = {
        {"newer", answer("3.015"), "3.014\n", true, ""},
        {"equal", answer("3.014"), "3.014\n", false, ""},
        {"older", answer("3.013"), "3.014\n", false, ""},
        {"trailing text", answer("3.014\n"), "3.014 anything", false, ""},
        {"service down", failure(HttpFailure::kConnect, 12029), "3.014", false,
         "Error 12029 has occurred.\n"},
        {"body cut", failure(HttpFailure::kReadData, 12002, "3.9"), "3.014", false,
         "Error 12002 in WinHttpReadData.\n"},
        {"error page", answer("404 Not Found", 404), "3.014", false, "answered 404"},
        {"missing file", answer("3.015"), nullptr, true, "\n Error opening version file."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        recorded().console.clear();
        clock_.clearSleeps();
        http_.version(launcher::kPluginPlatform, c.published);
        std::filesystem::remove("Qm_Korvane_Plugin.ver");
        if (c.localFile) {
            writeFile("Qm_Korvane_Plugin.ver", c.localFile);
        }
        EXPECT_EQ(launcher::IsUpdateAvailable("Plugin"), c.update);
        EXPECT_TRUE(contains(recorded().console, c.console)) << recorded().console;
        // A missing file is waited on long enough to be read.
        EXPECT_EQ(clock_.totalSleptMs(), c.localFile ? 250 : 2000);
    }
}

// What goes out: this platform's names (never the other build's), over TLS to the service of
// the settings file with its team key, a version in seconds and a program in minutes.
TEST_F(LauncherUnit, RequestsGoToTheServiceOfTheSettingsFileForThisPlatformsNames) {
#ifdef _WIN32
    const char* names[] = {"Launcher", "Plugin", "Qm_Korvane_Launcher.bin",
                           "Qm_Korvane_Plugin.bin"};
#else
    const char* names[] = {"LauncherLinux", "PluginLinux", "Qm_Korvane_Launcher.linux.bin",
                           "Qm_Korvane_Plugin.linux.bin"};
#endif
    writeFile("Qm_Korvane_Launcher.ver", "3.014\n");
    writeFile("Qm_Korvane_Plugin.ver", "3.014\n");
    http_.version(names[0], answer("3.015"));
    http_.version(names[1], answer("3.015"));
    run();
    ASSERT_GE(http_.requests.size(), 4u);
    EXPECT_EQ(http_.requests[0].path, kVersionPath + names[0]);
    EXPECT_EQ(http_.requests[2].path, std::string("/files/R3/") + names[2]);
    // The launcher's own file was not there (404), so the plugin's turn came.
    EXPECT_TRUE(std::any_of(http_.requests.begin(), http_.requests.end(), [&](const auto& r) {
        return r.path == std::string("/files/R3/") + names[3];
    }));
    const platform::HttpRequest& version = http_.requests[0];
    EXPECT_EQ(version.userAgent, "WinHTTP Example/1.0");
    // A version is a few bytes: a silent service must not hold the start for long.
    EXPECT_LE(version.totalTimeoutMs, 10000);
    EXPECT_EQ(version.endpoint.port, 443);
    EXPECT_TRUE(version.endpoint.secure);
    // Without the setting no key is sent.
    EXPECT_EQ(version.teamKey, "");
    // Executables never travel in the clear, and a slow line has minutes, not for ever.
    EXPECT_TRUE(http_.requests[2].endpoint.secure);
    EXPECT_GE(http_.requests[2].totalTimeoutMs, 60000);
    EXPECT_LE(http_.requests[2].totalTimeoutMs, 600000);

    writeFile("Qm_Korvane_Launcher.ini",
              "[Service]\nHost=127.0.0.1\nPort=8443\nTeamKey=team-key-of-ours\n");
    http_.file("Qm_Korvane_README.txt", answer(""));
    // A text file is taken as it comes, even empty.
    EXPECT_TRUE(launcher::DownloadUpdateFile("Qm_Korvane_README.txt", "Qm_Korvane_README.txt"));
    const platform::HttpRequest& last = http_.requests.back();
    EXPECT_EQ(last.endpoint.host, "127.0.0.1");
    EXPECT_EQ(last.endpoint.port, 8443);
    EXPECT_TRUE(last.endpoint.secure);
    EXPECT_EQ(last.teamKey, "team-key-of-ours");
}

TEST_F(LauncherUnit, DownloadReplacesOnlyWithAWholeExecutableForThisPlatform) {
    const std::string old = executableImage(60000, 1);
    const std::string shorter = executableImage(5000, 2);
    const std::string page = "<html>Not Found</html>" + std::string(5000, ' ');
    struct Case {
        const char* name;
        HttpResponse response;
        bool replaced;
        const char* console;
    } cases[] = {
        {"shorter program", answer(shorter), true, ""},
        {"empty answer", answer(""), false, " was refused (empty); the old file is kept."},
        {"a few bytes", answer("MZ"), false, "(too small for a program)"},
        {"error page with 200", answer(page), false, "; the old file is kept.\n"},
        {"the other platform's program", answer(foreignExecutableImage(5000, 2)), false,
         "was refused (not a"},
        {"not found", answer("<html>Not Found</html>", 404), false, "answered 404"},
        {"server error", answer("oops", 500), false, "answered 500"},
        {"cut mid-body", failure(HttpFailure::kReadData, 12030, shorter.substr(0, 100)), false,
         "Error 12030 in WinHttpReadData.\n"},
        {"query failed", failure(HttpFailure::kQueryData, 12017, "MZ"), false,
         "Error 12017 in WinHttpQueryDataAvailable.\n"},
        {"no connection", failure(HttpFailure::kConnect, 12029), false,
         "Error 12029 has occurred.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        recorded().console.clear();
        writeFile(launcher::kPluginExecutable, old);
        http_.file(launcher::kPluginServerBinary, c.response);
        EXPECT_EQ(launcher::DownloadUpdateFile(launcher::kPluginServerBinary,
                                               launcher::kPluginExecutable, true),
                  c.replaced);
        EXPECT_TRUE(readFile(launcher::kPluginExecutable) == (c.replaced ? c.response.body : old));
        EXPECT_TRUE(contains(recorded().console, c.console)) << recorded().console;
        EXPECT_FALSE(
            std::filesystem::exists(std::string(launcher::kPluginExecutable) + ".download"));
    }
}

// An update key and signatures made with `openssl dgst -sha256 -sign` by its private half, in
// base64.
constexpr const char* kUpdateKey =
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE0X/VWNuf1OAGgizxdMFt7cMMiEa+xAjvqOcXKP9fuAB6ZnNiQygcgxdk"
    "VCGFWkm0Xf9ZxY9tm8sB/p/uvkyHWw==";
constexpr const char* kOtherKey =
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE4kge/SXoNsXIGl5oYrdGAxg3jOTYH1VjtWK7zCY5nwPrDNDW5/Xj9KU7"
    "QL5IPKdM9MgGTYJmrZf6hMp+FbzCbQ==";
// Of executableImage(6000, 7).
#ifdef _WIN32
constexpr const char* kProgramSignature =
    "MEQCID7SRD9MsN2CKIgFPXs81GR9MSR29HXCw+YrpwtUpbm0AiBbsQq5xGdz4GQJcL0UCBSbAWOyhg8kTX2QRepEir+o/"
    "g==";
#else
constexpr const char* kProgramSignature =
    "MEYCIQC8mwJlt3A/"
    "hxUefqkWDPVOww9Djr0iqSMeEZROEqzWQgIhAN34QM3jA3j0W9So0MfFt46HXJCbXcfYZILs7jyBLj8w";
#endif
// Of "3.015\n" and of "read me\n".
constexpr const char* kVersionSignature =
    "MEQCIF1NliEYAkPCk32ymAmo689Ujsg5q+ymPLdhiviPi3X6AiAWjC+"
    "LpXPRVeysCq9osQ2LUiVtMHFF01fhOFHytl7nJQ==";
constexpr const char* kReadmeSignature =
    "MEUCIEaaXQiSVyvg6cnCleIsAtd0fgzu6NvIe/ge2AndPLkAAiEAw89eP+bRat6RNecyw7J/Tj2BCdjN0EjAAanbljAR/"
    "F0=";

std::string bytesOf(const char* base64) {
    return platform::decodeBase64(base64).value_or("");
}

// With an update key, a plugin is installed only when its signature verifies over the very
// bytes installed; whatever else arrives leaves the old plugin byte for byte, says so, and
// the old plugin starts.
TEST_F(LauncherUnit, WithAnUpdateKeyOnlySignedProgramsAreInstalled) {
    const std::string program = executableImage(6000, 7);
    const std::string signature = bytesOf(kProgramSignature);
    const std::string old = executableImage(7000, 9);
    const std::string binary = launcher::kPluginServerBinary;
    struct Case {
        const char* name;
        const char* key;
        std::string body;
        std::optional<std::string> signature;  // nothing: 404
        const char* refusal;                   // nullptr: installed
        bool versionMissing = false;           // the program is installed, its version file not
    } cases[] = {
        {"signed", kUpdateKey, program, signature, nullptr},
        {"no key: TLS alone", "", program, std::nullopt, nullptr},
        {"unsigned", kUpdateKey, program, std::nullopt, "(no signature)"},
        {"signed by another key", kOtherKey, program, signature, "does not match"},
        {"signed for other bytes", kUpdateKey, executableImage(6000, 8), signature,
         "does not match"},
        {"one byte changed", kUpdateKey, program.substr(0, 5999) + "x", signature,
         "does not match"},
        {"program cut short", kUpdateKey, program.substr(0, 5000), signature, "(cut short)"},
        {"signature cut short", kUpdateKey, program, signature.substr(0, signature.size() - 1),
         "does not match"},
        {"empty signature", kUpdateKey, program, std::string(), "does not match"},
        {"key that is no key", "bm90IGEga2V5", program, signature, "is not a P-256 public key"},
        {"version file not found", kUpdateKey, program, signature, nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        recorded() = Recorded{};
        writeFile("Qm_Korvane_Launcher.ini", std::string("[Service]\nUpdateKey=") + c.key + "\n");
        writeFile("Qm_Korvane_Launcher.ver", "3.014\n");
        writeFile("Qm_Korvane_Plugin.ver", "3.014\n");
        writeFile(launcher::kPluginExecutable, old);
        std::filesystem::remove("Qm_Korvane_README.txt");
        http_.version(launcher::kPluginPlatform, answer("3.015"));
        http_.file("Qm_Korvane_Plugin.ver",
                   c.versionMissing ? answer("Not found", 404) : answer("3.015\n"));
        http_.file("Qm_Korvane_Plugin.ver.sig", answer(bytesOf(kVersionSignature)));
        http_.file("Qm_Korvane_README.txt", answer("read me\n"));
        http_.file("Qm_Korvane_README.txt.sig", answer(bytesOf(kReadmeSignature)));
        http_.file(binary, answer(c.body));
        http_.file(binary + ".sig", c.signature ? answer(*c.signature) : answer("Not found", 404));

        EXPECT_EQ(run(), 0);
        const bool installed = c.refusal == nullptr;
        EXPECT_TRUE(readFile(launcher::kPluginExecutable) == (installed ? c.body : old));
        // The old version stays unless the new one arrived too: a later start tries again.
        EXPECT_EQ(readFile("Qm_Korvane_Plugin.ver"),
                  installed && !c.versionMissing ? "3.015\n" : "3.014\n");
        EXPECT_EQ(std::filesystem::exists("Qm_Korvane_README.txt"), installed);
        EXPECT_EQ(recorded().commands.size(), 1u) << "the plugin was not started";
        if (!installed) {
            const std::string line = std::string(launcher::kPluginServerBinary) + " was refused";
            EXPECT_TRUE(contains(recorded().console, line)) << recorded().console;
            EXPECT_TRUE(contains(recorded().console, c.refusal)) << recorded().console;
            EXPECT_TRUE(logged(line, c.refusal));
        }
    }
}

// A self-update that fails in any way is reported, changes nothing, and the plugin starts:
// a restart prompt would only bring the driver back to the same failure at every start.
TEST_F(LauncherUnit, FailedSelfUpdateKeepsTheLauncherAndStartsThePlugin) {
    const std::string whole = executableImage(9000, 3);
    struct Case {
        const char* name;
        HttpResponse response;
    } cases[] = {
        {"not found", answer("Not found", 404)},
        {"cut body", failure(HttpFailure::kReadData, 12030, whole.substr(0, 3000))},
        {"TLS failure", failure(HttpFailure::kConnect, 12175)},
        {"empty answer", answer("")},
        {"cut without an error", answer(whole.substr(0, 8000))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int start = 0; start < 2; ++start) {
            recorded() = Recorded{};
            writeFile(launcher::kLauncherExecutable, "old launcher");
            writeFile(launcher::kPluginExecutable, "old plugin");
            writeFile("Qm_Korvane_Plugin.ver", "3.014\n");
            if (start == 0) {
                writeFile("Qm_Korvane_Launcher.ver", "3.014\n");
            }
            http_.version(launcher::kLauncherPlatform, answer("3.015"));
            http_.version(launcher::kPluginPlatform, answer("3.014"));
            http_.file("Qm_Korvane_Launcher.ver", answer("3.015\n"));
            http_.file(launcher::kLauncherServerBinary, c.response);

            EXPECT_EQ(run(), 0);
            EXPECT_EQ(readFile(launcher::kLauncherExecutable), "old launcher");
            EXPECT_EQ(readFile(launcher::kPluginExecutable), "old plugin");
            // The running launcher is not even moved aside while the new one is not in hand.
            EXPECT_FALSE(std::filesystem::exists("Qm_Korvane_Cache.dat"));
            // Still the old version, so a later start tries again.
            EXPECT_EQ(readFile("Qm_Korvane_Launcher.ver"), "3.014\n");
            EXPECT_TRUE(contains(recorded().console,
                                 "\n The update could not be fetched; the current Launcher is "
                                 "kept.\n"))
                << recorded().console;
            EXPECT_EQ(recorded().commands.size(), 1u) << "the plugin was not started";
            EXPECT_TRUE(logged("Update of Launcher failed"));
        }
    }
}

// A start with the service out of reach: the log begun anew, the cache file of the last update
// removed, the plugin launched on the prefered device and a key waited for after it. The start
// without a cache file is the service tests'; the console's texts around the launch are the
// end-to-end run's (launcher_e2e.py).
TEST_F(LauncherUnit, StartClearsTheLogAndCacheThenLaunchesOnThePreferedDeviceAndWaitsForAKey) {
    upToDateOffline();
    writeFile("Qm_Korvane_Launcher.ini", "[Audio]\nPreferedDevice=3\n");
    writeFile(common::kLauncherLogFile, std::string(10000, 'x') + "\n");
    writeFile("Qm_Korvane_Cache.dat", "old launcher");
    recorded().keyAtCheck = 4;
    const int64_t startSeconds = clock_.calendarSeconds();

    EXPECT_EQ(run(), 0);
    EXPECT_FALSE(std::filesystem::exists("Qm_Korvane_Cache.dat"));
    ASSERT_EQ(recorded().commands.size(), 1u);
    EXPECT_EQ(recorded().commands[0], std::string(kPluginProgram) + " 3");
    EXPECT_FALSE(contains(recorded().consoleAtCommand[0], "Press enter to exit"));
    EXPECT_EQ(recorded().keyChecks, 4);
    std::vector<std::string> lines = logLines();
    ASSERT_GE(lines.size(), 4u);
    // The stamp is the clock's time at the moment of writing.
    EXPECT_EQ(lines[0], "Launcher: " + std::to_string(startSeconds) + " :  Starting Up.");
    EXPECT_TRUE(contains(lines[1], "Remove Qm_Korvane_Cache.dat ok.")) << lines[1];
    EXPECT_TRUE(contains(lines[lines.size() - 2], " :  Setting up Audio Interface Id: 3."));
    EXPECT_TRUE(contains(lines.back(), " :  Launching Plugin."));
}

// A ctrl-c in the key wait ends the run through the loop, not from inside the handler.
TEST_F(LauncherUnit, CtrlCInTheKeyWaitEndsTheRunWithItsMessage) {
    upToDateOffline();
    for (int round = 0; round < 2; ++round) {
        recorded() = Recorded{};
        launcher::Seams().keyWaiting = [] {
            if (++recorded().keyChecks == 3) {
                std::raise(SIGINT);
            }
            return false;
        };
        EXPECT_EQ(run(), 0);
        // The flag of the first round does not end the second one early.
        EXPECT_EQ(recorded().keyChecks, 3);
        const std::string end = " Press enter to exit:\n\n\n\n Recieved ctrl-c, Exiting\n\n";
        const std::string& console = recorded().console;
        ASSERT_GE(console.size(), end.size());
        EXPECT_EQ(console.substr(console.size() - end.size()), end);
        // SIGINT has its default action again.
        EXPECT_EQ(std::signal(SIGINT, SIG_DFL), SIG_DFL);
    }
}

// The launcher killed at every step of an update: before each exchange with the service
// (that is, before, during and after each download and each rename that precede it), at the
// restart prompt and as it starts the plugin; some kills also leave a half-written download
// behind. At every following start there is a whole launcher and a whole plugin, and the
// starts that follow finish the update and start the new plugin.
struct Killed {};

// The step counter shared by the service and the seams: the step numbered `killAt` ends the
// process (0: never).
struct Steps {
    int count = 0;
    int killAt = 0;
    void step() {
        if (++count == killAt) {
            throw Killed{};
        }
    }
};
Steps steps;

const std::string kNewLauncher = executableImage(5000, 1);
const std::string kNewPlugin = executableImage(6000, 2);

class LauncherKilled : public LauncherUnit {
  protected:
    void SetUp() override {
        LauncherUnit::SetUp();
        http_.beforeAnswer = [] { steps.step(); };
        http_.version(launcher::kLauncherPlatform, answer("3.015"));
        http_.version(launcher::kPluginPlatform, answer("3.015"));
        http_.file("Qm_Korvane_Launcher.ver", answer("3.015\n"));
        http_.file(launcher::kLauncherServerBinary, answer(kNewLauncher));
        http_.file("Qm_Korvane_Plugin.ver", answer("3.015\n"));
        http_.file(launcher::kPluginServerBinary, answer(kNewPlugin));
        http_.file("Qm_Korvane_README.txt", answer("read me"));
        launcher::Seams().readKey = [] {
            steps.step();
            return int{'x'};
        };
        launcher::Seams().runCommand = [](const std::string& commandLine) {
            steps.step();
            recorded().commands.push_back(commandLine);
            return 0;
        };
    }

    void oldInstall() {
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
            std::filesystem::remove_all(entry.path());
        }
        writeFile(launcher::kLauncherExecutable, "old launcher");
        writeFile(launcher::kPluginExecutable, "old plugin");
        writeFile("Qm_Korvane_Launcher.ver", "3.014\n");
        writeFile("Qm_Korvane_Plugin.ver", "3.014\n");
    }

    // One start; true when it got as far as starting the plugin.
    bool start() {
        const size_t before = recorded().commands.size();
        try {
            run();
        } catch (const Killed&) {
        }
        return recorded().commands.size() > before;
    }

    // What a driver finds: both programs whole, each either the old or the new one.
    void expectWorkingInstall(const std::string& when) {
        const std::string launcherNow = readFile(launcher::kLauncherExecutable);
        const std::string pluginNow = readFile(launcher::kPluginExecutable);
        EXPECT_TRUE(launcherNow == "old launcher" || launcherNow == kNewLauncher)
            << when << ": launcher is \"" << launcherNow.substr(0, 20) << "\"";
        EXPECT_TRUE(pluginNow == "old plugin" || pluginNow == kNewPlugin)
            << when << ": plugin is \"" << pluginNow.substr(0, 20) << "\"";
    }
};

TEST_F(LauncherKilled, AtEveryStepOfAnUpdateTheNextStartsFinishIt) {
    // A clean update takes 11 steps over two starts (the launcher's, then the plugin's); one
    // more kill point shows that the count covers them all.
    int killsThatHappened = 0;
    for (int killAt = 1; killAt <= 13; ++killAt) {
        for (bool halfWritten : {false, true}) {
            SCOPED_TRACE("killed at step " + std::to_string(killAt) +
                         (halfWritten ? " mid-write" : ""));
            oldInstall();
            recorded() = Recorded{};
            steps = Steps{0, killAt};
            bool launched = start();
            if (halfWritten && steps.count >= killAt) {
                // Killed while a download was being written out.
                for (const char* name :
                     {"Qm_Korvane_Launcher.ver.download", "Qm_Korvane_Plugin.ver.download"}) {
                    writeFile(name, "3.0");
                }
                writeFile(std::string(launcher::kLauncherExecutable) + ".download", "new lau");
                writeFile(std::string(launcher::kPluginExecutable) + ".download", "new plu");
                writeFile(std::string(launcher::kLauncherExecutable) + ".download.download", "n");
            }
            expectWorkingInstall("after the kill");
            for (int restart = 0; restart < 4 && !launched; ++restart) {
                launched = start();
                expectWorkingInstall("after restart " + std::to_string(restart + 1));
            }
            // The kill may also come in one of the starts that follow the first.
            killsThatHappened += steps.count >= killAt && !halfWritten ? 1 : 0;
            EXPECT_TRUE(launched);
            EXPECT_TRUE(readFile(launcher::kLauncherExecutable) == kNewLauncher);
            EXPECT_TRUE(readFile(launcher::kPluginExecutable) == kNewPlugin);
            EXPECT_EQ(readFile("Qm_Korvane_Launcher.ver"), "3.015\n");
            EXPECT_EQ(readFile("Qm_Korvane_Plugin.ver"), "3.015\n");
            EXPECT_EQ(readFile("Qm_Korvane_README.txt"), "read me");
            ASSERT_FALSE(recorded().commands.empty());
            EXPECT_TRUE(contains(recorded().commands.back(), "Qm_Korvane_Plugin"));
        }
    }
    EXPECT_EQ(killsThatHappened, 11);
}

}  // namespace
}  // namespace launchertest
