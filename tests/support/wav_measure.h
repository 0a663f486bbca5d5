#pragma once
// Measurements of captured sound: how strongly one frequency stands out in a stretch of one
// channel (Goertzel), and how loud the stretch is.

#include <cmath>
#include <cstddef>

#include "platform/wav_file.h"

namespace testsupport {

// Root mean square of `channel` over frames [start, start + count).
inline double rmsOf(const platform::WavData& wav, int channel, std::size_t start,
                    std::size_t count) {
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = start; i < start + count && i < wav.frames(); ++i, ++n) {
        const double x = wav.samples[i * static_cast<std::size_t>(wav.channels) +
                                     static_cast<std::size_t>(channel)];
        sum += x * x;
    }
    return n ? std::sqrt(sum / static_cast<double>(n)) : 0.0;
}

// Share of the stretch's energy at `hz`: near 1 for a pure tone of that frequency, near 0 for
// silence or another frequency.
inline double toneShare(const platform::WavData& wav, int channel, std::size_t start,
                        std::size_t count, double hz) {
    const double coeff = 2.0 * std::cos(2.0 * 3.141592653589793 * hz / wav.rate);
    double s1 = 0, s2 = 0, energy = 0;
    std::size_t n = 0;
    for (std::size_t i = start; i < start + count && i < wav.frames(); ++i, ++n) {
        const double x = wav.samples[i * static_cast<std::size_t>(wav.channels) +
                                     static_cast<std::size_t>(channel)];
        energy += x * x;
        const double s0 = x + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    if (n == 0 || energy < 1e-9) {
        return 0.0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return power / (energy * static_cast<double>(n) / 2.0);
}

// Frames of `channel` whose magnitude is above `threshold`, from the first to the last.
inline std::size_t soundingFrames(const platform::WavData& wav, int channel,
                                  double threshold = 1e-3) {
    std::size_t first = wav.frames(), last = 0;
    for (std::size_t i = 0; i < wav.frames(); ++i) {
        const double x = wav.samples[i * static_cast<std::size_t>(wav.channels) +
                                     static_cast<std::size_t>(channel)];
        if (std::fabs(x) > threshold) {
            first = i < first ? i : first;
            last = i;
        }
    }
    return first <= last && first < wav.frames() ? last - first + 1 : 0;
}

}  // namespace testsupport
