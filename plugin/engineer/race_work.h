#pragma once
// The tick's race work (the driver commands, the pit road and the on-track calls) as the plugin
// frame calls it, and the helpers its parts share.

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cwchar>

namespace engineer {

// Whether the tick goes on after the driver commands: a ModeConfig response ends it at once,
// without the connection watch.
enum class CommandResult { kTickGoesOn, kTickEnded };

CommandResult DriverCommands();  // in the world, by track surface
void GarageDriverCommands();     // in the garage
void PitRoadHandling();
void OnTrackCalls();  // track surface 3

// The snapshot refresh pit-in runs after taking the service's higher fuel burn; tests replace
// it. nullptr restores analytics::RefreshSessionSnapshot.
void setPitInSnapshotRefresh(void (*refresh)());

// Truncation toward zero for the whole numbers that sentences, log lines and pit commands
// carry. Values no int holds (and NaN) would be undefined behaviour in a plain cast; they are
// pinned to the nearest end instead (NaN to 0).
inline int32_t truncToInt(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value <= -2147483648.0) {
        return INT32_MIN;
    }
    if (value >= 2147483647.0) {
        return INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

// The number at the start of a service answer, as atoi and atof read it, but without their
// undefined behaviour on overflow. A missing answer reads as 0.
int32_t leadingInt(const char* text);
double leadingDouble(const char* text);

// Formats a sentence into a wide buffer of `Size` characters and speaks it: directly (the
// tick waits) or on a detached thread.
template <size_t Size>
struct Sentence {
    wchar_t text[Size] = {};
    // Only plain conversions (%d, %f, %%) are used: their meaning is the same for every C
    // library's wide printf.
    void format(const wchar_t* pattern, ...) {
        va_list args;
        va_start(args, pattern);
        if (std::vswprintf(text, Size, pattern, args) < 0) {
            // Too long for the buffer: what fitted is kept, always terminated.
            text[Size - 1] = L'\0';
        }
        va_end(args);
    }
};

void SpeakNow(const wchar_t* text);
void SpeakLater(const wchar_t* text);

// Forgets what the pit-road handling remembers of the current stall visit (tests).
void ResetPitRoadHandling();

}  // namespace engineer
