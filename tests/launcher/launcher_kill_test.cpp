// The launcher killed at every step of an update: before each exchange with the service
// (that is, before, during and after each download and each rename that precede it), at the
// restart prompt and as it starts the plugin; some kills also leave a half-written download
// behind. At every following start there is a whole launcher and a whole plugin, and the
// starts that follow finish the update and start the new plugin.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "launcher/launcher.h"
#include "support/launcher_fixture.h"
#include "platform/http_client.h"

namespace {

using launchertest::contains;
using launchertest::recorded;

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

const std::string& newLauncher() {
    static const std::string image = launchertest::executableImage(5000, 1);
    return image;
}
const std::string& newPlugin() {
    static const std::string image = launchertest::executableImage(6000, 2);
    return image;
}

class UpdateService : public platform::HttpTransport {
  public:
    platform::HttpResponse get(const platform::HttpRequest& request) override {
        steps.step();
        platform::HttpResponse response;
        auto found = files.find(request.path);
        response.status = found == files.end() ? 404 : 200;
        response.body = found == files.end() ? "Not found" : found->second;
        return response;
    }
    std::map<std::string, std::string> files = {
        {std::string("/qrd/getpubver.php?platform=") + launcher::kLauncherPlatform, "3.015"},
        {std::string("/qrd/getpubver.php?platform=") + launcher::kPluginPlatform, "3.015"},
        {"/files/R3/Qm_Korvane_Launcher.ver", "3.015\n"},
        {std::string("/files/R3/") + launcher::kLauncherServerBinary, newLauncher()},
        {"/files/R3/Qm_Korvane_Plugin.ver", "3.015\n"},
        {std::string("/files/R3/") + launcher::kPluginServerBinary, newPlugin()},
        {"/files/R3/Qm_Korvane_README.txt", "read me"},
    };
};

int readKeyStep() {
    steps.step();
    return 'x';
}

int runCommandStep(const std::string& commandLine) {
    steps.step();
    recorded().commands.push_back(commandLine);
    return 0;
}

class LauncherKilled : public launchertest::LauncherTest {
  protected:
    void SetUp() override {
        LauncherTest::SetUp();
        platform::setHttpTransport(&service_);
        launcher::Seams().readKey = readKeyStep;
        launcher::Seams().runCommand = runCommandStep;
    }
    void TearDown() override {
        platform::setHttpTransport(nullptr);
        LauncherTest::TearDown();
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
        EXPECT_TRUE(launcherNow == "old launcher" || launcherNow == newLauncher())
            << when << ": launcher is \"" << launcherNow.substr(0, 20) << "\"";
        EXPECT_TRUE(pluginNow == "old plugin" || pluginNow == newPlugin())
            << when << ": plugin is \"" << pluginNow.substr(0, 20) << "\"";
    }

    UpdateService service_;
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
            recorded() = launchertest::Recorded{};
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
            EXPECT_TRUE(readFile(launcher::kLauncherExecutable) == newLauncher());
            EXPECT_TRUE(readFile(launcher::kPluginExecutable) == newPlugin());
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
