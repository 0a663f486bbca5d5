#pragma once
// The plugin's software mixer and its output device: oscillators and whole-file sounds played
// on channels with per-speaker gains, mixed in 7.1 and folded down to what the device has.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {
class AudioOutput;
}

namespace audio {

using ChannelId = std::uint32_t;  // 0 = none
using SoundId = std::uint32_t;    // 0 = none
using DspId = std::uint32_t;      // 0 = none
// FL, FR, C, LFE, SL, SR, BL, BR (FMOD's order).
using MixLevels = std::array<float, 8>;
inline constexpr int kMixSpeakers = 8;

// Thread-safe: every member may be called from any thread.
class AudioEngine {
  public:
    AudioEngine();
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // Makes the engine ready; the output chosen by setDriver/setNoSound is opened when first
    // needed. A device that cannot be opened then, or goes away later, is replaced by silence
    // and tried again every few seconds. False for a channel count below 1.
    bool init(int maxChannels);
    // Per-frame work: outputs that follow the process clock render what is due, finished
    // channels and sounds marked with releaseWhenDone are freed.
    void update();
    int driverCount();
    std::string driverName(int index);  // "" for an index out of range
    // False (and output unchanged) when the index is out of range.
    bool setDriver(int index);
    void setNoSound();
    // The format of the mix for outputs that take the engine's (capture, no sound); a device
    // takes it as a wish. 0 channels lets the output choose. Applies from the next opening.
    void setSoftwareFormat(int rate, int channels);

    DspId createOscillator(float hz);  // sine
    void setOscillatorRate(DspId, float hz);
    void releaseDsp(DspId);  // stops every channel playing it
    ChannelId playDsp(DspId, bool paused);

    SoundId createSound(const std::string& wavPath);  // loads the whole file; 0 on failure
    void releaseSound(SoundId);                       // stops every channel playing it
    // Frees the sound once its last channel has finished (at once if it has played and no
    // channel plays it any more).
    void releaseWhenDone(SoundId);
    ChannelId playSound(SoundId, bool paused);  // plays once; 0 if the sound is unknown

    // True while the channel exists, paused or not.
    bool isPlaying(ChannelId);
    void setMixLevels(ChannelId, const MixLevels&);
    void setVolume(ChannelId, float);
    void setPaused(ChannelId, bool);
    void stop(ChannelId);
    // Stops everything, frees every object and closes the output. init may follow.
    void close();

    // Mixes `frames` frames of the current output format (interleaved) into `out`. Called by
    // the output's thread or pump; tests call it directly.
    void render(float* out, int frames);
    int outputRate();
    int outputChannels();
    // Whether the engine has an output that makes sound (or captures it) at present.
    bool hasDeviceOutput();
    int currentDriver();

    // What is held, for diagnostics and tests.
    std::size_t soundCount();
    std::size_t channelCount();
    std::size_t dspCount();

  private:
    struct Sound {
        int rate = 0;
        int channels = 0;
        std::vector<float> samples;  // interleaved
        bool releaseWhenDone = false;
        bool played = false;
    };
    struct Dsp {
        double hz = 0;
        double phase = 0;  // radians, carried across blocks and rate changes
    };
    struct Channel {
        DspId dsp = 0;
        SoundId sound = 0;
        std::shared_ptr<const Sound> data;
        double position = 0;  // source frames
        MixLevels levels{};
        float volume = 1.0f;
        bool paused = false;
    };

    std::shared_ptr<platform::AudioOutput> ensureOutput();
    void openOutputLocked();
    void deviceUnavailableLocked(const std::string& why);
    std::shared_ptr<platform::AudioOutput> takeOutputLocked();
    void pumpOutput();
    void eraseChannelLocked(std::map<ChannelId, Channel>::iterator it);
    void releaseFinishedSoundLocked(SoundId id);
    void mixLocked(float* out, int frames);

    std::mutex mutex_;
    bool initialised_ = false;
    int maxChannels_ = 0;
    int driver_ = 0;
    bool noSound_ = false;
    int wantedRate_ = 48000;
    int wantedChannels_ = 0;
    std::shared_ptr<platform::AudioOutput> output_;
    // The chosen device could not be opened or went away: a silent stand-in plays in its place
    // and the device is tried again from retryAtMs_ (process clock) on.
    bool deviceFailed_ = false;
    int64_t retryAtMs_ = 0;
    bool soundOffSaid_ = false;  // "no sound" said and "back" not yet
    int rate_ = 48000;
    int outChannels_ = 2;
    std::uint32_t nextId_ = 0;
    std::map<DspId, Dsp> dsps_;
    std::map<SoundId, std::shared_ptr<Sound>> sounds_;
    std::map<ChannelId, Channel> channels_;
    std::vector<float> mix_;    // 8 speakers per frame
    std::vector<float> block_;  // one oscillator's block
};

// The process's engine.
AudioEngine& Engine();

}  // namespace audio
