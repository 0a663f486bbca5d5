#pragma once
// PCM WAV files: whole-file reading into float samples, writing 16-bit PCM, and a streaming
// writer whose header stays valid while it grows.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

struct WavData {
    int rate = 0;
    int channels = 0;
    std::vector<float> samples;  // interleaved, -1..1

    std::size_t frames() const { return channels > 0 ? samples.size() / channels : 0; }
};

// Reads 8-, 16-, 24- and 32-bit integer PCM and 32-bit float files of 1 to 8 channels (also in
// the extensible format). A data chunk that claims more than the file holds is read as far as
// it goes. False with a reason in `error` for anything else.
bool readWavFile(const std::string& path, WavData& out, std::string* error = nullptr);
// Parses a whole file already in memory; the same rules as readWavFile.
bool parseWav(const std::vector<std::uint8_t>& bytes, WavData& out, std::string* error = nullptr);

// Writes 16-bit PCM; samples outside -1..1 are clipped. False when the file cannot be written.
bool writeWavFile(const std::string& path, const WavData& data);

// 16-bit PCM written as it comes. The sizes in the header are brought up to date every
// `fixupFrames` frames and on close, so a file cut short by a crash is still readable.
class WavWriter {
  public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    bool open(const std::string& path, int rate, int channels);
    bool isOpen() const { return file_ != nullptr; }
    // Appends `frames` interleaved frames of the channel count given to open.
    bool write(const float* interleaved, std::size_t frames);
    // Fixes the header and closes; harmless when not open.
    void close();
    std::size_t framesWritten() const { return frames_; }

  private:
    void fixupHeader();

    std::FILE* file_ = nullptr;
    int channels_ = 0;
    std::size_t frames_ = 0;
    std::size_t sinceFixup_ = 0;
    std::size_t fixupFrames_ = 0;
    std::vector<std::int16_t> buffer_;
};

}  // namespace platform
