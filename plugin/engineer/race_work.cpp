#include "plugin/engineer/race_work.h"

#include <climits>
#include <cstdlib>

#include "plugin/audio/voice.h"

namespace engineer {

int32_t leadingInt(const char* text) {
    if (!text) {
        return 0;
    }
    const long long value = std::strtoll(text, nullptr, 10);
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

double leadingDouble(const char* text) {
    return text ? std::strtod(text, nullptr) : 0.0;
}

void SpeakNow(const wchar_t* text) {
    audio::Speak(text);
}

void SpeakLater(const wchar_t* text) {
    audio::SpeakInBackground(text);
}

}  // namespace engineer
