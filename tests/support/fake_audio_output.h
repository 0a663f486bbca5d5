#pragma once
// The audio engine's output replaced by a capture file in a test's folder, with as many
// pretend devices as the test wants, and the process engine started on it.

#include <string>

#include "platform/audio_output.h"
#include "platform/wav_file.h"

namespace testsupport {

class CapturedAudio {
  public:
    // `devices` pretend devices ("Capture device 0", ...); `channels` of the file. The device
    // fails its first `failingOpens` opens, and is lost `lostAfterMs` after its first opening
    // (-1: never) to be back at the next.
    CapturedAudio(const std::string& path, int devices, int channels = 2, int failingOpens = 0,
                  long long lostAfterMs = -1);
    ~CapturedAudio();
    CapturedAudio(const CapturedAudio&) = delete;
    CapturedAudio& operator=(const CapturedAudio&) = delete;

    // Closes the process engine (so the file is complete) and reads what it wrote.
    platform::WavData finish();
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace testsupport
