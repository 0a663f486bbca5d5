// How long a driver waits to hear a message: from SpeakInBackground to the first audible
// sample in the engine's capture file, which follows the real clock. Baselines in the same run: the
// speech engine's render alone, and the render plus the sentence's own leading silence, for a
// 20-word and a 1-word sentence.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio_output.h"
#include "platform/speech.h"
#include "platform/wav_file.h"
#include "plugin/audio/audio_engine.h"
#include "plugin/audio/audio_state.h"
#include "plugin/audio/speak.h"
#include "plugin/audio/voice.h"

namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

const wchar_t* kTwentyWords =
    L" Checking the numbers there is four laps of fuel left, we will need twelve more liters "
    L"at the current burn.";
const wchar_t* kOneWord = L" Box.";

const wchar_t* sentence(const benchmark::State& state) {
    return state.range(0) == 20 ? kTwentyWords : kOneWord;
}

constexpr float kAudible = 1.0f / 256;  // about -48 dBFS

double seconds(SteadyClock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Seconds from the file's start to its first audible sample; a negative number when silent.
double leadingSilence(const std::string& path) {
    platform::WavData wave;
    if (!platform::readWavFile(path, wave) || wave.channels <= 0) {
        return -1;
    }
    for (std::size_t i = 0; i < wave.samples.size(); ++i) {
        if (std::fabs(wave.samples[i]) >= kAudible) {
            return static_cast<double>(i / static_cast<std::size_t>(wave.channels)) / wave.rate;
        }
    }
    return -1;
}

void BM_RenderOnly(benchmark::State& state) {
    const std::string path = "bench_render_only";
    for (auto _ : state) {
        const auto r = platform::RenderSpeechToWaveFile(sentence(state), path);
        if (r != platform::SpeechRender::kRendered) {
            state.SkipWithError("the speech engine could not render");
            break;
        }
    }
    std::remove(path.c_str());
}

void BM_RenderToFirstSample(benchmark::State& state) {
    const std::string path = "bench_render_first";
    double silence = 0;
    for (auto _ : state) {
        const auto start = SteadyClock::now();
        if (platform::RenderSpeechToWaveFile(sentence(state), path) !=
            platform::SpeechRender::kRendered) {
            state.SkipWithError("the speech engine could not render");
            break;
        }
        silence = leadingSilence(path);
        state.SetIterationTime(seconds(SteadyClock::now() - start) + silence);
    }
    state.counters["leading_silence_ms"] = silence * 1000;
    std::remove(path.c_str());
}

// SpeakInBackground until the first audible sample of the capture file, which the engine
// writes as the process clock makes each frame due: frame n stands for the output's opening
// plus n / rate. The opening is taken just before the output opens, so the figure is at most a
// millisecond long.
void BM_SpeakInBackgroundToFirstSample(benchmark::State& state) {
    audio::AudioEngine& engine = audio::Engine();
    const std::string capture = "bench_capture.wav";
    for (auto _ : state) {
        engine.close();
        audio::ResetAudioState();
        platform::setCaptureOverride(platform::CaptureSettings{capture, 1, 2});
        engine.init(512);
        const auto opened = SteadyClock::now();
        engine.update();  // opens the capture
        const auto start = SteadyClock::now();
        audio::SpeakInBackground(sentence(state));
        audio::WaitForBackgroundSpeech(10000);
        // The sentence's start is due well before this; let the capture write it.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        engine.update();
        engine.close();

        platform::WavData wave;
        double heardAt = -1;
        if (platform::readWavFile(capture, wave) && wave.channels > 0) {
            for (std::size_t i = 0; i < wave.samples.size(); ++i) {
                if (std::fabs(wave.samples[i]) >= kAudible) {
                    heardAt = static_cast<double>(i / static_cast<std::size_t>(wave.channels)) /
                              wave.rate;
                    break;
                }
            }
        }
        std::remove(capture.c_str());
        if (heardAt < 0) {
            state.SkipWithError("nothing was heard");
            break;
        }
        state.SetIterationTime(heardAt - seconds(start - opened));
    }
    platform::setCaptureOverride(std::nullopt);
}

BENCHMARK(BM_RenderOnly)->Arg(20)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderToFirstSample)->Arg(20)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpeakInBackgroundToFirstSample)
    ->Arg(20)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(15)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // The temporary speech files are written to the working folder.
    const fs::path dir = fs::temp_directory_path() / "korvane_speech_bench";
    fs::create_directories(dir);
    fs::current_path(dir);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(dir, ec);
    return 0;
}
