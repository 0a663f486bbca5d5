// The spoken comparison of the track temperature with usual conditions, and the starting
// pressure clicks it suggests.

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "common/log_writer.h"
#include "plugin/analytics/advisories_session.h"
#include "plugin/analytics/analytics_calls.h"
#include "plugin/audio/voice.h"
#include "plugin/telemetry/catalogue.h"

namespace analytics {

namespace {

constexpr double kUsualTrackTemp = 40.0;
constexpr double kFahrenheitPerCelsius = 1.8;
// 0.1 psi per degree Fahrenheit of difference, in kPa.
constexpr double kKpaPerFahrenheit = 0.689476;
// One click of the pressure adjuster is 4 kPa.
constexpr double kClicksPerKpa = 0.25;

double TrackTemperature() {
    return static_cast<double>(telemetry::vars::TrackTempCrew2.readFloat());
}

// How far the track is from usual conditions, in percent: positive when warmer, negative when
// cooler.
double PercentFromUsual(double track) {
    if (track > kUsualTrackTemp) {
        return 100.0 - (kUsualTrackTemp / track) * 100.0;
    }
    if (track < kUsualTrackTemp) {
        return (track / kUsualTrackTemp) * 100.0 - 100.0;
    }
    return 0.0;
}

void SpeakFormatted(const wchar_t* pattern, ...) {
    wchar_t text[256];
    va_list args;
    va_start(args, pattern);
    if (std::vswprintf(text, 256, pattern, args) < 0) {
        text[255] = L'\0';
    }
    va_end(args);
    audio::Speak(text);
}

}  // namespace

void AdviseTrackConditions() {
    const double track = TrackTemperature();
    const double percent = PercentFromUsual(track);
    if (track > kUsualTrackTemp) {
        SpeakFormatted(L" Current Track conditions are %0.1f%% %ls than usual conditions.", percent,
                       L"warmer");
    } else if (track < kUsualTrackTemp) {
        SpeakFormatted(L" Current Track conditions are %0.1f%% %ls than usual conditions.", percent,
                       L"cooler");
    } else {
        // Neither warmer nor cooler: "0.0% the same as than usual" would not be English.
        SpeakFormatted(L" Current Track conditions are %ls usual conditions, %0.1f%% difference.",
                       L"the same as", percent);
    }
}

void AdviseTirePressure() {
    const double track = TrackTemperature();
    double starting = 0.0;
    querySessionDouble("CarSetup:Tires:RightFront:StartingPressure:", starting);

    const double percent = PercentFromUsual(track);
    const double suggested =
        starting + ((kUsualTrackTemp - track) * kFahrenheitPerCelsius) * kKpaPerFahrenheit;
    const double clicks = (suggested - starting) * kClicksPerKpa;
    // The word in both alphabets: a wide printf's %s means a narrow text to one C library and a
    // wide one to another, so the sentence gets its own wide copy.
    const char* word = "keeping";
    const wchar_t* wideWord = L"keeping";
    if (track > kUsualTrackTemp) {
        word = "taking";
        wideWord = L"taking";
        std::printf(" %%%0.1f Warmer, Suggest (kPa) %0.2f (From: %0.2f) %0.1f Clicks   ", percent,
                    suggested, starting, clicks);
    } else if (track < kUsualTrackTemp) {
        word = "adding";
        wideWord = L"adding";
        std::printf(" %%%0.1f Cooler, Suggest (kPa) %0.2f (From: %0.2f) +%0.1f Clicks   ", percent,
                    suggested, starting, clicks);
    } else {
        std::printf(" %%%0.1f Usual, Suggest (kPa) %0.2f (From: %0.2f) %0.1f Clicks   ", percent,
                    suggested, starting, clicks);
    }
    std::fflush(stdout);

    SpeakFormatted(L" Current Weather Suggests %ls %0.1f Clicks to baseline tire pressures.",
                   wideWord, clicks);
    common::WritePluginLogf(
        "LOG:  Current Weather Suggests %s %0.1f Clicks to baseline tire pressures.", word, clicks);
}

}  // namespace analytics
