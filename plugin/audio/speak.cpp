// Spoken messages: the sentence is rendered into a temporary WAV file, loaded whole into the
// engine, started on its own channel and the file deleted again. There is no queue: messages
// started close together play over each other.
#include "plugin/audio/speak.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/clock.h"
#include "platform/speech.h"
#include "platform/system.h"
#include "plugin/audio/audio_engine.h"
#include "plugin/audio/audio_state.h"
#include "plugin/audio/voice.h"
#include "plugin/audio/voice_sink.h"
#include "plugin/engineer/race_state.h"

namespace audio {

namespace {

// What the speech threads share. Never destroyed: the end of the process waits for them only
// so long, and one still on its way must not meet a destroyed lock or renderer.
struct SpeechShared {
    std::mutex rendererMutex;
    SpeechRenderer customRenderer;  // guarded by rendererMutex
    std::mutex backgroundMutex;
    std::condition_variable backgroundDone;
    int backgroundRunning = 0;  // guarded by backgroundMutex
};

SpeechShared& shared() {
    static auto* s = new SpeechShared;
    return *s;
}

std::atomic<unsigned> messageSerial{0};

platform::SpeechRender render(const std::wstring& text, const std::string& path) {
    SpeechRenderer renderer;
    {
        std::lock_guard<std::mutex> lock(shared().rendererMutex);
        renderer = shared().customRenderer;
    }
    if (renderer) {
        return renderer(text, path);
    }
    return platform::RenderSpeechToWaveFile(text, path);
}

// Speak once the sink and passive mode have been looked at.
void speakNow(const std::wstring& text) {
    const std::string name = SpeechFileName(platform::clock().utcNow(), ++messageSerial);
    if (render(text, name) == platform::SpeechRender::kSetupFailed) {
        return;  // the thread could not start the speech services: the message is dropped
    }
    platform::sleepMs(100);

    AudioEngine& engine = Engine();
    // A failed render leaves no file (or a partial one): what loads, plays; nothing else does.
    const SoundId sound = engine.createSound(name);
    // Reaches the channel started last (the previous message or a tone), not this message,
    // which plays at the engine's default volume.
    engine.setVolume(OutputChannel(), 0.9f);
    if (sound != 0) {
        const ChannelId channel = engine.playSound(sound, false);
        if (channel != 0) {
            SetOutputChannel(channel);
            SetSpeechSound(sound);
            // Freed once it has been heard, so a long race does not gather every message.
            engine.releaseWhenDone(sound);
        } else {
            engine.releaseSound(sound);
        }
    }
    platform::sleepMs(100);
    if (std::remove(name.c_str()) != 0) {
        std::perror("\n Note: Fault Flushing Audio Cache\n");
        platform::sleepMs(100);
    }
    // The sentence's buffers were made on this thread; what they left in its pool goes back now.
    platform::releaseFreedMemory();
}

void speakMessage(const std::wstring& text) {
    if (engineer::Race().PassiveMode.load()) {
        return;
    }
    speakNow(text);
}

void backgroundMessage(std::wstring text) {
    speakMessage(text);
    text = std::wstring();  // nothing of this thread's own is left when it counts itself out
    SpeechShared& sh = shared();
    std::lock_guard<std::mutex> lock(sh.backgroundMutex);
    if (--sh.backgroundRunning == 0) {
        sh.backgroundDone.notify_all();
    }
}

}  // namespace

void setSpeechRenderer(SpeechRenderer renderer) {
    std::lock_guard<std::mutex> lock(shared().rendererMutex);
    shared().customRenderer = std::move(renderer);
}

std::string SpeechFileName(const platform::UtcTime& now, unsigned serial) {
    char name[64];
    std::snprintf(name, sizeof name, "%d%d_%u", now.second, now.millisecond, serial);
    return name;
}

int BackgroundSpeechRunning() {
    std::lock_guard<std::mutex> lock(shared().backgroundMutex);
    return shared().backgroundRunning;
}

bool WaitForBackgroundSpeech(int timeoutMs) {
    SpeechShared& sh = shared();
    std::unique_lock<std::mutex> lock(sh.backgroundMutex);
    return sh.backgroundDone.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                      [&sh] { return sh.backgroundRunning == 0; });
}

void Speak(const wchar_t* text) {
    if (!text) {
        return;
    }
    if (VoiceSink* sink = CurrentVoiceSink()) {
        sink->speak(text, false);
        return;
    }
    speakMessage(text);
}

void SpeakInBackground(const wchar_t* text) {
    if (!text) {
        return;
    }
    if (VoiceSink* sink = CurrentVoiceSink()) {
        sink->speak(text, true);
        return;
    }
    SpeechShared& sh = shared();
    {
        std::lock_guard<std::mutex> lock(sh.backgroundMutex);
        ++sh.backgroundRunning;
    }
    try {
        // The thread owns its copy: the caller may reuse its buffer at once.
        std::thread(backgroundMessage, std::wstring(text)).detach();
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "\n Note: could not start a speech thread (%s); message dropped\n",
                     e.what());
        std::lock_guard<std::mutex> lock(sh.backgroundMutex);
        if (--sh.backgroundRunning == 0) {
            sh.backgroundDone.notify_all();
        }
    }
}

}  // namespace audio
