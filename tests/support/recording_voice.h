#pragma once
// Hands on what would be spoken and beeped, as text, instead of sounding it: "say: Fuel Reset.",
// "say later: Sim connected.", "tone 1250 150 0.9/0.0/0.0/0.0". Installed for the life of the
// object; calls may come from the background speech threads, so add() must be thread-safe.

#include <cstdio>
#include <string>

#include "plugin/audio/voice.h"

namespace testsupport {

class RecordingVoice : public audio::VoiceSink {
  public:
    RecordingVoice() { audio::setVoiceSink(this); }
    ~RecordingVoice() override { audio::setVoiceSink(nullptr); }
    RecordingVoice(const RecordingVoice&) = delete;
    RecordingVoice& operator=(const RecordingVoice&) = delete;

    void speak(const std::wstring& text, bool background) override {
        std::string narrow = background ? "say later: " : "say: ";
        for (wchar_t c : text) {
            narrow += c < 128 ? static_cast<char>(c) : '?';
        }
        add(narrow);
    }
    void tone(int hz, int durationMs, float frontLeft, float frontRight, float surroundLeft,
              float surroundRight) override {
        char text[96];
        std::snprintf(text, sizeof text, "tone %d %d %.1f/%.1f/%.1f/%.1f", hz, durationMs,
                      static_cast<double>(frontLeft), static_cast<double>(frontRight),
                      static_cast<double>(surroundLeft), static_cast<double>(surroundRight));
        add(text);
    }

  protected:
    virtual void add(std::string event) = 0;
};

}  // namespace testsupport
