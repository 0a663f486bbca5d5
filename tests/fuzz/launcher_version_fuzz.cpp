// The launcher's version decision on any published answer and any local version file. The
// number read must be the one a plain reading of the leading decimal gives (no "inf", "nan",
// hexadecimal or exponent, nothing non-finite), and an update is due exactly when the
// published number is above the local one.
//
// Input: one byte choosing the exchange's outcome, the answer body, a NUL, the version file
// (absent when the input has no NUL).

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/fuzz_input.h"
#include "launcher/launcher.h"
#include "support/fake_http_transport.h"
#include "support/virtual_clock.h"

namespace {

using fuzzing::check;

void ignore(const char*) {}

// Blanks, a sign, digits with an optional fraction and at least one digit; strtof of that
// alone. Too large is 0, as no version is that.
float plainDecimal(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') {
        ++p;
    }
    std::string number;
    if (*p == '+' || *p == '-') {
        number += *p++;
    }
    bool digits = false;
    while (*p >= '0' && *p <= '9') {
        number += *p++;
        digits = true;
    }
    if (*p == '.') {
        number += *p++;
        while (*p >= '0' && *p <= '9') {
            number += *p++;
            digits = true;
        }
    }
    if (!digits) {
        return 0.0f;
    }
    errno = 0;
    float v = std::strtof(number.c_str(), nullptr);
    if (!std::isfinite(v)) {
        return 0.0f;
    }
    return v;
}

void checkParse(const std::string& text) {
    const float got = launcher::ParseLeadingDecimal(text.c_str());
    const float want = plainDecimal(text.c_str());
    check(std::isfinite(got), "a version that is not a finite number", text);
    // Below the smallest normal float either reading is as good: no version is that small.
    check(got == want || (std::fabs(want) < 1e-30f && std::fabs(got) < 1e-30f),
          "the leading decimal is read wrongly", text);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static const std::filesystem::path dir = fuzzing::scratchPath("launcher-fuzz");
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    launcher::Seams().write = ignore;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static testsupport::VirtualClock clock;
    static testsupport::ScopedClock useClock(clock);
    static testsupport::FakeHttpTransport http;
    static testsupport::ScopedHttpTransport useHttp(http);
    clock.clearSleeps();
    http.clear();

    fuzzing::Input in(data, size);
    const uint8_t mode = in.byte();
    const std::string body = in.until('\0');
    const bool hasFile = size > 1 && std::memchr(data + 1, 0, size - 1) != nullptr;
    const std::string file = in.rest();

    checkParse(body);
    checkParse(file);

    platform::HttpResponse response =
        (mode & 1) ? testsupport::FakeHttpTransport::failure(platform::HttpFailure::kConnect, 12029)
                   : testsupport::FakeHttpTransport::answer(body, (mode & 2) ? 404 : 200);
    http.push(response);
    const std::string name = launcher::VersionFileName(launcher::kPluginComponent);
    std::error_code ec;
    std::filesystem::remove(name, ec);
    std::filesystem::remove("Qm_Korvane_Launcher.log", ec);
    if (hasFile) {
        std::ofstream out(name, std::ios::binary | std::ios::trunc);
        out.write(file.data(), static_cast<std::streamsize>(file.size()));
    }

    const bool update = launcher::IsUpdateAvailable(launcher::kPluginComponent);

    const float published =
        response.ok() && response.status == 200 ? plainDecimal(body.c_str()) : 0.0f;
    // Only the first line, and of it the first seven characters, count.
    std::string first = file.substr(0, std::min(file.find('\n'), file.size()) + 1).substr(0, 7);
    const float local = hasFile ? plainDecimal(first.c_str()) : 0.0f;
    check(
        std::fabs(published) < 1e-30f || std::fabs(local) < 1e-30f || update == (published > local),
        "the update decision does not follow the versions", body);
    return 0;
}
