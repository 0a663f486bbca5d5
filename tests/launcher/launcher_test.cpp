// The launcher's run over a scripted service: the version decision, the downloads that must
// never leave a broken file, the self-update, the launch and the key wait.

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/log_writer.h"
#include "common/settings_file.h"
#include "launcher/launcher.h"
#include "launcher_harness.h"
#include "platform/http_client.h"

namespace launchertest {
namespace {

using platform::HttpFailure;

#ifdef _WIN32
constexpr const char* kPluginProgram = "Qm_Korvane_Plugin.exe";
#else
constexpr const char* kPluginProgram = "./Qm_Korvane_Plugin";
#endif
using platform::HttpResponse;

HttpResponse answer(std::string body, int status = 200) {
    HttpResponse r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

HttpResponse failure(HttpFailure kind, uint32_t code, std::string partialBody = "") {
    HttpResponse r;
    r.failure = kind;
    r.errorCode = code;
    r.status = kind == HttpFailure::kConnect ? 0 : 200;
    r.body = std::move(partialBody);
    return r;
}

// Answers by path; anything not routed is a 404, as the service gives for a missing file.
class RoutedTransport : public platform::HttpTransport {
  public:
    HttpResponse get(const platform::HttpRequest& request) override {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        auto it = routes_.find(request.path);
        return it == routes_.end() ? answer("", 404) : it->second;
    }
    void route(const std::string& path, HttpResponse response) { routes_[path] = response; }
    void version(const std::string& component, const std::string& body) {
        route("/qrd/getpubver.php?platform=" + component, answer(body));
    }
    void file(const std::string& name, const std::string& bytes) {
        route("/files/R3/" + name, answer(bytes));
    }
    std::vector<std::string> paths() const {
        std::vector<std::string> p;
        for (const auto& r : requests_) {
            p.push_back(r.path);
        }
        return p;
    }
    std::vector<platform::HttpRequest> requests() const { return requests_; }

  private:
    std::mutex mutex_;
    std::map<std::string, HttpResponse> routes_;
    std::vector<platform::HttpRequest> requests_;
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
    RoutedTransport http_;
};

TEST(ParseLeadingDecimal, TakesOnlyTheLeadingPlainNumber) {
    struct Case {
        const char* text;
        float value;
    } cases[] = {
        {"3.014", 3.014f},
        {"3.014 anything", 3.014f},
        {"3.014\r\n", 3.014f},
        {" 3.5", 3.5f},
        {"3", 3.0f},
        {"3.", 3.0f},
        {".5", 0.5f},
        {"-1.25x", -1.25f},
        {"", 0.0f},
        {"abc", 0.0f},
        {".", 0.0f},
        {"inf", 0.0f},
        {"nan", 0.0f},
        {"0x10", 0.0f},
        {"1e400", 1.0f},
        {"<html>", 0.0f},
    };
    for (const Case& c : cases) {
        EXPECT_FLOAT_EQ(launcher::ParseLeadingDecimal(c.text), c.value) << '"' << c.text << '"';
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
        {"trailing text", answer("3.015"), "3.014 anything", true, ""},
        {"trailing text equal", answer("3.014\n"), "3.014 anything", false, ""},
        {"service down", failure(HttpFailure::kConnect, 12029), "3.014", false,
         "Error 12029 has occurred.\n"},
        {"body cut", failure(HttpFailure::kReadData, 12002, "3.9"), "3.014", false,
         "Error 12002 in WinHttpReadData.\n"},
        {"error page", answer("404 Not Found", 404), "3.014", false, "answered 404"},
        {"missing file", answer("3.015"), nullptr, true, "\n Error opening version file."},
        {"missing file, nothing published", answer("0"), nullptr, false,
         "\n Error opening version file."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        recorded().console.clear();
        clock_.clearSleeps();
        http_.route("/qrd/getpubver.php?platform=Plugin", c.published);
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

TEST_F(LauncherUnit, VersionCheckLogsBothVersionsAndAsksOverTls) {
    http_.version("Launcher", "3.015");
    writeFile("Qm_Korvane_Launcher.ver", "3.014\n");
    EXPECT_TRUE(launcher::IsUpdateAvailable("Launcher"));
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(contains(lines[0], " :  Version Check Remote: 3.015 (Launcher)")) << lines[0];
    EXPECT_TRUE(contains(lines[1], " :  Version Check Local : 3.014 (Launcher)")) << lines[1];

    ASSERT_EQ(http_.requests().size(), 1u);
    const platform::HttpRequest request = http_.requests()[0];
    EXPECT_EQ(request.path, "/qrd/getpubver.php?platform=Launcher");
    EXPECT_EQ(request.userAgent, "WinHTTP Example/1.0");
    EXPECT_EQ(request.endpoint.port, 443);
    EXPECT_TRUE(request.endpoint.secure);
}

TEST_F(LauncherUnit, DownloadReplacesOnlyWithACompleteAnswer) {
    const std::string old = "the old plugin, longer than any download of this test";
    struct Case {
        const char* name;
        HttpResponse response;
        bool replaced;
        const char* console;
    } cases[] = {
        {"shorter file", answer("new"), true, ""},
        {"empty file", answer(""), true, ""},
        {"not found", answer("<html>Not Found</html>", 404), false, "answered 404"},
        {"server error", answer("oops", 500), false, "answered 500"},
        {"cut mid-body", failure(HttpFailure::kReadData, 12030, "MZ half an exe"), false,
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
        http_.route("/files/R3/Qm_Korvane_Plugin.bin", c.response);
        EXPECT_EQ(launcher::DownloadUpdateFile("Qm_Korvane_Plugin.bin", launcher::kPluginExecutable,
                                               true),
                  c.replaced);
        EXPECT_EQ(readFile(launcher::kPluginExecutable), c.replaced ? c.response.body : old);
        EXPECT_TRUE(contains(recorded().console, c.console)) << recorded().console;
        EXPECT_FALSE(exists(std::string(launcher::kPluginExecutable) + ".download"));
    }
    ASSERT_FALSE(http_.requests().empty());
    EXPECT_EQ(http_.requests()[0].path, "/files/R3/Qm_Korvane_Plugin.bin");
    // Executables never travel in the clear.
    EXPECT_TRUE(http_.requests()[0].endpoint.secure);
}

TEST_F(LauncherUnit, DownloadsGoToTheServiceOfTheSettingsFile) {
    writeFile("Qm_Korvane_Launcher.ini", "[Service]\nHost=127.0.0.1\nPort=8443\n");
    http_.file("Qm_Korvane_README.txt", "x");
    launcher::DownloadUpdateFile("Qm_Korvane_README.txt", "Qm_Korvane_README.txt");
    ASSERT_EQ(http_.requests().size(), 1u);
    EXPECT_EQ(http_.requests()[0].endpoint.host, "127.0.0.1");
    EXPECT_EQ(http_.requests()[0].endpoint.port, 8443);
    EXPECT_TRUE(http_.requests()[0].endpoint.secure);
}

TEST_F(LauncherUnit, FailedSelfUpdateKeepsTheLauncher) {
    writeFile(launcher::kLauncherExecutable, "old launcher");
    writeFile("Qm_Korvane_Launcher.ver", "3.014\n");
    http_.version("Launcher", "3.015");
    http_.file("Qm_Korvane_Launcher.ver", "3.015\n");
    http_.route("/files/R3/Qm_Korvane_Launcher.bin",
                failure(HttpFailure::kReadData, 12030, "new lau"));

    EXPECT_EQ(run(), 0);
    EXPECT_EQ(readFile(launcher::kLauncherExecutable), "old launcher");
    EXPECT_FALSE(exists("Qm_Korvane_Cache.dat"));
    // Still the old version, so the next start tries again.
    EXPECT_EQ(readFile("Qm_Korvane_Launcher.ver"), "3.014\n");
    EXPECT_TRUE(contains(recorded().console, "Launcher Requires Restart."));
    EXPECT_TRUE(contains(recorded().console, "the current Launcher is kept."));
    // The running launcher is not even moved aside while the new one is not in hand.
    for (const std::string& line : logLines()) {
        EXPECT_FALSE(contains(line, "Updated Cache")) << line;
    }
}

TEST_F(LauncherUnit, LaunchWithThePreferedDeviceAndWaitForAKeyAfterThePlugin) {
    struct Case {
        const char* settings;
        const char* commandEnd;
    } cases[] = {
        {"", " 1024"},
        {"[Audio]\nPreferedDevice=3\n", " 3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commandEnd);
        recorded() = Recorded{};
        recorded().keyAtCheck = 4;
        writeFile("Qm_Korvane_Launcher.ini", c.settings);
        writeFile("Qm_Korvane_Launcher.ver", "3.014\n");
        writeFile("Qm_Korvane_Plugin.ver", "3.014\n");
        // Service down: both count as up to date.
        http_.route("/qrd/getpubver.php?platform=Launcher", failure(HttpFailure::kConnect, 12029));
        http_.route("/qrd/getpubver.php?platform=Plugin", failure(HttpFailure::kConnect, 12029));

        EXPECT_EQ(run(), 0);
        ASSERT_EQ(recorded().commands.size(), 1u);
        EXPECT_EQ(recorded().commands[0], std::string(kPluginProgram) + c.commandEnd);
        const std::string& before = recorded().consoleAtCommand[0];
        EXPECT_TRUE(contains(before, "\n Launching plugin...\n"));
        EXPECT_FALSE(contains(before, "Press enter to exit"));
        const std::string& console = recorded().console;
        EXPECT_TRUE(contains(console, "\n Plugin is up to date.\n"));
        EXPECT_EQ(recorded().keyChecks, 4);
        const std::string end =
            " Press enter to exit:\n\n Shutting down." + std::string(39, ' ') + "\n\n";
        ASSERT_GE(console.size(), end.size());
        EXPECT_EQ(console.substr(console.size() - end.size()), end);
        std::vector<std::string> lines = logLines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_TRUE(contains(
            lines[lines.size() - 2],
            std::string(" :  Setting up Audio Interface Id: ") + (c.commandEnd + 1) + "."));
        EXPECT_TRUE(contains(lines.back(), " :  Launching Plugin."));
    }
}

// A ctrl-c in the key wait ends the run through the loop, not from inside the handler.
TEST_F(LauncherUnit, CtrlCInTheKeyWaitEndsTheRunWithItsMessage) {
    http_.route("/qrd/getpubver.php?platform=Launcher", failure(HttpFailure::kConnect, 1));
    http_.route("/qrd/getpubver.php?platform=Plugin", failure(HttpFailure::kConnect, 1));
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

TEST_F(LauncherUnit, StartTruncatesTheLogAndClearsTheCacheFile) {
    http_.route("/qrd/getpubver.php?platform=Launcher", failure(HttpFailure::kConnect, 1));
    http_.route("/qrd/getpubver.php?platform=Plugin", failure(HttpFailure::kConnect, 1));
    struct Case {
        bool cacheFile;
        const char* removeLine;
    } cases[] = {
        {false, "Remove Qm_Korvane_Cache.dat failed. "},
        {true, "Remove Qm_Korvane_Cache.dat ok."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.removeLine);
        writeFile(common::kLauncherLogFile, std::string(10000, 'x') + "\n");
        if (c.cacheFile) {
            writeFile("Qm_Korvane_Cache.dat", "old launcher");
        }
        const int64_t startSeconds = clock_.calendarSeconds();
        EXPECT_EQ(run(), 0);
        EXPECT_FALSE(exists("Qm_Korvane_Cache.dat"));
        std::vector<std::string> lines = logLines();
        ASSERT_GE(lines.size(), 2u);
        // "Launcher: <seconds> :  Starting Up."
        // The stamp is the clock's time at the moment of writing.
        EXPECT_EQ(lines[0], "Launcher: " + std::to_string(startSeconds) + " :  Starting Up.");
        EXPECT_TRUE(contains(lines[1], c.removeLine)) << lines[1];
        if (!c.cacheFile) {
            // The system's text for the missing file follows.
            EXPECT_GT(lines[1].size(),
                      lines[1].find(c.removeLine) + std::string(c.removeLine).size());
        }
    }
}

}  // namespace
}  // namespace launchertest
