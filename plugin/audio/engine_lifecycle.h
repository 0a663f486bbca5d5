#pragma once
// The audio engine's start, per-tick update and end, as the plugin frame calls them.

namespace audio {

// Creates the engine and initialises it with 512 channels; false when that fails (the plugin
// then ends with exit code 1).
bool CreateAudioEngine();
// The engine's per-frame work, once per tick.
void UpdateAudioEngine();
// Silences and stops the playing channel, releases the tone oscillator, closes and releases
// the engine. Harmless for anything never created (passive mode).
void ShutdownAudioEngine();

}  // namespace audio
