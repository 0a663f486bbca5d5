#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "common/settings_file.h"
#include "launcher/launcher.h"
#include "platform/clock.h"
#include "platform/http_client.h"

namespace launcher {

namespace fs = std::filesystem;

namespace {

// A version answer is a handful of characters; anything longer is not one.
constexpr size_t kMaxVersionBody = 4096;
// Executables are a few megabytes; the limit only stops a runaway answer filling the disk.
constexpr size_t kMaxFileBody = 512u * 1024u * 1024u;
// A download may take a while on a slow line, but must not hang the launcher for ever.
constexpr int kDownloadTimeoutMs = 5 * 60 * 1000;

platform::HttpResponse serviceGet(const std::string& path, size_t maxBody, int totalTimeoutMs) {
    platform::HttpRequest request;
    request.endpoint = platform::serviceEndpoint(common::settingsPath());
    request.userAgent = kUserAgent;
    request.path = path;
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

// The body of "/files/R3/<serverName>" when it arrived whole with status 200.
bool fetchUpdateFile(const char* serverName, std::string* body) {
    char path[256];
    std::snprintf(path, sizeof path, "/files/R3/%s", serverName);
    platform::HttpResponse response = serviceGet(path, kMaxFileBody, kDownloadTimeoutMs);
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

// Writes `body` beside `target` and moves it over `target` only once it is complete, so the
// old file stays whole whatever goes wrong.
// An executable takes its permissions from `permissionsOf` (the file it is to replace; the
// target itself when none is given).
bool replaceFile(const char* target, const std::string& body, bool executable,
                 const char* permissionsOf = nullptr) {
    const fs::path finalPath(target);
    const fs::path temporary(std::string(target) + ".download");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(body.data(), static_cast<std::streamsize>(body.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            Printf("\n Could not write %s; it was left as it was.\n", target);
            return false;
        }
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

std::string VersionFileName(const char* component) {
    char name[37];
    std::snprintf(name, sizeof name, "Qm_Korvane_%s%s", component, ".ver");
    return name;
}

float FetchPublishedVersion(const char* component) {
    char path[256];
    std::snprintf(path, sizeof path, "/qrd/getpubver.php?platform=%s", component);
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
    if (!fetchUpdateFile(serverName, &body)) {
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
    bool replaced = fetchUpdateFile(kLauncherServerBinary, &binary) &&
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
        Printf("\n The update could not be fetched; the current Launcher is kept.\n");
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
    DownloadUpdateFile(kReadmeFile, kReadmeFile);
    commitVersionFile(component, versionFetched, version, replaced);
    Printf("\n Done.");
}

}  // namespace launcher
