// PCM WAV reading and writing, as the engine loads speech and the capture records the mix.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/wav_file.h"
#include "support/test_folder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void put(Bytes& b, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) {
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

void tag(Bytes& b, const char* t) {
    for (int i = 0; i < 4; ++i) {
        b.push_back(static_cast<std::uint8_t>(t[i]));
    }
}

// A file of one format chunk and one data chunk holding `data`; `extensible` puts the format
// tag in the sub-format; `extraChunk` adds an odd-sized chunk before the data.
Bytes wav(int formatTag, int channels, int bits, const Bytes& data, bool extensible = false,
          bool extraChunk = false, std::uint32_t claimedData = 0) {
    Bytes b;
    tag(b, "RIFF");
    put(b, 0, 4);
    tag(b, "WAVE");
    tag(b, "fmt ");
    put(b, extensible ? 40 : 16, 4);
    put(b, extensible ? 0xFFFE : static_cast<std::uint32_t>(formatTag), 2);
    put(b, static_cast<std::uint32_t>(channels), 2);
    put(b, 22050, 4);
    put(b, static_cast<std::uint32_t>(22050 * channels * bits / 8), 4);
    put(b, static_cast<std::uint32_t>(channels * bits / 8), 2);
    put(b, static_cast<std::uint32_t>(bits), 2);
    if (extensible) {
        put(b, 22, 2);
        put(b, static_cast<std::uint32_t>(bits), 2);
        put(b, 0, 4);
        put(b, static_cast<std::uint32_t>(formatTag), 2);
        b.resize(b.size() + 14);
    }
    if (extraChunk) {
        tag(b, "LIST");
        put(b, 3, 4);
        put(b, 0x00030201, 4);  // three bytes, padded to even
    }
    tag(b, "data");
    put(b, claimedData ? claimedData : static_cast<std::uint32_t>(data.size()), 4);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

TEST(WavFileTest, ReadsEveryPcmAndFloatLayoutAndRefusesWhatItCannotPlay) {
    const Bytes f32 = {0, 0, 0, 0x3F, 0, 0, 0x80, 0xBE};  // 0.5f and -0.25f
    struct Case {
        const char* what;
        Bytes file;
        int channels;  // 0: refused
        std::vector<float> samples;
    } cases[] = {
        {"8-bit", wav(1, 1, 8, {192, 64}), 1, {0.5f, -0.5f}},
        {"16-bit stereo", wav(1, 2, 16, {0x00, 0x40, 0x00, 0xE0}), 2, {0.5f, -0.25f}},
        {"24-bit", wav(1, 1, 24, {0, 0, 0x40}), 1, {0.5f}},
        {"32-bit", wav(1, 1, 32, {0, 0, 0, 0xC0}), 1, {-0.5f}},
        {"float", wav(3, 2, 32, f32), 2, {0.5f, -0.25f}},
        {"extensible float", wav(3, 1, 32, f32, true), 1, {0.5f, -0.25f}},
        {"extensible 16-bit 8 channels", wav(1, 8, 16, Bytes(16, 0), true), 8,
         std::vector<float>(8, 0.0f)},
        {"odd chunk before data", wav(1, 1, 16, {0x00, 0x40}, false, true), 1, {0.5f}},
        {"data cut short", wav(1, 1, 16, {0x00, 0x40, 0x00}, false, false, 1000), 1, {0.5f}},
        {"nine channels", wav(1, 9, 16, {0, 0}), 0, {}},
        {"no channels", wav(1, 0, 16, {0, 0}), 0, {}},
        {"12-bit", wav(1, 1, 12, {0, 0}), 0, {}},
        {"64-bit float", wav(3, 1, 64, Bytes(8, 0)), 0, {}},
        {"compressed", wav(2, 1, 4, {0, 0}), 0, {}},
        {"not RIFF", Bytes(64, 'x'), 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform::WavData out;
        std::string error;
        ASSERT_EQ(platform::parseWav(c.file, out, &error), c.channels > 0) << error;
        EXPECT_EQ(error.empty(), c.channels > 0);
        if (c.channels == 0) {
            continue;
        }
        EXPECT_EQ(out.rate, 22050);
        EXPECT_EQ(out.channels, c.channels);
        ASSERT_EQ(out.samples.size(), c.samples.size());
        for (std::size_t i = 0; i < c.samples.size(); ++i) {
            EXPECT_NEAR(out.samples[i], c.samples[i], 1e-4);
        }
    }
}

TEST(WavFileTest, WrittenFilesReadBackAndAGrowingFileIsReadableBeforeClose) {
    const auto dir = testsupport::freshTestFolder("korvane_wav");
    platform::WavData in;
    in.rate = 48000;
    in.channels = 2;
    in.samples = {0.5f, -0.5f, 1.5f, -2.0f};  // the second frame is clipped
    const std::string path = (dir / "out.wav").string();
    ASSERT_TRUE(platform::writeWavFile(path, in));
    platform::WavData back;
    ASSERT_TRUE(platform::readWavFile(path, back));
    EXPECT_EQ(back.rate, 48000);
    ASSERT_EQ(back.samples.size(), 4u);
    EXPECT_NEAR(back.samples[0], 0.5f, 1e-4);
    EXPECT_NEAR(back.samples[2], 1.0f, 1e-4);
    EXPECT_NEAR(back.samples[3], -1.0f, 1e-4);

    platform::WavWriter w;
    const std::string growing = (dir / "growing.wav").string();
    ASSERT_TRUE(w.open(growing, 48000, 1));
    std::vector<float> second(48000, 0.25f);
    ASSERT_TRUE(w.write(second.data(), second.size()));
    platform::WavData partial;
    ASSERT_TRUE(platform::readWavFile(growing, partial));
    EXPECT_GE(partial.frames(), 36000u) << "the header follows the data while it grows";
    w.close();
    ASSERT_TRUE(platform::readWavFile(growing, partial));
    EXPECT_EQ(partial.frames(), 48000u);
    EXPECT_FALSE(platform::writeWavFile((dir / "no" / "such" / "x.wav").string(), in));
    std::filesystem::remove_all(dir);
}

}  // namespace
