#pragma once
// Where the mixed sound goes: the system's output devices (SDL2 on POSIX, waveOut on
// Windows), a WAV capture that follows the process clock (tests, headless runs), or nothing.
//
// The capture is chosen by the environment and wins over real devices:
//   KORVANE_AUDIO_CAPTURE=<path.wav>     the mix is written to that file;
//   KORVANE_AUDIO_CAPTURE_DEVICES=<n>    it pretends n devices ("Capture device 0", ...), 1 if
//   unset; KORVANE_AUDIO_CAPTURE_CHANNELS=<n>   channels of the file (1, 2, 4, 6 or 8), 2 if unset.
// KORVANE_AUDIO_BACKEND=null (or "nosound") lists no device at all.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Fills `frames` interleaved frames of the output's format. Called on the output's own thread
// or inside pump().
using AudioPull = std::function<void(float* out, int frames)>;

// The mix's channel layouts, all in the order FL, FR, C, LFE, SL, SR, BL, BR cut to the count:
// 1 mono, 2 stereo, 4 FL FR SL SR, 6 (5.1) FL FR C LFE SL SR, 8 (7.1). Outputs reorder for
// their device themselves.
bool isSupportedChannelCount(int channels);

struct AudioFormat {
    int rate = 48000;
    int channels = 0;  // 0: the output's own choice
};

class AudioOutput {
  public:
    virtual ~AudioOutput() = default;
    virtual AudioFormat format() const = 0;
    // Outputs without a device thread (capture, no sound) pull here every frame that the
    // process clock says is due since they opened; device outputs do nothing.
    virtual void pump() {}
    // Moves to another device of the same list without reopening; false when the output must
    // be closed and opened again for that.
    virtual bool switchDevice(int /*index*/) { return false; }
    // Whether this output reaches a device or file, as opposed to the no-sound output.
    virtual bool audible() const { return true; }
    // True once the device has gone away (unplugged, taken by the system): the output pulls
    // no more and must be closed and opened again. Any thread.
    virtual bool lost() const { return false; }
    // Stops pulling; after it returns the pull function is never called again.
    virtual void close() = 0;
};

struct CaptureSettings {
    std::string path;
    int devices = 1;
    int channels = 2;
    // Faults of a real device, for tests: the first `failingOpens` opens fail (a headset not
    // ready yet, a device in use), and the first output that opens is lost `lostAfterMs` of the
    // process clock after its opening (unplugged; the next open finds it back). -1: never.
    int failingOpens = 0;
    long long lostAfterMs = -1;
};

// The capture asked for by the environment, or none.
std::optional<CaptureSettings> captureFromEnvironment();
// Replaces the environment's capture choice (tests); nullopt goes back to the environment. Its
// faults start afresh.
void setCaptureOverride(std::optional<CaptureSettings> settings);
// The capture in force: the override if set, else the environment's.
std::optional<CaptureSettings> activeCapture();

// Names of the output devices in index order; empty without any.
std::vector<std::string> listAudioDevices();

// Opens device `index` of listAudioDevices() with `wanted` as a wish. nullptr when it cannot be
// opened, with the reason in `error`.
std::unique_ptr<AudioOutput> openAudioOutput(int index, const AudioFormat& wanted, AudioPull pull,
                                             std::string& error);
// The no-sound output: pulls what the clock says is due and throws it away, so that sounds still
// end in time.
std::unique_ptr<AudioOutput> openSilentAudioOutput(const AudioFormat& wanted, AudioPull pull);

// Backends, used by openAudioOutput.
std::unique_ptr<AudioOutput> openCaptureOutput(const CaptureSettings& settings, int index,
                                               const AudioFormat& wanted, AudioPull pull,
                                               std::string& error);
std::vector<std::string> listSystemAudioDevices();
std::unique_ptr<AudioOutput> openSystemAudioOutput(int index, const AudioFormat& wanted,
                                                   AudioPull pull, std::string& error);

}  // namespace platform
