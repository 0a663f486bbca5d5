#include "platform/wav_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform {

namespace {

std::uint16_t u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool fail(std::string* error, const std::string& why) {
    if (error) {
        *error = why;
    }
    return false;
}

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

// The 44-byte header of a 16-bit PCM file with `dataBytes` of samples.
void pcmHeader(std::uint8_t* h, int rate, int channels, std::uint32_t dataBytes) {
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, kFormatPcm);
    put16(h + 22, static_cast<std::uint32_t>(channels));
    put32(h + 24, static_cast<std::uint32_t>(rate));
    put32(h + 28, static_cast<std::uint32_t>(rate * channels * 2));
    put16(h + 32, static_cast<std::uint32_t>(channels * 2));
    put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, dataBytes);
}

std::int16_t toPcm16(float v) {
    if (!(v == v)) {  // NaN
        return 0;
    }
    const float clipped = std::clamp(v, -1.0f, 1.0f);
    return static_cast<std::int16_t>(std::lround(clipped * 32767.0f));
}

// Largest data size a RIFF file can describe, kept a whole number of frames.
std::uint32_t cappedBytes(std::size_t frames, int channels) {
    const std::size_t frameBytes = static_cast<std::size_t>(channels) * 2;
    const std::size_t limit = (0xFFFFFFFFu - 36) / frameBytes * frameBytes;
    return static_cast<std::uint32_t>(std::min(frames * frameBytes, limit));
}

}  // namespace

bool parseWav(const std::vector<std::uint8_t>& bytes, WavData& out, std::string* error) {
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        return fail(error, "not a RIFF WAVE file");
    }
    const std::uint8_t* fmt = nullptr;
    std::size_t fmtSize = 0;
    const std::uint8_t* data = nullptr;
    std::size_t dataSize = 0;
    std::size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        const std::uint8_t* chunk = bytes.data() + pos;
        const std::size_t declared = u32(chunk + 4);
        const std::size_t available = bytes.size() - pos - 8;
        const std::size_t size = std::min(declared, available);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            fmt = chunk + 8;
            fmtSize = size;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            data = chunk + 8;
            dataSize = size;
            if (fmt) {
                break;
            }
        }
        if (declared > available) {
            break;
        }
        pos += 8 + declared + (declared & 1);  // chunks are padded to an even size
    }
    if (!fmt || fmtSize < 16) {
        return fail(error, "no format chunk");
    }
    if (!data) {
        return fail(error, "no data chunk");
    }
    std::uint16_t tag = u16(fmt);
    const int channels = u16(fmt + 2);
    const std::uint32_t rate = u32(fmt + 4);
    const int bits = u16(fmt + 14);
    if (tag == kFormatExtensible) {
        if (fmtSize < 40) {
            return fail(error, "extensible format chunk too short");
        }
        tag = u16(fmt + 24);  // the first two bytes of the sub-format GUID
    }
    if (channels < 1 || channels > 8) {
        return fail(error, "unsupported channel count " + std::to_string(channels));
    }
    if (rate < 1000 || rate > 384000) {
        return fail(error, "unsupported sample rate " + std::to_string(rate));
    }
    const bool pcm = tag == kFormatPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    const bool flt = tag == kFormatFloat && bits == 32;
    if (!pcm && !flt) {
        return fail(error, "unsupported sample format (tag " + std::to_string(tag) + ", " +
                               std::to_string(bits) + " bits)");
    }
    const std::size_t bytesPerSample = static_cast<std::size_t>(bits / 8);
    const std::size_t frames = dataSize / (bytesPerSample * static_cast<std::size_t>(channels));
    const std::size_t count = frames * static_cast<std::size_t>(channels);
    WavData result;
    result.rate = static_cast<int>(rate);
    result.channels = channels;
    result.samples.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = data + i * bytesPerSample;
        float v = 0;
        if (flt) {
            std::uint32_t raw = u32(p);
            std::memcpy(&v, &raw, sizeof v);
            if (!std::isfinite(v)) {
                v = 0;
            }
        } else if (bits == 8) {
            v = (static_cast<int>(p[0]) - 128) / 128.0f;
        } else if (bits == 16) {
            v = static_cast<std::int16_t>(u16(p)) / 32768.0f;
        } else if (bits == 24) {
            std::int32_t s = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                                       static_cast<std::uint32_t>(p[1]) << 16 |
                                                       static_cast<std::uint32_t>(p[2]) << 24);
            v = static_cast<float>(s / 2147483648.0);
        } else {
            v = static_cast<float>(static_cast<std::int32_t>(u32(p)) / 2147483648.0);
        }
        result.samples[i] = v;
    }
    out = std::move(result);
    return true;
}

bool readWavFile(const std::string& path, WavData& out, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return fail(error, "cannot open " + path);
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError) {
        return fail(error, "cannot read " + path);
    }
    return parseWav(bytes, out, error);
}

bool writeWavFile(const std::string& path, const WavData& data) {
    WavWriter w;
    if (!w.open(path, data.rate, data.channels)) {
        return false;
    }
    const bool ok = w.write(data.samples.data(), data.frames());
    w.close();
    return ok;
}

WavWriter::~WavWriter() {
    close();
}

bool WavWriter::open(const std::string& path, int rate, int channels) {
    close();
    if (rate <= 0 || channels < 1 || channels > 8) {
        return false;
    }
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        return false;
    }
    channels_ = channels;
    frames_ = 0;
    sinceFixup_ = 0;
    fixupFrames_ = static_cast<std::size_t>(rate) / 4;  // a quarter second at most is lost
    std::uint8_t header[44];
    pcmHeader(header, rate, channels, 0);
    if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) {
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
    // The rate is kept in the header written above; fixupHeader rewrites only the sizes.
    return true;
}

bool WavWriter::write(const float* interleaved, std::size_t frames) {
    if (!file_) {
        return false;
    }
    const std::size_t count = frames * static_cast<std::size_t>(channels_);
    buffer_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        buffer_[i] = toPcm16(interleaved[i]);
    }
    // Samples are little-endian on every machine the programs run on.
    std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(buffer_.data());
    const std::size_t written = std::fwrite(bytes, 2, count, file_);
    frames_ += written / static_cast<std::size_t>(channels_);
    sinceFixup_ += frames;
    if (sinceFixup_ >= fixupFrames_) {
        fixupHeader();
    }
    return written == count;
}

void WavWriter::fixupHeader() {
    if (!file_) {
        return;
    }
    sinceFixup_ = 0;
    const std::uint32_t dataBytes = cappedBytes(frames_, channels_);
    std::uint8_t size[4];
    put32(size, 36 + dataBytes);
    std::fflush(file_);
    if (std::fseek(file_, 4, SEEK_SET) == 0) {
        std::fwrite(size, 1, 4, file_);
        put32(size, dataBytes);
        if (std::fseek(file_, 40, SEEK_SET) == 0) {
            std::fwrite(size, 1, 4, file_);
        }
    }
    std::fseek(file_, 0, SEEK_END);
    std::fflush(file_);
}

void WavWriter::close() {
    if (!file_) {
        return;
    }
    fixupHeader();
    std::fclose(file_);
    file_ = nullptr;
}

}  // namespace platform
