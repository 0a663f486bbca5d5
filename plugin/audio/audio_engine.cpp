#include "plugin/audio/audio_engine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/console_tags.h"
#include "platform/clock.h"
#include "platform/audio_output.h"
#include "platform/wav_file.h"

namespace audio {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr float kHalfPower = 0.70710678f;
// The mix is made in blocks of this many frames, whatever the caller asks for.
constexpr int kBlockFrames = 256;
// How often a device that could not be opened, or went away, is tried again.
constexpr int64_t kDeviceRetryMs = 3000;

enum Speaker { kFL, kFR, kC, kLFE, kSL, kSR, kBL, kBR };

// Mono sounds and oscillators start on both front speakers; sounds of more channels start with
// each channel on its own speaker.
MixLevels defaultLevels(int sourceChannels) {
    MixLevels levels{};
    if (sourceChannels <= 1) {
        levels[kFL] = 1.0f;
        levels[kFR] = 1.0f;
    } else {
        levels.fill(1.0f);
    }
    return levels;
}

// Folds one frame of the 7.1 mix into the output's layout (see platform/audio_output.h).
void foldFrame(const float* in, float* out, int channels) {
    switch (channels) {
        case 8:
            std::copy(in, in + 8, out);
            break;
        case 6:
            out[0] = in[kFL];
            out[1] = in[kFR];
            out[2] = in[kC];
            out[3] = in[kLFE];
            out[4] = in[kSL] + in[kBL];
            out[5] = in[kSR] + in[kBR];
            break;
        case 4:
            out[0] = in[kFL] + in[kC] * kHalfPower;
            out[1] = in[kFR] + in[kC] * kHalfPower;
            out[2] = in[kSL] + in[kBL];
            out[3] = in[kSR] + in[kBR];
            break;
        case 1:
            out[0] = 0.5f * (in[kFL] + in[kFR] + in[kSL] + in[kSR] + in[kBL] + in[kBR]) +
                     in[kC] * kHalfPower;
            break;
        default:  // stereo; the low-frequency channel has no speaker of its own there
            out[0] = in[kFL] + in[kC] * kHalfPower + in[kSL] + in[kBL];
            out[1] = in[kFR] + in[kC] * kHalfPower + in[kSR] + in[kBR];
            break;
    }
    for (int c = 0; c < channels; ++c) {
        out[c] = std::clamp(out[c], -1.0f, 1.0f);
    }
}

}  // namespace

AudioEngine::AudioEngine() = default;

AudioEngine::~AudioEngine() {
    close();
}

bool AudioEngine::init(int maxChannels) {
    if (maxChannels < 1) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    initialised_ = true;
    maxChannels_ = maxChannels;
    return true;
}

void AudioEngine::setSoftwareFormat(int rate, int channels) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (rate >= 8000 && rate <= 192000) {
        wantedRate_ = rate;
    }
    if (channels == 0 || platform::isSupportedChannelCount(channels)) {
        wantedChannels_ = channels;
    }
}

int AudioEngine::driverCount() {
    return static_cast<int>(platform::listAudioDevices().size());
}

std::string AudioEngine::driverName(int index) {
    const auto names = platform::listAudioDevices();
    if (index < 0 || index >= static_cast<int>(names.size())) {
        return "";
    }
    return names[static_cast<std::size_t>(index)];
}

bool AudioEngine::setDriver(int index) {
    if (index < 0 || index >= driverCount()) {
        return false;
    }
    std::shared_ptr<platform::AudioOutput> old;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (output_ && !noSound_ && index == driver_) {
            return true;  // already there: the output goes on undisturbed
        }
        const bool wasNoSound = noSound_;
        if (index != driver_) {
            deviceFailed_ = false;  // another device: its own first open decides
        }
        driver_ = index;
        noSound_ = false;
        if (output_ && !wasNoSound && output_->switchDevice(index)) {
            return true;
        }
        old = takeOutputLocked();
    }
    if (old) {
        old->close();
    }
    return true;
}

void AudioEngine::setNoSound() {
    std::shared_ptr<platform::AudioOutput> old;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (noSound_) {
            return;
        }
        noSound_ = true;
        deviceFailed_ = false;
        old = takeOutputLocked();
    }
    if (old) {
        old->close();
    }
}

std::shared_ptr<platform::AudioOutput> AudioEngine::takeOutputLocked() {
    std::shared_ptr<platform::AudioOutput> old = std::move(output_);
    output_.reset();
    return old;
}

void AudioEngine::openOutputLocked() {
    const platform::AudioFormat wanted{wantedRate_, wantedChannels_};
    // The output calls back into render(), which takes the lock; it never does so before
    // open returns, but a device thread may right after, so nothing here waits on it.
    auto pull = [this](float* out, int frames) { render(out, frames); };
    std::unique_ptr<platform::AudioOutput> opened;
    // With no device at all the engine is quietly silent, as on a machine without a sound card;
    // a device that failed or went away is looked for again once its next try is due.
    const bool tryDevice = deviceFailed_ ? platform::clock().steadyMs() >= retryAtMs_
                                         : !platform::listAudioDevices().empty();
    if (!noSound_ && tryDevice) {
        std::string error;
        opened = platform::openAudioOutput(driver_, wanted, pull, error);
        if (!opened) {
            deviceUnavailableLocked(error);
        } else if (deviceFailed_) {
            deviceFailed_ = false;
            if (soundOffSaid_) {
                soundOffSaid_ = false;
                std::printf(KV_TAG_FMOD "Audio device %d is back, sound on.\n", driver_);
                std::fflush(stdout);
            }
        }
    }
    if (!opened) {
        opened = platform::openSilentAudioOutput(wanted, pull);
    }
    const platform::AudioFormat got = opened->format();
    rate_ = got.rate;
    outChannels_ = got.channels;
    output_ = std::move(opened);
}

void AudioEngine::deviceUnavailableLocked(const std::string& why) {
    // A headset not ready yet or pulled out must not cost the rest of the race: the device is
    // tried again every few seconds, and the driver hears of it once each way.
    deviceFailed_ = true;
    retryAtMs_ = platform::clock().steadyMs() + kDeviceRetryMs;
    if (!soundOffSaid_) {
        soundOffSaid_ = true;
        std::printf(KV_TAG_FMOD
                    "Audio device %d is not available (%s), no sound until it is back.\n",
                    driver_, why.c_str());
        std::fflush(stdout);
    }
}

std::shared_ptr<platform::AudioOutput> AudioEngine::ensureOutput() {
    for (;;) {
        std::shared_ptr<platform::AudioOutput> retired;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!initialised_) {
                return nullptr;
            }
            if (output_ && !noSound_ && output_->lost()) {
                deviceUnavailableLocked("it went away");
                retired = takeOutputLocked();
            } else if (output_ && deviceFailed_ && !noSound_ &&
                       platform::clock().steadyMs() >= retryAtMs_) {
                retired = takeOutputLocked();  // the stand-in, for another try of the device
            } else {
                if (!output_) {
                    // render() must not run while the format changes: device threads only
                    // start inside the opening, and they block on this lock until it is done.
                    openOutputLocked();
                }
                return output_;
            }
        }
        // Closed, not pumped: another thread may already have opened an output of another
        // format in its place. A lost device renders no more, and the stand-in only silence.
        retired->close();
    }
}

void AudioEngine::pumpOutput() {
    if (std::shared_ptr<platform::AudioOutput> out = ensureOutput()) {
        out->pump();
    }
}

void AudioEngine::update() {
    pumpOutput();
}

DspId AudioEngine::createOscillator(float hz) {
    pumpOutput();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!initialised_) {
        return 0;
    }
    const DspId id = ++nextId_;
    dsps_[id].hz = hz;
    return id;
}

void AudioEngine::setOscillatorRate(DspId id, float hz) {
    pumpOutput();
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = dsps_.find(id); it != dsps_.end()) {
        it->second.hz = hz;
    }
}

void AudioEngine::releaseDsp(DspId id) {
    pumpOutput();
    std::lock_guard<std::mutex> lock(mutex_);
    if (dsps_.erase(id) == 0) {
        return;
    }
    for (auto it = channels_.begin(); it != channels_.end();) {
        auto next = std::next(it);
        if (it->second.dsp == id) {
            eraseChannelLocked(it);
        }
        it = next;
    }
}

ChannelId AudioEngine::playDsp(DspId id, bool paused) {
    pumpOutput();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!dsps_.count(id) || static_cast<int>(channels_.size()) >= maxChannels_) {
        return 0;
    }
    const ChannelId ch = ++nextId_;
    Channel& c = channels_[ch];
    c.dsp = id;
    c.levels = defaultLevels(1);
    c.paused = paused;
    return ch;
}

SoundId AudioEngine::createSound(const std::string& wavPath) {
    // Loaded outside the lock: a long file must not hold up the device thread.
    platform::WavData wav;
    std::string error;
    if (!platform::readWavFile(wavPath, wav, &error)) {
        return 0;
    }
    auto sound = std::make_shared<Sound>();
    sound->rate = wav.rate;
    sound->channels = wav.channels;
    sound->samples = std::move(wav.samples);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!initialised_) {
        return 0;
    }
    const SoundId id = ++nextId_;
    sounds_[id] = std::move(sound);
    return id;
}

void AudioEngine::releaseSound(SoundId id) {
    pumpOutput();
    std::lock_guard<std::mutex> lock(mutex_);
    if (sounds_.erase(id) == 0) {
        return;
    }
    for (auto it = channels_.begin(); it != channels_.end();) {
        auto next = std::next(it);
        if (it->second.sound == id) {
            it->second.sound = 0;  // gone already: nothing to release when it ends
            eraseChannelLocked(it);
        }
        it = next;
    }
}

void AudioEngine::releaseWhenDone(SoundId id) {
    pumpOutput();
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sounds_.find(id);
    if (it == sounds_.end()) {
        return;
    }
    it->second->releaseWhenDone = true;
    if (it->second->played) {
        releaseFinishedSoundLocked(id);
    }
}

ChannelId AudioEngine::playSound(SoundId id, bool paused) {
    pumpOutput();
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sounds_.find(id);
    if (it == sounds_.end() || static_cast<int>(channels_.size()) >= maxChannels_) {
        return 0;
    }
    it->second->played = true;
    const ChannelId ch = ++nextId_;
    Channel& c = channels_[ch];
    c.sound = id;
    c.data = it->second;
    c.levels = defaultLevels(it->second->channels);
    c.paused = paused;
    return ch;
}

bool AudioEngine::isPlaying(ChannelId id) {
    pumpOutput();
    std::lock_guard<std::mutex> lock(mutex_);
    return channels_.count(id) != 0;
}

void AudioEngine::setMixLevels(ChannelId id, const MixLevels& levels) {
    pumpOutput();
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = channels_.find(id); it != channels_.end()) {
        it->second.levels = levels;
    }
}

void AudioEngine::setVolume(ChannelId id, float volume) {
    pumpOutput();
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = channels_.find(id); it != channels_.end()) {
        it->second.volume = volume;
    }
}

void AudioEngine::setPaused(ChannelId id, bool paused) {
    pumpOutput();
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = channels_.find(id); it != channels_.end()) {
        it->second.paused = paused;
    }
}

void AudioEngine::stop(ChannelId id) {
    pumpOutput();
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = channels_.find(id); it != channels_.end()) {
        eraseChannelLocked(it);
    }
}

void AudioEngine::close() {
    std::shared_ptr<platform::AudioOutput> old;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        old = takeOutputLocked();
    }
    if (old) {
        old->pump();  // a capture gets the last of the sound before it ends
        old->close();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    channels_.clear();
    sounds_.clear();
    dsps_.clear();
    initialised_ = false;
    driver_ = 0;
    noSound_ = false;
    deviceFailed_ = false;
    soundOffSaid_ = false;
}

void AudioEngine::eraseChannelLocked(std::map<ChannelId, Channel>::iterator it) {
    const SoundId sound = it->second.sound;
    channels_.erase(it);
    if (sound != 0) {
        releaseFinishedSoundLocked(sound);
    }
}

void AudioEngine::releaseFinishedSoundLocked(SoundId id) {
    auto it = sounds_.find(id);
    if (it == sounds_.end() || !it->second->releaseWhenDone) {
        return;
    }
    for (const auto& [ch, c] : channels_) {
        if (c.sound == id) {
            return;  // still heard on another channel
        }
    }
    sounds_.erase(it);
}

void AudioEngine::render(float* out, int frames) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int channels = outChannels_;
    while (frames > 0) {
        const int n = std::min(frames, kBlockFrames);
        mixLocked(out, n);
        out += static_cast<std::size_t>(n) * static_cast<std::size_t>(channels);
        frames -= n;
    }
}

void AudioEngine::mixLocked(float* out, int frames) {
    const std::size_t n = static_cast<std::size_t>(frames);
    mix_.assign(n * kMixSpeakers, 0.0f);
    block_.resize(n);

    // Each oscillator runs once per block however many channels play it, so its phase goes on
    // smoothly across blocks and rate changes.
    for (auto& [id, dsp] : dsps_) {
        bool heard = false;
        for (const auto& [ch, c] : channels_) {
            if (c.dsp == id && !c.paused) {
                heard = true;
                break;
            }
        }
        if (!heard) {
            continue;
        }
        const double step = kTwoPi * dsp.hz / rate_;
        double phase = dsp.phase;
        for (std::size_t i = 0; i < n; ++i) {
            block_[i] = static_cast<float>(std::sin(phase));
            phase += step;
        }
        dsp.phase = std::fmod(phase, kTwoPi);
        for (const auto& [ch, c] : channels_) {
            if (c.dsp != id || c.paused) {
                continue;
            }
            for (int s = 0; s < kMixSpeakers; ++s) {
                const float g = c.levels[static_cast<std::size_t>(s)] * c.volume;
                if (g == 0.0f) {
                    continue;
                }
                for (std::size_t i = 0; i < n; ++i) {
                    mix_[i * kMixSpeakers + static_cast<std::size_t>(s)] += block_[i] * g;
                }
            }
        }
    }

    // Sounds, resampled on the fly (linear) from their own rate to the output's.
    for (auto it = channels_.begin(); it != channels_.end();) {
        auto next = std::next(it);
        Channel& c = it->second;
        if (!c.data || c.paused) {
            it = next;
            continue;
        }
        const Sound& s = *c.data;
        const std::size_t srcFrames = s.channels > 0 ? s.samples.size() / s.channels : 0;
        const double step = static_cast<double>(s.rate) / rate_;
        const std::size_t sc = static_cast<std::size_t>(s.channels);
        for (std::size_t i = 0; i < n && c.position < static_cast<double>(srcFrames); ++i) {
            const std::size_t i0 = static_cast<std::size_t>(c.position);
            const std::size_t i1 = std::min(i0 + 1, srcFrames - 1);
            const float t = static_cast<float>(c.position - static_cast<double>(i0));
            for (int sp = 0; sp < kMixSpeakers; ++sp) {
                const float g = c.levels[static_cast<std::size_t>(sp)] * c.volume;
                if (g == 0.0f) {
                    continue;
                }
                // A mono source feeds every speaker; otherwise source channel k feeds speaker k.
                const std::size_t k = sc == 1 ? 0 : static_cast<std::size_t>(sp);
                if (k >= sc) {
                    continue;
                }
                const float a = s.samples[i0 * sc + k];
                const float b = s.samples[i1 * sc + k];
                mix_[i * kMixSpeakers + static_cast<std::size_t>(sp)] += (a + (b - a) * t) * g;
            }
            c.position += step;
        }
        if (c.position >= static_cast<double>(srcFrames)) {
            eraseChannelLocked(it);  // played once: the channel ends
        }
        it = next;
    }

    for (std::size_t i = 0; i < n; ++i) {
        foldFrame(&mix_[i * kMixSpeakers], out + i * static_cast<std::size_t>(outChannels_),
                  outChannels_);
    }
}

int AudioEngine::outputRate() {
    ensureOutput();
    std::lock_guard<std::mutex> lock(mutex_);
    return rate_;
}

int AudioEngine::outputChannels() {
    ensureOutput();
    std::lock_guard<std::mutex> lock(mutex_);
    return outChannels_;
}

bool AudioEngine::hasDeviceOutput() {
    std::shared_ptr<platform::AudioOutput> out = ensureOutput();
    return out && out->audible();
}

int AudioEngine::currentDriver() {
    std::lock_guard<std::mutex> lock(mutex_);
    return driver_;
}

std::size_t AudioEngine::soundCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sounds_.size();
}

std::size_t AudioEngine::channelCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return channels_.size();
}

std::size_t AudioEngine::dspCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return dsps_.size();
}

AudioEngine& Engine() {
    // Never destroyed: detached speech threads may still reach it while the process ends. The
    // output is closed at exit all the same, so a capture file gets its final header.
    static AudioEngine* engine = [] {
        auto* e = new AudioEngine;
        std::atexit([] { Engine().close(); });
        return e;
    }();
    return *engine;
}

}  // namespace audio
