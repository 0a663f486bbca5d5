// Choosing the output device at start-up, with the test sounds that let the driver hear where
// each speaker is.
#include "plugin/audio/device_selection.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "common/console_tags.h"
#include "common/settings_file.h"
#include "platform/clock.h"
#include "plugin/audio/audio_engine.h"
#include "plugin/audio/audio_state.h"
#include "plugin/engineer/race_state.h"

namespace audio {

namespace {

std::mutex readerMutex;
NumberReader customReader;

bool readNumber(int& value) {
    NumberReader reader;
    {
        std::lock_guard<std::mutex> lock(readerMutex);
        reader = customReader;
    }
    std::fflush(stdout);
    if (reader) {
        return reader(value);
    }
    return std::scanf("%d", &value) == 1;
}

void printStartup() {
    std::printf(KV_TAG_INIT "Plugin Setup..\n");
    std::printf(KV_TAG_FMOD "Audio engine Startup..\n");
}

// Names the driver, reports it and selects it; false when the engine has no such driver, in
// which case the output stays as it was.
bool selectDriver(int id) {
    AudioEngine& engine = Engine();
    const std::string name = engine.driverName(id);
    SetAudioDeviceName(name);
    std::printf("\n" KV_TAG_FMOD "Setting device %d .. %s \n", id, name.c_str());
    return engine.setDriver(id);
}

// The oscillator of the test sounds, started paused into the shared channel.
ChannelId startTestOscillator(float hz) {
    AudioEngine& engine = Engine();
    std::printf(KV_TAG_FMOD "Setting default DSP Profile.. \n");
    const DspId osc = engine.createOscillator(hz);
    SetToneOscillator(osc);
    const ChannelId channel = engine.playDsp(osc, true);
    SetOutputChannel(channel);
    return channel;
}

MixLevels levels(float fl, float fr, float c, float lfe, float sl, float sr) {
    return MixLevels{fl, fr, c, lfe, sl, sr, 0.0f, 0.0f};
}

// The test channel ends paused, with every main speaker set for whatever comes next.
void parkTestChannel(ChannelId channel, float volume) {
    AudioEngine& engine = Engine();
    engine.setPaused(channel, true);
    engine.setMixLevels(channel, levels(0.9f, 0.9f, 0, 0, 0.9f, 0.9f));
    engine.setVolume(channel, volume);
    platform::sleepMs(500);
}

void finish() {
    std::printf(KV_TAG_FMOD "Done.\n\n");
    std::fflush(stdout);
    platform::sleepMs(750);
}

}  // namespace

void setNumberReader(NumberReader reader) {
    std::lock_guard<std::mutex> lock(readerMutex);
    customReader = std::move(reader);
}

void SelectAudioDeviceInteractive() {
    AudioEngine& engine = Engine();
    printStartup();
    const int count = engine.driverCount();
    if (count == 0) {
        engine.setNoSound();
        std::printf(KV_TAG_FMOD "No Audio Devices found.\n");
        std::fflush(stdout);
        return;
    }
    if (count == 1) {
        SetAudioDeviceName(engine.driverName(AudioDeviceId()));
        engine.setDriver(AudioDeviceId());
        std::printf(KV_TAG_FMOD "Single Audio device found found.\n");
        std::fflush(stdout);
        return;
    }
    std::printf(KV_TAG_FMOD "Number of Audio devices: %d\n", count);
    std::printf(KV_TAG_FMOD "Listing devices..\n\n");
    for (int i = 0; i < count; ++i) {
        const int id = AudioDeviceId();
        std::printf(" %d: ", id);
        std::printf("%s\n", engine.driverName(id).c_str());
        SetAudioDeviceId(id + 1);
    }
    std::printf("\n Enter Driver Id# to use: ");
    int chosen = AudioDeviceId();  // no number keeps the count, which names no driver
    if (readNumber(chosen)) {
        SetAudioDeviceId(chosen);
    }
    const int id = AudioDeviceId();
    // A number that names no driver is not kept: the launcher would pass it back at every
    // start, and the driver would never be asked again.
    const bool selected = selectDriver(id);

    const ChannelId channel = startTestOscillator(440.0f);
    std::printf(KV_TAG_FMOD "Spatial Audio Test..(Volume: %2.2f)\n", 0.9);
    std::fflush(stdout);
    // Front left, front right, surround right, surround left.
    const MixLevels walk[4] = {levels(0.9f, 0, 0, 0, 0, 0), levels(0, 0.9f, 0, 0, 0, 0),
                               levels(0, 0, 0, 0, 0, 0.9f), levels(0, 0, 0, 0, 0.9f, 0)};
    for (int step = 0; step < 4; ++step) {
        engine.setMixLevels(channel, walk[step]);
        engine.setVolume(channel, 0.5f);
        if (step == 0) {
            engine.setPaused(channel, false);
        }
        platform::sleepMs(500);
    }
    parkTestChannel(channel, 1.0f);
    if (selected) {
        common::writePreferedDevice(id);
    }
    finish();
}

void SelectAudioDevicePredefined() {
    AudioEngine& engine = Engine();
    printStartup();
    const int id = engineer::Race().AudioInterfaceId;
    SetAudioDeviceId(id);
    selectDriver(id);  // a driver the engine does not have leaves the output as it was

    const ChannelId channel = startTestOscillator(250.0f);
    const DspId osc = ToneOscillator();
    std::printf(KV_TAG_FMOD "Spatial Audio Test..(Volume: %2.2f)\n", 0.9);
    std::fflush(stdout);
    engine.setPaused(channel, false);
    engine.setMixLevels(channel, MixLevels{});
    engine.setVolume(channel, 0.9f);
    // Left to right with a rising pitch; the low-frequency speaker follows the louder side.
    for (int k = 0; k < 30; ++k) {
        const double rising = 0.033 * k;
        const double falling = 1.0 - 0.033 * k;
        engine.setMixLevels(channel, levels(static_cast<float>(falling), static_cast<float>(rising),
                                            0, static_cast<float>(falling), 0, 0));
        engine.setOscillatorRate(osc, static_cast<float>(20 + 3 * (k + 1)));
        platform::sleepMs(50);
    }
    platform::sleepMs(500);
    // And back, falling.
    for (int k = 0; k < 30; ++k) {
        const double rising = 0.033 * k;
        const double falling = 1.0 - 0.033 * k;
        engine.setMixLevels(channel, levels(static_cast<float>(rising), static_cast<float>(falling),
                                            0, static_cast<float>(falling), 0, 0));
        engine.setOscillatorRate(osc, static_cast<float>(110 - 3 * (k + 1)));
        platform::sleepMs(50);
    }
    parkTestChannel(channel, 0.9f);
    finish();
}

}  // namespace audio
