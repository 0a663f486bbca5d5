#include <cstdio>
#include <future>
#include <string>
#include <system_error>

#include "common/settings_file.h"
#include "launcher/launcher.h"
#include "platform/clock.h"

namespace launcher {

std::string PluginCommandLine(int preferedDevice) {
    char commandLine[512];
    std::snprintf(commandLine, sizeof commandLine, kPluginCommandFormat, preferedDevice);
    return commandLine;
}

void LaunchPlugin(const char* component) {
    Printf("\n %s Ready..\n", component);
    const int device = common::readPreferedDevice();
    Printf("\n Checking Pre Definied Audio Interface configuration...\n");
    LogLauncherf("Setting up Audio Interface Id: %d.", device);
    Printf("\n Launching plugin...\n");
    LogLauncherf("Launching Plugin.");
    platform::sleepMs(3000);

    // Lives until the task has finished: the future is destroyed first.
    const std::string commandLine = PluginCommandLine(device);
    int (*run)(const std::string&) = Seams().runCommand;
    try {
        // The future's destructor waits for the task, that is for the plugin to end.
        std::future<int> task =
            std::async(std::launch::async, [run, &commandLine] { return run(commandLine); });
        task.wait();
    } catch (const std::system_error& error) {
        // No worker thread to be had: the plugin still has to run, so run it here.
        Printf("\n Could not start the launch task (%s); starting the plugin directly.\n",
               error.what());
        run(commandLine);
    }
}

}  // namespace launcher
