// The renderer against the real speech engine of the build: espeak-ng on Linux, SAPI on
// Windows (under Wine SAPI cannot speak, so there only the failure path is reachable).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/speech.h"
#include "platform/wav_file.h"
#include "support/test_folder.h"

namespace fs = std::filesystem;
using platform::RenderSpeechToWaveFile;
using platform::SpeechRender;

namespace {

// The file as the engine left it: 16-bit mono PCM at 22050 Hz, with a RIFF size that matches
// the file, so nothing of an older, longer file is left behind. Its samples, scaled to -1..1.
std::vector<float> agreedWave(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), {});
    platform::WavData w;
    std::string error;
    EXPECT_TRUE(platform::parseWav(b, w, &error)) << error;
    EXPECT_EQ(w.rate, 22050);
    EXPECT_EQ(w.channels, 1);
    // Little-endian fields of the RIFF header and of the format chunk that opens the file.
    auto le = [&](std::size_t at, int n) {
        std::uint32_t v = 0;
        for (int i = n - 1; i >= 0 && at + static_cast<std::size_t>(n) <= b.size(); --i) {
            v = (v << 8) | b[at + static_cast<std::size_t>(i)];
        }
        return v;
    };
    EXPECT_EQ(le(4, 4) + 8, b.size());
    EXPECT_EQ(le(20, 2), 1u);   // integer PCM
    EXPECT_EQ(le(34, 2), 16u);  // bits per sample
    return w.samples;
}

[[maybe_unused]] int peak(const std::vector<float>& s) {
    float p = 0;
    for (float v : s) {
        p = std::max(p, std::fabs(v));
    }
    return static_cast<int>(p * 32768);
}

class SpeechRenderTest : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = testsupport::freshTestFolder("korvane_speech"); }
    std::string file(const char* prefix, std::size_t n = 0) const {
        return (dir_ / prefix).string().append(std::to_string(n));
    }
    fs::path dir_;
};

#ifndef _WIN32

struct SentenceCase {
    const char* name;
    const wchar_t* text;
    double minSeconds;  // a sentence that is heard at all lasts at least this long
    int minPeak;        // and is this loud somewhere
};

TEST_F(SpeechRenderTest, SentencesBecomeAudibleWavesInTheAgreedFormat) {
    const SentenceCase cases[] = {
        {"plain", L"Box this lap, box this lap.", 0.8, 1000},
        {"numbers", L" Checking the numbers there is 3.4 laps of fuel left", 1.5, 1000},
        {"beyond ascii", L" Temp\u00e9rature 25 \u00b0C, na\u00efve \u20ac", 0.8, 1000},
        {"beyond the basic plane", L" Pit \U0001F3C1 now.", 0.4, 1000},
        {"empty", L"", 0, 0},
    };
    std::size_t n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Over an older, longer file of the same name: none of it may be left behind.
        const std::string path = file("s", n++);
        std::ofstream(path, std::ios::binary) << std::string(2'000'000, 'x');
        ASSERT_EQ(RenderSpeechToWaveFile(c.text, path), SpeechRender::kRendered);
        const std::vector<float> w = agreedWave(path);
        EXPECT_GE(static_cast<double>(w.size()) / 22050.0, c.minSeconds);
        EXPECT_GE(peak(w), c.minPeak) << "the sentence is silent";
    }
}

TEST_F(SpeechRenderTest, AnUnwritablePathIsAnEngineFailure) {
    const std::string path = file("no_such_folder/");
    EXPECT_EQ(RenderSpeechToWaveFile(L" Fuel Reset.", path), SpeechRender::kEngineFailed);
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(SpeechRenderTest, ThreadsRenderingAtOnceEachGetTheirOwnSentence) {
    const std::vector<std::wstring> texts = {L" Sim connected.", L" Waiting for the sim.",
                                             L" Box this lap, box this lap, box this lap.",
                                             L" Fuel Reset."};
    std::vector<SpeechRender> results(texts.size(), SpeechRender::kSetupFailed);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        threads.emplace_back(
            [&, i] { results[i] = RenderSpeechToWaveFile(texts[i], file("t", i)); });
    }
    for (auto& t : threads) {
        t.join();
    }
    std::vector<std::size_t> lengths;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(results[i], SpeechRender::kRendered);
        const std::vector<float> w = agreedWave(file("t", i));
        EXPECT_GT(peak(w), 1000);
        lengths.push_back(w.size());
    }
    // Samples of one sentence must not leak into another's file: the same text alone renders
    // to about the same length (the engine varies by a few samples between runs).
    const std::string alone = file("alone");
    ASSERT_EQ(RenderSpeechToWaveFile(texts[2], alone), SpeechRender::kRendered);
    const auto aloneLength = static_cast<double>(agreedWave(alone).size());
    EXPECT_NEAR(static_cast<double>(lengths[2]), aloneLength, aloneLength * 0.02);
    EXPECT_GT(lengths[2], lengths[3]);
}

#else

// SAPI may or may not be able to speak on this machine; whichever it is, every call returns
// from a fresh thread, twice on one thread (the second call must find COM left as the first
// found it), and a sentence reported as rendered is a real wave in the agreed format.
TEST_F(SpeechRenderTest, EveryThreadEntersAndLeavesComForItself) {
    std::vector<SpeechRender> results(3, SpeechRender::kSetupFailed);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&, i] {
            results[i] = RenderSpeechToWaveFile(L" Sim connected.", file("c", i));
            if (results[i] != SpeechRender::kSetupFailed) {
                results[i] = RenderSpeechToWaveFile(i == 0 ? L"" : L" Fuel Reset.", file("d", i));
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_NE(results[i], SpeechRender::kSetupFailed) << "COM did not start on a fresh thread";
        if (results[i] == SpeechRender::kRendered) {
            agreedWave(file("d", i));
        }
    }
}

#endif

}  // namespace
