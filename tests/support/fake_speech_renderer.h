#pragma once
// Stands in for the speech engine behind Speak: writes a tone of a chosen length as the
// "sentence", or fails the way the real engines can, and records every call. A gate lets a
// test hold renders until it has done something in between.

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/speech.h"
#include "platform/wav_file.h"

namespace testsupport {

class FakeSpeechRenderer {
  public:
    enum class Mode {
        kRender,           // a sine of `seconds` at 22,050 Hz mono, 440 Hz unless set per text
        kFailNoFile,       // engine failure, no file written
        kFailGarbageFile,  // engine failure leaving a file that is no WAV
        kSetupFailed,      // COM could not start
    };
    struct Call {
        std::wstring text;
        std::string path;
        bool fileExistedBefore = false;
    };

    void setMode(Mode m) {
        locked([&] { mode_ = m; });
    }
    void setSeconds(double s) {
        locked([&] { seconds_ = s; });
    }
    // The sine frequency for one text, so that a capture tells the messages apart.
    void setHzFor(const std::wstring& text, double hz) {
        locked([&] { hzByText_[text] = hz; });
    }
    // While closed, renders wait at their start until open() (at most 20 s).
    void close() {
        locked([&] { open_ = false; });
    }
    void open() {
        locked([&] { open_ = true; });
    }
    // Waits (real time, bounded) until `n` renders are inside the renderer together.
    bool waitForInside(int n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return inside_ >= n; });
    }
    std::vector<Call> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

    platform::SpeechRender operator()(const std::wstring& text, const std::string& path) {
        std::unique_lock<std::mutex> lock(mutex_);
        calls_.push_back({text, path, std::filesystem::exists(path)});
        ++inside_;
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::seconds(20), [&] { return open_; });
        --inside_;
        const Mode mode = mode_;
        const auto frames = static_cast<std::size_t>(seconds_ * 22050);
        const auto found = hzByText_.find(text);
        const double hz = found == hzByText_.end() ? 440.0 : found->second;
        lock.unlock();

        if (mode == Mode::kSetupFailed) {
            return platform::SpeechRender::kSetupFailed;
        }
        if (mode == Mode::kFailGarbageFile) {
            if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
                std::fputs("RIFF", f);
                std::fclose(f);
            }
        }
        if (mode != Mode::kRender) {
            return platform::SpeechRender::kEngineFailed;
        }
        platform::WavData wave;
        wave.rate = 22050;
        wave.channels = 1;
        for (std::size_t i = 0; i < frames; ++i) {
            wave.samples.push_back(0.5f * static_cast<float>(std::sin(2 * 3.14159265358979 * hz *
                                                                      double(i) / 22050.0)));
        }
        return platform::writeWavFile(path, wave) ? platform::SpeechRender::kRendered
                                                  : platform::SpeechRender::kEngineFailed;
    }

  private:
    template <typename F>
    void locked(F change) {
        std::lock_guard<std::mutex> lock(mutex_);
        change();
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Mode mode_ = Mode::kRender;
    double seconds_ = 1.0;
    bool open_ = true;
    int inside_ = 0;
    std::vector<Call> calls_;
    std::map<std::wstring, double> hzByText_;
};

}  // namespace testsupport
