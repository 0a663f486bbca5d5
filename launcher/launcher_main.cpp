#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "common/logo.h"
#include "launcher/launcher.h"
#include "platform/clock.h"
#include "platform/system.h"

namespace launcher {

namespace {

extern "C" void onCtrlC(int) {
    std::fputs("\n\n Recieved ctrl-c, Exiting\n\n", stdout);
    std::fflush(stdout);
    platform::endTimerPeriod();
    std::signal(SIGINT, SIG_DFL);
    // exit() rather than _Exit(): the console's exit handler puts the terminal back.
    std::exit(0);
}

// What a previous self-update left behind.
void removeCacheFile() {
    std::error_code ec;
    const bool removed = std::filesystem::remove(kCacheFile, ec);
    if (removed) {
        LogLauncherf("Remove %s ok.", kCacheFile);
        return;
    }
    if (!ec) {
        // std::filesystem reports a missing file as nothing removed, not as an error.
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
    }
    LogLauncherf("Remove %s failed. %s", kCacheFile, ec.message().c_str());
}

}  // namespace

int RunLauncher() {
    Printf("%s\n", kLauncherBanner);
    common::DrawConsoleLogo(common::kLauncherLogoResource, 0, 0);
    common::DrawConsoleLogo(common::kLogoResource, 820, 440);

    std::snprintf(LogMessage, sizeof LogMessage, "%s", "Starting Up.");
    StartLauncherLog();
    removeCacheFile();

    Printf(" Checking %s Version.. ", kLauncherComponent);
    if (IsUpdateAvailable(kLauncherComponent)) {
        UpdateLauncher();
    }
    Printf("\n %s is up to date.\n", kLauncherComponent);
    Printf("\n");

    Printf(" Checking %s Version.. ", kPluginComponent);
    if (IsUpdateAvailable(kPluginComponent)) {
        UpdatePlugin();
    } else {
        Printf("\n %s is up to date.\n", kPluginComponent);
    }

    LaunchPlugin(kPluginComponent);

    std::signal(SIGINT, onCtrlC);
    Printf(" Press enter to exit:\n\n");
    platform::raiseProcessPriority();
    platform::beginTimerPeriod();

    // Any key will do; it is left in the input.
    while (!Seams().keyWaiting()) {
        platform::sleepMs(10);
    }

    Printf(" Shutting down.                                       \n\n");
    platform::endTimerPeriod();
    return 0;
}

}  // namespace launcher
