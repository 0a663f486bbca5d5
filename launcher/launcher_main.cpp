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

// The handler only raises the flag; the key wait below, which looks every 10 ms, does the
// printing and ends the run. Printing or exit() inside the handler could meet the main
// thread inside stdio or the run-time's exit handlers.
volatile std::sig_atomic_t ctrlCReceived = 0;

extern "C" void onCtrlC(int) {
    ctrlCReceived = 1;
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
        // Returns only when the new launcher could not be put in place.
        UpdateLauncher();
    } else {
        Printf("\n %s is up to date.\n", kLauncherComponent);
    }
    Printf("\n");

    Printf(" Checking %s Version.. ", kPluginComponent);
    if (IsUpdateAvailable(kPluginComponent)) {
        UpdatePlugin();
    } else {
        Printf("\n %s is up to date.\n", kPluginComponent);
    }

    LaunchPlugin(kPluginComponent);

    ctrlCReceived = 0;
    std::signal(SIGINT, onCtrlC);
    Printf(" Press enter to exit:\n\n");
    platform::raiseProcessPriority();
    platform::beginTimerPeriod();

    // Any key will do; it is left in the input. Without a console nobody can press one: the
    // launcher ends rather than wait for ever.
    while (!ctrlCReceived && !Seams().keyWaiting() && Seams().keyCanArrive()) {
        platform::sleepMs(10);
    }
    if (ctrlCReceived) {
        Printf("\n\n Recieved ctrl-c, Exiting\n\n");
        platform::endTimerPeriod();
        std::signal(SIGINT, SIG_DFL);
        return 0;
    }

    Printf(" Shutting down.                                       \n\n");
    platform::endTimerPeriod();
    return 0;
}

}  // namespace launcher
