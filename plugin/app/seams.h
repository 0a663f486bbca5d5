#pragma once
// Where the plugin frame (start-up, the tick loop, shutdown) reaches the other subsystems.
//
// The frame calls every entry point through `Seams()`, a table of function pointers that starts
// out pointing at the subsystems' own functions; tests replace entries with fakes.

#include "plugin/analytics/analytics_calls.h"
#include "plugin/audio/device_selection.h"
#include "plugin/audio/engine_lifecycle.h"
#include "plugin/controls/controls.h"
#include "plugin/engineer/race_work.h"
#include "plugin/links/serial_pit_board.h"

namespace app {

struct PluginSeams {
    // Start-up and shutdown.
    void (*setupControllers)();
    bool (*createAudioEngine)();
    void (*selectAudioDeviceInteractive)();
    void (*selectAudioDevicePredefined)();
    void (*shutdownAudioEngine)();
    bool (*openSerialPitBoard)();
    void (*closeSerialPitBoard)();
    // The tick loop runs until this says a key is waiting; it asks at most every 200 ms of
    // the clock, between ticks.
    bool (*keyWaiting)();

    // The tick.
    void (*updateAudioEngine)();
    void (*pollControls)();
    void (*refreshSessionSnapshot)();
    void (*logSessionJoin)();
    engineer::CommandResult (*driverCommands)();
    void (*garageDriverCommands)();
    void (*pitRoadHandling)();
    void (*onTrackCalls)();
};

// The table in use. Only the main thread reads it; tests change it before the code under test
// runs.
PluginSeams& Seams();
// The linked definitions, as at program start.
PluginSeams DefaultSeams();
void RestoreDefaultSeams();

}  // namespace app
