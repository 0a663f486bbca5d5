#include "plugin/audio/voice_sink.h"

#include <atomic>

namespace audio {

namespace {
std::atomic<VoiceSink*> sink{nullptr};
}

void setVoiceSink(VoiceSink* s) {
    sink.store(s);
}

VoiceSink* CurrentVoiceSink() {
    return sink.load();
}

}  // namespace audio
