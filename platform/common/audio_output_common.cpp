// The choice among the outputs, and the two that follow the process clock instead of a sound
// card: the WAV capture and the no-sound output.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio_output.h"
#include "platform/clock.h"
#include "platform/wav_file.h"

namespace platform {

namespace {

// Never destroyed: a speech thread still on its way at the end of the process may open the
// engine's output, which asks for the capture in force.
struct Override {
    std::mutex mutex;
    bool set = false;
    std::optional<CaptureSettings> settings;
    int opensFailed = 0;  // of the override's failingOpens
    bool lostOnce = false;
};

Override& captureOverride() {
    static auto* o = new Override;
    return *o;
}

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

int environmentInt(const char* name, int fallback, int low, int high) {
    const std::string v = environment(name);
    if (v.empty()) {
        return fallback;
    }
    char* end = nullptr;
    const long n = std::strtol(v.c_str(), &end, 10);
    if (end == v.c_str() || n < low || n > high) {
        return fallback;
    }
    return static_cast<int>(n);
}

bool silentBackendAsked() {
    const std::string b = environment("KORVANE_AUDIO_BACKEND");
    return b == "null" || b == "nosound" || b == "none";
}

// Pulls, when asked, every frame the process clock says is due since the output opened; with
// a virtual clock a 16 ms wait therefore yields exactly 16 ms of sound.
class ClockedOutput final : public AudioOutput {
  public:
    ClockedOutput(const AudioFormat& format, AudioPull pull, int device, long long lostAfterMs = -1)
        : format_(format),
          pull_(std::move(pull)),
          device_(device),
          start_(clock().steadyMs()),
          lostAfterMs_(lostAfterMs) {}

    bool openFile(const std::string& path) {
        return writer_.open(path, format_.rate, format_.channels);
    }

    AudioFormat format() const override { return format_; }
    bool audible() const override { return device_ >= 0; }
    bool lost() const override { return lost_.load(); }

    bool switchDevice(int index) override {
        if (device_ < 0) {
            return false;
        }
        device_ = index;  // every capture device writes the same file
        return true;
    }

    void pump() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_ || lost_) {
            return;
        }
        int64_t elapsed = std::max<int64_t>(0, clock().steadyMs() - start_);
        if (lostAfterMs_ >= 0 && elapsed >= lostAfterMs_) {
            // Unplugged: what was due up to then is the last it takes.
            elapsed = lostAfterMs_;
            lost_ = true;
        }
        const int64_t due = elapsed * format_.rate / 1000;
        const int64_t catchUp = int64_t{format_.rate} * 10;
        if (!writer_.isOpen() && due - rendered_ > catchUp) {
            // Nobody hears this output: a long gap is passed over after a while of it, which is
            // enough for what was playing to end.
            rendered_ = due - catchUp;
        }
        const std::size_t ch = static_cast<std::size_t>(format_.channels);
        while (rendered_ < due) {
            const int n = static_cast<int>(std::min<int64_t>(due - rendered_, kChunk));
            buffer_.assign(static_cast<std::size_t>(n) * ch, 0.0f);
            pull_(buffer_.data(), n);
            if (writer_.isOpen()) {
                writer_.write(buffer_.data(), static_cast<std::size_t>(n));
            }
            rendered_ += n;
        }
    }

    void close() override {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        writer_.close();
    }

  private:
    static constexpr int kChunk = 1024;

    const AudioFormat format_;
    AudioPull pull_;
    std::atomic<int> device_;
    const int64_t start_;
    const long long lostAfterMs_;
    std::atomic<bool> lost_{false};
    std::mutex mutex_;
    int64_t rendered_ = 0;
    bool closed_ = false;
    std::vector<float> buffer_;
    WavWriter writer_;
};

AudioFormat clockedFormat(const AudioFormat& wanted, int defaultChannels) {
    AudioFormat f;
    f.rate = wanted.rate >= 8000 && wanted.rate <= 192000 ? wanted.rate : 48000;
    f.channels = isSupportedChannelCount(wanted.channels) ? wanted.channels : defaultChannels;
    return f;
}

}  // namespace

bool isSupportedChannelCount(int channels) {
    return channels == 1 || channels == 2 || channels == 4 || channels == 6 || channels == 8;
}

std::optional<CaptureSettings> captureFromEnvironment() {
    const std::string path = environment("KORVANE_AUDIO_CAPTURE");
    if (path.empty()) {
        return std::nullopt;
    }
    CaptureSettings s;
    s.path = path;
    s.devices = environmentInt("KORVANE_AUDIO_CAPTURE_DEVICES", 1, 0, 64);
    s.channels = environmentInt("KORVANE_AUDIO_CAPTURE_CHANNELS", 2, 1, 8);
    if (!isSupportedChannelCount(s.channels)) {
        s.channels = 2;
    }
    return s;
}

void setCaptureOverride(std::optional<CaptureSettings> settings) {
    Override& o = captureOverride();
    std::lock_guard<std::mutex> lock(o.mutex);
    o.set = settings.has_value();
    o.settings = std::move(settings);
    o.opensFailed = 0;
    o.lostOnce = false;
}

std::optional<CaptureSettings> activeCapture() {
    {
        Override& o = captureOverride();
        std::lock_guard<std::mutex> lock(o.mutex);
        if (o.set) {
            return o.settings;
        }
    }
    return captureFromEnvironment();
}

std::vector<std::string> listAudioDevices() {
    if (const auto capture = activeCapture()) {
        std::vector<std::string> names;
        for (int i = 0; i < capture->devices; ++i) {
            names.push_back("Capture device " + std::to_string(i));
        }
        return names;
    }
    if (silentBackendAsked()) {
        return {};
    }
    return listSystemAudioDevices();
}

std::unique_ptr<AudioOutput> openAudioOutput(int index, const AudioFormat& wanted, AudioPull pull,
                                             std::string& error) {
    if (auto capture = activeCapture()) {
        {
            Override& o = captureOverride();
            std::lock_guard<std::mutex> lock(o.mutex);
            if (o.opensFailed < capture->failingOpens) {
                ++o.opensFailed;
                error = "device not ready";
                return nullptr;
            }
            // Only the first output that opens is lost; the device is back after that.
            if (o.lostOnce) {
                capture->lostAfterMs = -1;
            }
            o.lostOnce = o.lostOnce || capture->lostAfterMs >= 0;
        }
        return openCaptureOutput(*capture, index, wanted, std::move(pull), error);
    }
    if (silentBackendAsked()) {
        error = "no sound asked for";
        return nullptr;
    }
    return openSystemAudioOutput(index, wanted, std::move(pull), error);
}

std::unique_ptr<AudioOutput> openCaptureOutput(const CaptureSettings& settings, int index,
                                               const AudioFormat& wanted, AudioPull pull,
                                               std::string& error) {
    if (index < 0 || index >= settings.devices) {
        error = "no capture device " + std::to_string(index);
        return nullptr;
    }
    AudioFormat format = clockedFormat(wanted, settings.channels);
    if (!isSupportedChannelCount(wanted.channels)) {
        format.channels = settings.channels;
    }
    auto out =
        std::make_unique<ClockedOutput>(format, std::move(pull), index, settings.lostAfterMs);
    if (!out->openFile(settings.path)) {
        error = "cannot write " + settings.path;
        return nullptr;
    }
    return out;
}

std::unique_ptr<AudioOutput> openSilentAudioOutput(const AudioFormat& wanted, AudioPull pull) {
    return std::make_unique<ClockedOutput>(clockedFormat(wanted, 2), std::move(pull), -1);
}

}  // namespace platform
