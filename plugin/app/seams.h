#pragma once
// Where the plugin frame (start-up, the tick loop, shutdown) reaches the other subsystems.
//
// The frame calls the functions declared below. Each group is defined by its owner's library;
// until that library exists, plugin/app/stubs/ stands in with the "no controller / no device /
// no serial / nothing to do" behaviour. A library takes over a group by declaring it in its
// CMakeLists.txt:
//
//     set_property(TARGET korvane_engineer APPEND PROPERTY KORVANE_APP_SEAMS engineer)
//
// Groups: controls, audio_engine, voice, serial, snapshot, session_join, engineer.
//
// The frame calls every function through `Seams()`, a table of function pointers that starts
// out pointing at the linked definitions; tests replace entries with fakes.

#include <cstdint>

namespace controls {
// Group "controls". Probes the controllers, runs the first-run setup, loads the bindings.
void SetupControllers();
// Rebuilds engineer::Race().PressedFunctions from the controllers and keyboard shortcuts.
void PollControls();
}  // namespace controls

namespace audio {
// Group "audio_engine". Creates the engine and initialises it with 512 channels; false when
// that fails (the plugin then ends with exit code 1).
bool CreateAudioEngine();
// Lists the output devices, lets the driver choose, plays the test sounds, saves the choice.
void SelectAudioDeviceInteractive();
// Uses engineer::Race().AudioInterfaceId and plays the test sounds; saves nothing.
void SelectAudioDevicePredefined();
// The engine's per-frame work, once per tick.
void UpdateAudioEngine();
// Silences and stops the playing channel, releases the tone oscillator, closes and releases
// the engine. Harmless for anything never created (passive mode).
void ShutdownAudioEngine();
// Group "voice": Speak, SpeakInBackground, PlayTone and setVoiceSink of plugin/audio/voice.h.
}  // namespace audio

// Group "serial": everything in plugin/links/serial_pit_board.h.

namespace analytics {
// Group "snapshot". The per-tick session snapshot refresh.
void RefreshSessionSnapshot();
// Group "session_join". The session-join log line, written when telemetry is first loaded.
void LogSessionJoin();
}  // namespace analytics

namespace engineer {
// Whether the tick goes on after the driver commands: a ModeConfig response ends it at once,
// without the connection watch.
enum class CommandResult { kTickGoesOn, kTickEnded };

// Group "engineer".
CommandResult DriverCommands();  // in the world, by track surface
void GarageDriverCommands();     // in the garage
void PitRoadHandling();
void OnTrackCalls();  // track surface 3
}  // namespace engineer

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
