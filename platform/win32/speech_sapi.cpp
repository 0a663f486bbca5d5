// Speech through SAPI 5: a voice speaking into a WAV file stream. Every call enters and leaves
// COM on its own thread, so background messages render in parallel, each with its own objects.
#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>
#include <sapi.h>

#include <string>

#include "platform/speech.h"

namespace platform {

namespace {

// Neither is in mingw's sapi.h / import libraries; the values are those of SAPI's sapi.h.
const GUID kWaveFormatExId = {
    0xc31adbae, 0x527f, 0x4ff5, {0xa2, 0x30, 0xf6, 0x2b, 0xb6, 0x1f, 0xf7, 0x0c}};
constexpr ULONGLONG kAllEvents = 0xEFFFFFFFFFFFFFFFull;

std::wstring widePath(const std::string& path) {
    const int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    if (n <= 0) {
        return std::wstring(path.begin(), path.end());
    }
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, out.data(), n);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

}  // namespace

// SAPI lives in each speaking thread's own COM apartment: nothing to start ahead.
void PrepareSpeech() {}

SpeechRender RenderSpeechToWaveFile(const std::wstring& text, const std::string& path) {
    // S_FALSE (already initialised on this thread) is a success and is balanced below.
    if (FAILED(CoInitialize(nullptr))) {
        return SpeechRender::kSetupFailed;
    }
    bool spoken = false;
    ISpVoice* voice = nullptr;
    ISpStream* stream = nullptr;
    WAVEFORMATEX* format = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_ALL, IID_ISpVoice,
                                   reinterpret_cast<void**>(&voice)))) {
        format = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
        if (format) {
            format->wFormatTag = WAVE_FORMAT_PCM;
            format->nChannels = 1;
            format->nSamplesPerSec = 22050;
            format->wBitsPerSample = 16;
            format->nBlockAlign = 2;
            format->nAvgBytesPerSec = 44100;
            format->cbSize = 0;
        }
    }
    if (format && SUCCEEDED(CoCreateInstance(CLSID_SpStream, nullptr, CLSCTX_ALL, IID_ISpStream,
                                             reinterpret_cast<void**>(&stream)))) {
        const std::wstring file = widePath(path);
        if (FAILED(stream->BindToFile(file.c_str(), SPFM_CREATE_ALWAYS, &kWaveFormatExId, format,
                                      kAllEvents))) {
            stream->Release();
            stream = nullptr;
        }
    }
    if (stream && SUCCEEDED(voice->SetOutput(stream, TRUE))) {
        // Synchronous: returns once the whole sentence is in the file.
        spoken = SUCCEEDED(voice->Speak(text.c_str(), 0, nullptr));
        stream->Close();
    }
    if (stream) {
        stream->Release();
    }
    if (voice) {
        voice->Release();
    }
    if (format) {
        CoTaskMemFree(format);
    }
    CoUninitialize();
    return spoken ? SpeechRender::kRendered : SpeechRender::kEngineFailed;
}

}  // namespace platform
