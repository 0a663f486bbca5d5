// Stands in for the voice: nothing is heard, but a sink a test installs still hears every call.
#include <atomic>
#include <string>

#include "plugin/audio/voice.h"

namespace audio {

namespace {
std::atomic<VoiceSink*> sink{nullptr};
}

void setVoiceSink(VoiceSink* s) {
    sink.store(s);
}

void Speak(const wchar_t* text) {
    if (VoiceSink* s = sink.load(); s && text) {
        s->speak(text, false);
    }
}

void SpeakInBackground(const wchar_t* text) {
    if (VoiceSink* s = sink.load(); s && text) {
        s->speak(text, true);
    }
}

void PlayTone(int hz, int durationMs, float frontLeft, float frontRight, float surroundLeft,
              float surroundRight) {
    if (VoiceSink* s = sink.load()) {
        s->tone(hz, durationMs, frontLeft, frontRight, surroundLeft, surroundRight);
    }
}

}  // namespace audio
