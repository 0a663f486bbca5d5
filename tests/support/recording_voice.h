#pragma once
// Records what would be spoken and beeped instead of sounding it: "say: Fuel Reset.",
// "say later: Sim connected.", "tone 1250 150 0.9/0.0/0.0/0.0". Installed for the life of the
// object; calls may come from the background speech threads. A subclass may send the events
// elsewhere (a timeline shared with other fakes) by overriding add().

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

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
    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

  protected:
    virtual void add(std::string event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

}  // namespace testsupport
