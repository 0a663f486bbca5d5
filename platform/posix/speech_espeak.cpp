// Speech through libespeak-ng. The library keeps one global synthesiser and is not thread-safe,
// so renders are serialised here; playback of the rendered files still overlaps.
#include <espeak-ng/speak_lib.h>

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/speech.h"

namespace platform {

namespace {

constexpr int kFileRate = 22050;

std::mutex& engineMutex() {
    static std::mutex m;
    return m;
}

// Guarded by engineMutex().
bool engineTried = false;
bool engineReady = false;
int engineRate = 0;

// wchar_t is UTF-32 here; anything that is no Unicode scalar value becomes U+FFFD.
std::string toUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto cp = static_cast<std::uint32_t>(wc);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

int collectSamples(short* wav, int count, espeak_EVENT* events) {
    if (wav && count > 0 && events) {
        auto* samples = static_cast<std::vector<std::int16_t>*>(events->user_data);
        if (samples) {
            samples->insert(samples->end(), wav, wav + count);
        }
    }
    return 0;  // go on synthesising
}

// Starts the library once; a failure is kept and reported once, so a machine without voice
// data does not print on every message.
bool ensureEngine() {
    if (engineTried) {
        return engineReady;
    }
    engineTried = true;
    // DONT_EXIT: without its data the library would otherwise end the whole process.
    const int rate =
        espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
    if (rate <= 0) {
        std::fprintf(stderr,
                     "\n Note: speech engine (espeak-ng) could not start; is espeak-ng-data "
                     "installed?\n");
        return false;
    }
    if (espeak_SetVoiceByName("en") != EE_OK) {
        std::fprintf(stderr, "\n Note: speech engine (espeak-ng) has no English voice\n");
        return false;
    }
    espeak_SetSynthCallback(collectSamples);
    engineRate = rate;
    engineReady = true;
    return true;
}

// espeak-ng renders at 22,050 Hz; should a build render at another rate, the file still gets
// the agreed one.
std::vector<std::int16_t> toFileRate(const std::vector<std::int16_t>& in, int rate) {
    if (rate == kFileRate || in.empty()) {
        return in;
    }
    const double step = static_cast<double>(rate) / kFileRate;
    const auto outCount = static_cast<std::size_t>(static_cast<double>(in.size()) / step);
    std::vector<std::int16_t> out(outCount);
    for (std::size_t i = 0; i < outCount; ++i) {
        const double pos = static_cast<double>(i) * step;
        const auto j = static_cast<std::size_t>(pos);
        const double frac = pos - static_cast<double>(j);
        const double a = in[j];
        const double b = j + 1 < in.size() ? in[j + 1] : a;
        out[i] = static_cast<std::int16_t>(a + (b - a) * frac);
    }
    return out;
}

void putLe(std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
}

bool writeWave(const std::string& path, const std::vector<std::int16_t>& samples) {
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::vector<unsigned char> bytes;
    bytes.reserve(44 + dataBytes);
    bytes.insert(bytes.end(), {'R', 'I', 'F', 'F'});
    putLe(bytes, 36 + dataBytes, 4);
    bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putLe(bytes, 16, 4);             // format chunk size
    putLe(bytes, 1, 2);              // PCM
    putLe(bytes, 1, 2);              // mono
    putLe(bytes, kFileRate, 4);      // samples per second
    putLe(bytes, kFileRate * 2, 4);  // bytes per second
    putLe(bytes, 2, 2);              // block alignment
    putLe(bytes, 16, 2);             // bits per sample
    bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
    putLe(bytes, dataBytes, 4);
    for (std::int16_t s : samples) {
        putLe(bytes, static_cast<std::uint16_t>(s), 2);
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

}  // namespace

void PrepareSpeech() {
    std::lock_guard<std::mutex> lock(engineMutex());
    ensureEngine();
}

SpeechRender RenderSpeechToWaveFile(const std::wstring& text, const std::string& path) {
    std::vector<std::int16_t> samples;
    int rate = 0;
    {
        std::lock_guard<std::mutex> lock(engineMutex());
        if (!ensureEngine()) {
            return SpeechRender::kEngineFailed;
        }
        const std::string utf8 = toUtf8(text);
        const espeak_ERROR err = espeak_Synth(utf8.c_str(), utf8.size() + 1, 0, POS_CHARACTER, 0,
                                              espeakCHARS_UTF8, nullptr, &samples);
        if (err != EE_OK) {
            return SpeechRender::kEngineFailed;
        }
        rate = engineRate;
    }
    if (!writeWave(path, toFileRate(samples, rate))) {
        return SpeechRender::kEngineFailed;
    }
    return SpeechRender::kRendered;
}

}  // namespace platform
