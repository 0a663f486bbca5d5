#pragma once
// Text to speech: one sentence rendered into a WAV file that the audio engine then plays.

#include <string>

namespace platform {

enum class SpeechRender {
    kRendered,      // the file holds the whole sentence
    kEngineFailed,  // the speech engine could not render; the file may be missing or partial
    kSetupFailed,   // the thread could not start the speech services (COM): drop the message
};

// Renders `text` into a 22,050 Hz mono 16-bit PCM WAV file at `path` (created or replaced).
// Safe to call from several threads at once.
SpeechRender RenderSpeechToWaveFile(const std::wstring& text, const std::string& path);

// Starts the speech engine ahead of the first sentence, so the first message does not wait for
// it and what the engine keeps for the whole run is set up once, on the calling thread.
// Safe to call more than once; a failure is reported once, here.
void PrepareSpeech();

}  // namespace platform
