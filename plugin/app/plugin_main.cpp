#include "plugin/app/plugin_main.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "common/console_tags.h"
#include "common/log_writer.h"
#include "common/logo.h"
#include "common/settings_file.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/system.h"
#include "plugin/app/banner.h"
#include "plugin/app/main_tick.h"
#include "plugin/app/seams.h"
#include "plugin/engineer/race_state.h"
#include "plugin/links/ctrl_c.h"

namespace app {

namespace {

std::atomic<void (*)()> serialClose{nullptr};

// How often the tick loop looks for the closing key. Asking the console costs system calls
// (on Windows, round trips to the console host) and ticks come at the simulator's 60 rows a
// second or faster; a fifth of a second is still an instant to whoever pressed the key.
constexpr int64_t kKeyCheckMs = 200;

// On ctrl-c or a request to terminate: the port is closed and other programs stop finding a
// pit-board line that nobody writes any more.
void CtrlCCleanup() {
    if (void (*close)() = serialClose.load()) {
        close();
    }
    RemoveLocalBlockName();
}

void StartAudio(int argc, char** argv) {
    engineer::RaceState& r = engineer::Race();
    std::printf(KV_TAG_OK "Initialising.");
    if (argc >= 1) {
        if (argc < 2) {
            r.AudioInterfaceId = common::kNoPreferedDevice;
            std::printf("\n" KV_TAG_FMOD "No predefined audio interface set. \n");
        } else {
            r.AudioInterfaceId = std::atoi(argv[1]);
            std::printf("\n" KV_TAG_FMOD "Using predefined audio interface: %d\n",
                        r.AudioInterfaceId);
        }
        common::DrawLogo();
    }
    std::printf(KV_TAG_INIT "Adjusting...\n");
    platform::sleepMs(1000);
    common::DrawLogo();
}

}  // namespace

int RunPlugin(int argc, char** argv) {
    // Live rows end in a carriage return, not a line feed: they must reach the console as
    // they are printed, as they do on a Windows console.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    platform::enableAnsiColours();
    platform::returnLargeBuffersToSystem();

    PluginSeams& seams = Seams();
    engineer::RaceState& r = engineer::Race();

    platform::clearScreen();
    platform::sleepMs(100);
    common::DrawLogo();
    PrintBanner();
    common::DrawLogo();

    r.PassiveMode = common::readPassiveMode() ? 1 : 0;
    if (r.PassiveMode) {
        r.AdaptiveTireManagement = 0;
    } else {
        seams.setupControllers();
        StartAudio(argc, argv);
        if (!seams.createAudioEngine()) {
            std::printf(KV_TAG_FMOD "Audio engine init failed.\n");
            return 1;
        }
        if (r.AudioInterfaceId == common::kNoPreferedDevice) {
            seams.selectAudioDeviceInteractive();
        } else {
            seams.selectAudioDevicePredefined();
        }
    }

    common::StartPluginLog("Starting Up. ");

    serialClose.store(seams.closeSerialPitBoard);
    links::setCtrlCCleanup(CtrlCCleanup);
    if (seams.openSerialPitBoard()) {
        int64_t nextKeyCheck = platform::clock().steadyMs();
        for (;;) {
            const int64_t now = platform::clock().steadyMs();
            if (now >= nextKeyCheck) {
                if (seams.keyWaiting()) {
                    break;
                }
                nextKeyCheck = now + kKeyCheckMs;
            }
            MainTick();
        }
        std::printf(KV_TAG_INFO "Shutting down.                                       \n\n");
        seams.closeSerialPitBoard();
        platform::endTimerPeriod();
        common::WritePluginLog("Closing Down.");
        CloseLocalLink();
    } else {
        std::printf(KV_TAG_INFO "init failed\n");
    }

    seams.shutdownAudioEngine();
    std::printf(KV_TAG_FMOD "Audio engine closed.\n");
    return 0;
}

}  // namespace app
