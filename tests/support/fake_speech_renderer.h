#pragma once
// Stands in for the speech engine behind Speak: writes a tone of a chosen length as the
// "sentence", or fails the way the real engines can, and records every call. A gate lets a
// test hold renders until it has done something in between.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <condition_variable>
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
        std::lock_guard<std::mutex> lock(mutex_);
        mode_ = m;
    }
    void setSeconds(double s) {
        std::lock_guard<std::mutex> lock(mutex_);
        seconds_ = s;
    }
    // The sine frequency for one text, so that a capture tells the messages apart.
    void setHzFor(const std::wstring& text, double hz) {
        std::lock_guard<std::mutex> lock(mutex_);
        hzByText_[text] = hz;
    }
    // While closed, renders wait at their start until open() (at most 20 s).
    void close() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = false;
    }
    void open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
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
        const double seconds = seconds_;
        const auto found = hzByText_.find(text);
        const double hz = found == hzByText_.end() ? 440.0 : found->second;
        lock.unlock();

        switch (mode) {
            case Mode::kRender: {
                platform::WavData wave;
                wave.rate = 22050;
                wave.channels = 1;
                const auto frames = static_cast<std::size_t>(seconds * 22050);
                for (std::size_t i = 0; i < frames; ++i) {
                    wave.samples.push_back(
                        0.5f * static_cast<float>(std::sin(2 * 3.14159265358979 * hz *
                                                           static_cast<double>(i) / 22050.0)));
                }
                return platform::writeWavFile(path, wave) ? platform::SpeechRender::kRendered
                                                          : platform::SpeechRender::kEngineFailed;
            }
            case Mode::kFailNoFile:
                return platform::SpeechRender::kEngineFailed;
            case Mode::kFailGarbageFile: {
                if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
                    std::fputs("RIFF", f);
                    std::fclose(f);
                }
                return platform::SpeechRender::kEngineFailed;
            }
            case Mode::kSetupFailed:
                return platform::SpeechRender::kSetupFailed;
        }
        return platform::SpeechRender::kEngineFailed;
    }

  private:
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
