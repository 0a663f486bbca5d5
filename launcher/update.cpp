#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "common/settings_file.h"
#include "launcher/launcher.h"
#include "platform/clock.h"
#include "platform/http_client.h"
#include "platform/settings.h"
#include "platform/signature.h"
#include "platform/system.h"

namespace launcher {

namespace fs = std::filesystem;

namespace {

// A version answer is a handful of characters; anything longer is not one.
constexpr size_t kMaxVersionBody = 4096;
// Executables are a few megabytes; the limit only stops a runaway answer filling the disk.
constexpr size_t kMaxFileBody = kMaxExecutableBytes;
// A DER P-256 signature is at most 72 bytes.
constexpr size_t kMaxSignatureBody = 1024;
// A download may take a while on a slow line, but must not hang the launcher for ever.
constexpr int kDownloadTimeoutMs = 5 * 60 * 1000;

platform::HttpResponse serviceGet(const std::string& path, size_t maxBody, int totalTimeoutMs) {
    platform::HttpRequest request;
    request.endpoint = platform::serviceEndpoint(common::settingsPath());
    request.userAgent = kUserAgent;
    request.path = path;
    request.teamKey = platform::serviceTeamKey(common::settingsPath());
    request.maxBodyBytes = maxBody;
    request.totalTimeoutMs = totalTimeoutMs;
    return platform::httpTransport().get(request);
}

// The console message of a failed exchange, worded after the WinHTTP step that failed.
void printFailure(const platform::HttpResponse& response) {
    switch (response.failure) {
        case platform::HttpFailure::kNone:
            break;
        case platform::HttpFailure::kConnect:
            Printf("Error %d has occurred.\n", static_cast<int>(response.errorCode));
            break;
        case platform::HttpFailure::kQueryData:
            Printf("Error %u in WinHttpQueryDataAvailable.\n",
                   static_cast<unsigned>(response.errorCode));
            break;
        case platform::HttpFailure::kReadData:
            Printf("Error %u in WinHttpReadData.\n", static_cast<unsigned>(response.errorCode));
            break;
    }
}

// One update file's exchange: its body when it arrived whole with status 200.
bool fetchBody(const char* serverName, size_t maxBody, std::string* body) {
    char path[256];
    std::snprintf(path, sizeof path, "/files/R3/%s", serverName);
    platform::HttpResponse response = serviceGet(path, maxBody, kDownloadTimeoutMs);
    if (!response.ok()) {
        printFailure(response);
        return false;
    }
    if (response.status != 200) {
        // An error page stored as an executable would leave the driver without a plugin.
        Printf("\n Download of %s failed: the service answered %d.\n", serverName, response.status);
        return false;
    }
    *body = std::move(response.body);
    return true;
}

// The file is refused: one line on the console and the same in the log.
void refuse(const char* serverName, const char* why) {
    Printf("\n %s was refused (%s); the old file is kept.\n", serverName, why);
    LogLauncherf("%s was refused (%s); the old file is kept.", serverName, why);
}

// With "Service"/"UpdateKey" set, only files signed by that key are installed: a service
// that was broken into, or a certificate issued to someone else, then cannot run code on the
// driver's machine. Without it the file is taken on TLS alone, as before.
bool signedByUpdateKey(const char* serverName, const std::string& body) {
    const std::string keyText =
        platform::profileString("Service", "UpdateKey", "", common::settingsPath(), 1024);
    if (keyText.find_first_not_of(" \t") == std::string::npos) {
        return true;
    }
    std::optional<std::string> key = platform::decodeBase64(keyText);
    if (!key || !platform::p256PublicPoint(*key)) {
        refuse(serverName, "the UpdateKey setting is not a P-256 public key");
        return false;
    }
    std::string signature;
    if (!fetchBody((std::string(serverName) + ".sig").c_str(), kMaxSignatureBody, &signature)) {
        refuse(serverName, "no signature");
        return false;
    }
    if (!platform::verifyP256Signature(*key, body, signature)) {
        refuse(serverName, "the signature does not match the update key");
        return false;
    }
    return true;
}

// The body of "/files/R3/<serverName>" when it arrived whole with status 200, is signed when
// it must be, and, for an executable, is a whole one for this platform.
bool fetchUpdateFile(const char* serverName, std::string* body, bool executable = false) {
    if (!fetchBody(serverName, kMaxFileBody, body)) {
        return false;
    }
    if (executable) {
        const std::string problem = ExecutableProblem(*body);
        if (!problem.empty()) {
            refuse(serverName, problem.c_str());
            return false;
        }
    }
    return signedByUpdateKey(serverName, *body);
}

// Writes `body` beside `target` and moves it over `target` only once it is complete, so the
// old file stays whole whatever goes wrong.
// An executable takes its permissions from `permissionsOf` (the file it is to replace; the
// target itself when none is given).
bool replaceFile(const char* target, const std::string& body, bool executable,
                 const char* permissionsOf = nullptr) {
    const fs::path finalPath(target);
    const fs::path temporary(std::string(target) + ".download");
    // On the disk before the rename: otherwise a power cut can leave the new name on an empty
    // file, and the driver without a program.
    const std::string writeError = platform::writeFileToDisk(temporary.string(), body);
    if (!writeError.empty()) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        Printf("\n Could not write %s (%s); it was left as it was.\n", target, writeError.c_str());
        return false;
    }
    std::error_code ec;
    if (executable) {
        // The new program must start like the old one did.
        fs::perms perms =
            fs::status(permissionsOf ? fs::path(permissionsOf) : finalPath, ec).permissions();
        if (ec || perms == fs::perms::unknown) {
            perms = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                    fs::perms::others_read | fs::perms::others_exec;
        }
        fs::permissions(temporary, perms | fs::perms::owner_read | fs::perms::owner_write, ec);
    }
    ec.clear();
    fs::rename(temporary, finalPath, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        Printf("\n Could not replace %s: %s\n", target, ec.message().c_str());
        return false;
    }
    return true;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

float ParseLeadingDecimal(const char* text) {
    if (!text) {
        return 0.0f;
    }
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') {
        ++p;
    }
    const char* start = p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
        start = p;
    }
    // Only plain digits with an optional fraction: no "inf", "nan" or hexadecimal, which the
    // C conversions would take and which no version is.
    const char* end = p;
    while (isDigit(*end)) {
        ++end;
    }
    bool digits = end != p;
    if (*end == '.') {
        const char* fraction = end + 1;
        while (isDigit(*fraction)) {
            ++fraction;
        }
        if (fraction != end + 1 || digits) {
            digits = digits || fraction != end + 1;
            end = fraction;
        }
    }
    if (!digits) {
        return 0.0f;
    }
    float value = 0.0f;
    auto result = std::from_chars(start, end, value, std::chars_format::fixed);
    if (result.ec != std::errc() || !std::isfinite(value)) {
        return 0.0f;
    }
    return negative ? -value : value;
}

const char* PublishedPlatform(const char* component) {
    if (std::string(component) == kLauncherComponent) {
        return kLauncherPlatform;
    }
    if (std::string(component) == kPluginComponent) {
        return kPluginPlatform;
    }
    return component;
}

namespace {

uint32_t little(const std::string& bytes, size_t at, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    }
    return value;
}

uint64_t little64(const std::string& bytes, size_t at) {
    return little(bytes, at, 4) | (static_cast<uint64_t>(little(bytes, at + 4, 4)) << 32);
}

// A table of `count` entries of `entrySize` bytes at `offset` lies inside the file.
bool inside(uint64_t offset, uint64_t count, uint64_t entrySize, size_t size) {
    return offset <= size && count * entrySize <= size - offset;
}

}  // namespace

// PE32+ for x86-64: the headers, and every section's data inside the file, so a cut download
// is told apart from a whole one.
std::string WindowsProgramProblem(const std::string& b) {
    if (b.compare(0, 2, "MZ") != 0) {
        return "not a Windows program";
    }
    const uint32_t pe = little(b, 0x3c, 4);
    if (!inside(pe, 1, 24, b.size()) || b.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
        return "not a Windows program";
    }
    if (little(b, pe + 4, 2) != 0x8664) {
        return "not a program for x86-64";
    }
    const uint32_t sections = little(b, pe + 6, 2);
    const uint32_t optionalSize = little(b, pe + 20, 2);
    if (optionalSize < 2 || !inside(pe + 24, 1, optionalSize, b.size()) ||
        little(b, pe + 24, 2) != 0x20b) {
        return "not a 64-bit Windows program";
    }
    const uint64_t table = uint64_t{pe} + 24 + optionalSize;
    if (sections == 0 || !inside(table, sections, 40, b.size())) {
        return "cut short";
    }
    for (uint32_t i = 0; i < sections; ++i) {
        const uint64_t header = table + uint64_t{i} * 40;
        const uint32_t rawSize = little(b, header + 16, 4);
        const uint32_t rawOffset = little(b, header + 20, 4);
        if (rawSize != 0 && !inside(rawOffset, 1, rawSize, b.size())) {
            return "cut short";
        }
    }
    return "";
}

// ELF64 little-endian for x86-64, an executable or a position-independent one, with its
// program and section header tables (the latter at the very end of a linked file) inside it.
std::string LinuxProgramProblem(const std::string& b) {
    if (b.compare(0, 4,
                  "\x7f"
                  "ELF") != 0) {
        return "not a Linux program";
    }
    if (b[4] != 2 || b[5] != 1) {
        return "not a 64-bit little-endian program";
    }
    const uint32_t type = little(b, 16, 2);
    if (type != 2 && type != 3) {
        return "not an executable";
    }
    if (little(b, 18, 2) != 62) {
        return "not a program for x86-64";
    }
    const uint64_t programHeaders = little64(b, 32);
    const uint64_t sectionHeaders = little64(b, 40);
    const uint32_t programEntry = little(b, 54, 2);
    const uint32_t programCount = little(b, 56, 2);
    const uint32_t sectionEntry = little(b, 58, 2);
    const uint32_t sectionCount = little(b, 60, 2);
    if (programCount == 0 || !inside(programHeaders, programCount, programEntry, b.size()) ||
        !inside(sectionHeaders, sectionCount, sectionEntry, b.size())) {
        return "cut short";
    }
    return "";
}

std::string ExecutableProblem(const std::string& bytes) {
    if (bytes.size() < kMinExecutableBytes) {
        return bytes.empty() ? "empty" : "too small for a program";
    }
    if (bytes.size() > kMaxExecutableBytes) {
        return "too large";
    }
#ifdef _WIN32
    return WindowsProgramProblem(bytes);
#else
    return LinuxProgramProblem(bytes);
#endif
}

std::string VersionFileName(const char* component) {
    char name[37];
    std::snprintf(name, sizeof name, "Qm_Korvane_%s%s", component, ".ver");
    return name;
}

float FetchPublishedVersion(const char* component) {
    char path[256];
    std::snprintf(path, sizeof path, "/qrd/getpubver.php?platform=%s",
                  PublishedPlatform(component));
    platform::HttpResponse response = serviceGet(path, kMaxVersionBody, 10000);
    if (!response.ok()) {
        printFailure(response);
        return 0.0f;
    }
    if (response.status != 200) {
        // An error page's text is no version ("404 Not Found" would read as 404).
        Printf("\n Version query for %s failed: the service answered %d.\n", component,
               response.status);
        return 0.0f;
    }
    return ParseLeadingDecimal(response.body.c_str());
}

bool IsUpdateAvailable(const char* component) {
    const float published = FetchPublishedVersion(component);
    LogLauncherf("Version Check Remote: %1.3f (%s)", published, component);

    float local = 0.0f;
    const std::string name = VersionFileName(component);
    std::FILE* file = std::fopen(name.c_str(), "r");
    if (!file) {
        Printf("\n Error opening version file.");
        platform::sleepMs(2000);
    } else {
        char line[8] = {0};
        if (std::fgets(line, sizeof line, file)) {
            local = ParseLeadingDecimal(line);
        }
        std::fclose(file);
        platform::sleepMs(250);
    }
    LogLauncherf("Version Check Local : %1.3f (%s)", local, component);
    return published > local;
}

bool DownloadUpdateFile(const char* serverName, const char* localName, bool executable) {
    std::string body;
    if (!fetchUpdateFile(serverName, &body, executable)) {
        return false;
    }
    return replaceFile(localName, body, executable);
}

void RequireRestart(const char* component) {
    Printf("\n %s Requires Restart. Please allow the Launcher to restart. \n", component);
    LogLauncherf("%s Requires Restart.", component);
    Printf("\n Any key to Close.");
    Seams().readKey();
    Printf("\n ..Closing..");
    platform::sleepMs(2000);
    Seams().exitProcess(0);
    std::exit(0);
}

namespace {

void announceUpdate(const char* component) {
    LogLauncherf("Fetching Updates for %s...", component);
    Printf("\n Fetching Updates for %s...\n", component);
    platform::sleepMs(250);
}

void reportKept(const char* component) {
    Printf("\n The update could not be fetched; the current %s is kept.\n", component);
    LogLauncherf("Update of %s failed; the current one is kept.", component);
}

// The version file goes in last and only after the executable: a failed executable download
// must leave the old version behind so that the next start tries again.
void commitVersionFile(const char* component, bool fetched, const std::string& body,
                       bool executableReplaced) {
    if (fetched && executableReplaced) {
        replaceFile(VersionFileName(component).c_str(), body, false);
    }
}

}  // namespace

void UpdateLauncher() {
    const char* component = kLauncherComponent;
    announceUpdate(component);

    const std::string versionFile = VersionFileName(component);
    std::string version;
    const bool versionFetched = fetchUpdateFile(versionFile.c_str(), &version);

    // The new launcher is fetched and written out whole before the running one is touched: a
    // launcher killed at any point of the download leaves the old one where the driver
    // starts it.
    std::string binary;
    const std::string staged = std::string(kLauncherExecutable) + ".download";
    bool replaced = fetchUpdateFile(kLauncherServerBinary, &binary, true) &&
                    replaceFile(staged.c_str(), binary, true, kLauncherExecutable);
    if (replaced) {
        // The running executable cannot be overwritten, but it can be moved aside.
        std::error_code ec;
        fs::rename(kLauncherExecutable, kCacheFile, ec);
        if (!ec) {
            LogLauncherf("Updated Cache ok.");
        } else {
            LogLauncherf("Updated Cache failed. %s", ec.message().c_str());
        }
        const bool movedAside = !ec;
        ec.clear();
        fs::rename(staged, kLauncherExecutable, ec);
        replaced = !ec;
        if (!replaced) {
            LogLauncherf("Update of %s failed. %s", kLauncherExecutable, ec.message().c_str());
            std::error_code ignored;
            fs::remove(staged, ignored);
            // Without this the driver would be left with no launcher at all.
            if (movedAside) {
                ec.clear();
                fs::rename(kCacheFile, kLauncherExecutable, ec);
                if (ec) {
                    LogLauncherf("Restore %s failed. %s", kLauncherExecutable,
                                 ec.message().c_str());
                    Printf("\n The Launcher could not be put back: rename %s to %s by hand.\n",
                           kCacheFile, kLauncherExecutable);
                } else {
                    LogLauncherf("Restore %s ok.", kLauncherExecutable);
                }
            }
        }
    }
    if (!replaced) {
        // Asking for a restart now would only bring the driver back to this same prompt at
        // every start, and the plugin would never run: go on with the launcher there is.
        reportKept(component);
        return;
    }

    DownloadUpdateFile(kReadmeFile, kReadmeFile);
    commitVersionFile(component, versionFetched, version, replaced);
    Printf("\n Done.");
    RequireRestart(component);
}

void UpdatePlugin() {
    const char* component = kPluginComponent;
    announceUpdate(component);

    const std::string versionFile = VersionFileName(component);
    std::string version;
    const bool versionFetched = fetchUpdateFile(versionFile.c_str(), &version);

    // The plugin is not running yet, so it is replaced in place.
    const bool replaced = DownloadUpdateFile(kPluginServerBinary, kPluginExecutable, true);
    if (!replaced) {
        reportKept(component);
        return;
    }
    DownloadUpdateFile(kReadmeFile, kReadmeFile);
    commitVersionFile(component, versionFetched, version, replaced);
    Printf("\n Done.");
}

}  // namespace launcher
