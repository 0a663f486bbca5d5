// Output devices through SDL2's audio: SDL pulls from the mix on its own thread.
#include <SDL.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/audio_output.h"

namespace platform {

namespace {

std::mutex sdlMutex;
bool sdlTried = false;
bool sdlReady = false;

// Starts SDL's audio once for the process; false when no audio driver can start.
bool startSdlAudio() {
    std::lock_guard<std::mutex> lock(sdlMutex);
    if (!sdlTried) {
        sdlTried = true;
        sdlReady = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    }
    return sdlReady;
}

constexpr const char* kDefaultDevice = "Default audio device";

// SDL's stand-ins for a sound card are not devices a driver can hear.
bool realDriver() {
    const char* driver = SDL_GetCurrentAudioDriver();
    return driver && std::strcmp(driver, "dummy") != 0 && std::strcmp(driver, "disk") != 0;
}

class SdlOutput final : public AudioOutput {
  public:
    explicit SdlOutput(AudioPull pull) : pull_(std::move(pull)) {}
    ~SdlOutput() override { close(); }

    bool open(const char* name, const AudioFormat& wanted, std::string& error) {
        SDL_AudioSpec want{};
        want.freq = wanted.rate > 0 ? wanted.rate : 48000;
        want.format = AUDIO_F32SYS;
        want.channels = static_cast<Uint8>(wanted.channels > 0 ? wanted.channels : 8);
        want.samples = 1024;
        want.callback = &SdlOutput::callback;
        want.userdata = this;
        SDL_AudioSpec have{};
        device_ =
            SDL_OpenAudioDevice(name, 0, &want, &have,
                                SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
        if (device_ != 0 && !isSupportedChannelCount(have.channels)) {
            // A layout the mix does not make: let SDL convert from stereo.
            SDL_CloseAudioDevice(device_);
            want.channels = 2;
            device_ = SDL_OpenAudioDevice(name, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
        }
        if (device_ == 0) {
            error = SDL_GetError();
            return false;
        }
        format_.rate = have.freq;
        format_.channels = have.channels;
        SDL_PauseAudioDevice(device_, 0);
        return true;
    }

    AudioFormat format() const override { return format_; }

    // SDL stops a device that has gone away (a USB headset pulled out) and leaves it so.
    bool lost() const override {
        return device_ != 0 && SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED;
    }

    void close() override {
        if (device_ != 0) {
            SDL_CloseAudioDevice(device_);  // waits for a callback in progress
            device_ = 0;
        }
    }

  private:
    static void SDLCALL callback(void* self, Uint8* stream, int len) {
        static_cast<SdlOutput*>(self)->fill(reinterpret_cast<float*>(stream), len);
    }

    void fill(float* out, int len) {
        const int ch = format_.channels;
        const int frames = len / static_cast<int>(sizeof(float)) / ch;
        if (ch != 8) {
            pull_(out, frames);
            return;
        }
        // SDL's 7.1 has the back pair before the side pair; the mix has them the other way.
        buffer_.resize(static_cast<std::size_t>(frames) * 8);
        pull_(buffer_.data(), frames);
        for (int i = 0; i < frames; ++i) {
            const float* in = &buffer_[static_cast<std::size_t>(i) * 8];
            float* o = out + static_cast<std::size_t>(i) * 8;
            o[0] = in[0];
            o[1] = in[1];
            o[2] = in[2];
            o[3] = in[3];
            o[4] = in[6];
            o[5] = in[7];
            o[6] = in[4];
            o[7] = in[5];
        }
    }

    AudioPull pull_;
    SDL_AudioDeviceID device_ = 0;
    AudioFormat format_;
    std::vector<float> buffer_;
};

}  // namespace

std::vector<std::string> listSystemAudioDevices() {
    std::vector<std::string> names;
    if (!startSdlAudio() || !realDriver()) {
        return names;
    }
    const int n = SDL_GetNumAudioDevices(0);
    if (n < 0) {
        // The driver cannot list its devices, but its default one plays.
        names.push_back(kDefaultDevice);
        return names;
    }
    for (int i = 0; i < n; ++i) {
        const char* name = SDL_GetAudioDeviceName(i, 0);
        names.push_back(name ? name : "");
    }
    return names;
}

std::unique_ptr<AudioOutput> openSystemAudioOutput(int index, const AudioFormat& wanted,
                                                   AudioPull pull, std::string& error) {
    if (!startSdlAudio()) {
        error = "no audio driver";
        return nullptr;
    }
    if (!realDriver()) {
        error = "no audio device";
        return nullptr;
    }
    const int n = SDL_GetNumAudioDevices(0);
    if (index < 0 || index >= (n < 0 ? 1 : n)) {
        error = "no audio device " + std::to_string(index);
        return nullptr;
    }
    const char* name = n < 0 ? nullptr : SDL_GetAudioDeviceName(index, 0);
    auto out = std::make_unique<SdlOutput>(std::move(pull));
    if (!out->open(name, wanted, error)) {
        return nullptr;
    }
    return out;
}

}  // namespace platform
