#pragma once
// What the race engineer says and sounds: spoken messages and tones.

#include <string>

namespace audio {

// Speaks one sentence (at most 255 wide characters) and returns once playback has started.
void Speak(const wchar_t* text);
// Speaks on a detached thread with its own copy of the text; returns at once.
void SpeakInBackground(const wchar_t* text);
// A sine beep of `hz` for `durationMs` on the given speakers; returns when it has ended.
void PlayTone(int hz, int durationMs, float frontLeft, float frontRight, float surroundLeft,
              float surroundRight);

// Where the three calls go. The real sink is the audio engine; tests record the calls.
class VoiceSink {
  public:
    virtual ~VoiceSink() = default;
    virtual void speak(const std::wstring& text, bool background) = 0;
    virtual void tone(int hz, int durationMs, float frontLeft, float frontRight, float surroundLeft,
                      float surroundRight) = 0;
};

// nullptr restores the engine's sink.
void setVoiceSink(VoiceSink* sink);

}  // namespace audio
