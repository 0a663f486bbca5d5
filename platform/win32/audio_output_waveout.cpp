// Output devices through winmm's waveOut: a thread keeps a few buffers queued, refilling each
// from the mix as the device hands it back.
#include <windows.h>
#include <mmreg.h>
#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "platform/audio_output.h"

namespace platform {

namespace {

// KSDATAFORMAT_SUBTYPE_PCM, spelled out so that no GUID library is needed.
const GUID kSubtypePcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

constexpr int kBuffers = 4;
constexpr int kBufferMs = 20;

DWORD channelMask(int channels) {
    switch (channels) {
        case 1:
            return SPEAKER_FRONT_CENTER;
        case 4:
            return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_BACK_LEFT |
                   SPEAKER_BACK_RIGHT;
        case 6:
            return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_FRONT_CENTER |
                   SPEAKER_LOW_FREQUENCY | SPEAKER_BACK_LEFT | SPEAKER_BACK_RIGHT;
        case 8:
            return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_FRONT_CENTER |
                   SPEAKER_LOW_FREQUENCY | SPEAKER_BACK_LEFT | SPEAKER_BACK_RIGHT |
                   SPEAKER_SIDE_LEFT | SPEAKER_SIDE_RIGHT;
        default:
            return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    }
}

class WaveOutput final : public AudioOutput {
  public:
    explicit WaveOutput(AudioPull pull) : pull_(std::move(pull)) {}
    ~WaveOutput() override { close(); }

    bool open(UINT device, const AudioFormat& wanted, std::string& error) {
        event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!event_) {
            error = "cannot create an event";
            return false;
        }
        const int rate = wanted.rate > 0 ? wanted.rate : 48000;
        // The most speakers the device takes, down to plain stereo.
        const int tries[] = {wanted.channels > 0 ? wanted.channels : 8, 6, 2};
        MMRESULT r = MMSYSERR_ERROR;
        for (int channels : tries) {
            if (!isSupportedChannelCount(channels)) {
                continue;
            }
            WAVEFORMATEXTENSIBLE fmt{};
            fmt.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
            fmt.Format.nChannels = static_cast<WORD>(channels);
            fmt.Format.nSamplesPerSec = static_cast<DWORD>(rate);
            fmt.Format.wBitsPerSample = 16;
            fmt.Format.nBlockAlign = static_cast<WORD>(channels * 2);
            fmt.Format.nAvgBytesPerSec = static_cast<DWORD>(rate * channels * 2);
            fmt.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
            fmt.Samples.wValidBitsPerSample = 16;
            fmt.dwChannelMask = channelMask(channels);
            fmt.SubFormat = kSubtypePcm;
            r = waveOutOpen(&wave_, device, &fmt.Format, reinterpret_cast<DWORD_PTR>(event_), 0,
                            CALLBACK_EVENT);
            if (r == MMSYSERR_NOERROR) {
                format_.rate = rate;
                format_.channels = channels;
                break;
            }
        }
        if (r != MMSYSERR_NOERROR) {
            error = "waveOutOpen failed (" + std::to_string(r) + ")";
            CloseHandle(event_);
            event_ = nullptr;
            return false;
        }
        const std::size_t frames = static_cast<std::size_t>(rate * kBufferMs / 1000);
        for (auto& b : buffers_) {
            b.samples.assign(frames * static_cast<std::size_t>(format_.channels), 0);
            b.header = WAVEHDR{};
            b.header.lpData = reinterpret_cast<LPSTR>(b.samples.data());
            b.header.dwBufferLength = static_cast<DWORD>(b.samples.size() * sizeof(short));
            waveOutPrepareHeader(wave_, &b.header, sizeof(WAVEHDR));
            b.header.dwFlags |= WHDR_DONE;  // free to be filled
        }
        mix_.resize(frames * static_cast<std::size_t>(format_.channels));
        running_ = true;
        thread_ = std::thread([this] { run(); });
        return true;
    }

    AudioFormat format() const override { return format_; }
    bool lost() const override { return lost_.load(); }

    void close() override {
        if (!wave_) {
            return;
        }
        running_ = false;
        SetEvent(event_);
        if (thread_.joinable()) {
            thread_.join();
        }
        waveOutReset(wave_);
        for (auto& b : buffers_) {
            waveOutUnprepareHeader(wave_, &b.header, sizeof(WAVEHDR));
        }
        waveOutClose(wave_);
        wave_ = nullptr;
        CloseHandle(event_);
        event_ = nullptr;
    }

  private:
    struct Buffer {
        std::vector<short> samples;
        WAVEHDR header{};
    };

    void run() {
        while (running_) {
            for (auto& b : buffers_) {
                if (!running_ || !(b.header.dwFlags & WHDR_DONE)) {
                    continue;
                }
                fill(b);
                b.header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
                if (waveOutWrite(wave_, &b.header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
                    // The device has gone (unplugged, its driver stopped): nothing more is
                    // played until it is opened again.
                    lost_ = true;
                    return;
                }
            }
            WaitForSingleObject(event_, 100);
        }
    }

    void fill(Buffer& b) {
        const int ch = format_.channels;
        const std::size_t frames = b.samples.size() / static_cast<std::size_t>(ch);
        pull_(mix_.data(), static_cast<int>(frames));
        for (std::size_t i = 0; i < frames; ++i) {
            const float* in = &mix_[i * static_cast<std::size_t>(ch)];
            short* out = &b.samples[i * static_cast<std::size_t>(ch)];
            for (int c = 0; c < ch; ++c) {
                // The device's 7.1 has the back pair before the side pair.
                int from = c;
                if (ch == 8 && c >= 4) {
                    from = c < 6 ? c + 2 : c - 2;
                }
                const float v = std::clamp(in[from], -1.0f, 1.0f);
                out[c] = static_cast<short>(std::lround(v * 32767.0f));
            }
        }
    }

    AudioPull pull_;
    HWAVEOUT wave_ = nullptr;
    HANDLE event_ = nullptr;
    AudioFormat format_;
    Buffer buffers_[kBuffers];
    std::vector<float> mix_;
    std::atomic<bool> running_{false};
    std::atomic<bool> lost_{false};
    std::thread thread_;
};

}  // namespace

std::vector<std::string> listSystemAudioDevices() {
    std::vector<std::string> names;
    const UINT n = waveOutGetNumDevs();
    for (UINT i = 0; i < n; ++i) {
        WAVEOUTCAPSA caps{};
        if (waveOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR) {
            names.push_back(caps.szPname);
        } else {
            names.push_back("");
        }
    }
    return names;
}

std::unique_ptr<AudioOutput> openSystemAudioOutput(int index, const AudioFormat& wanted,
                                                   AudioPull pull, std::string& error) {
    if (index < 0 || static_cast<UINT>(index) >= waveOutGetNumDevs()) {
        error = "no audio device " + std::to_string(index);
        return nullptr;
    }
    auto out = std::make_unique<WaveOutput>(std::move(pull));
    if (!out->open(static_cast<UINT>(index), wanted, error)) {
        return nullptr;
    }
    return out;
}

}  // namespace platform
