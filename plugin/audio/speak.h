#pragma once
// What lies behind Speak and SpeakInBackground (plugin/audio/voice.h): the temporary file
// name, the renderer in use and the count of background messages still on their way.

#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/speech.h"

namespace audio {

// Renders one sentence into a WAV file; platform::RenderSpeechToWaveFile unless replaced.
using SpeechRenderer =
    std::function<platform::SpeechRender(const std::wstring& text, const std::string& path)>;

// Replaces the renderer (tests); an empty function restores the platform's. Install it before
// any message is started.
void setSpeechRenderer(SpeechRenderer renderer);

// The temporary file of one message, relative to the working directory: the second and the
// millisecond of `now` run together ("%d%d", second 7 and millisecond 45 give "745"), then a
// serial number of this process's messages, so that neither second 1 ms 23 against second 12
// ms 3 nor two messages in the same millisecond share a file.
std::string SpeechFileName(const platform::UtcTime& now, unsigned serial);

// Background messages started and not yet returned.
int BackgroundSpeechRunning();
// Waits (in real time, at most `timeoutMs`) until no background message is running; false on
// timeout. Lets shutdown and tests wait for speech threads to end.
bool WaitForBackgroundSpeech(int timeoutMs);

}  // namespace audio
