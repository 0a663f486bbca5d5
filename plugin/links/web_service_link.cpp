#include "plugin/links/web_service_link.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <vector>

#include "common/settings_file.h"
#include "plugin/engineer/race_state.h"

namespace links {

namespace {

// Answers are short numbers; anything longer than this is not an answer.
constexpr size_t kMaxAnswerBytes = 64 * 1024;

std::string lastReply;
std::optional<platform::HttpEndpoint> endpointOverride;

// What the settings file says about the service. Reading it costs a dozen system calls per key,
// and an exchange every few seconds would pay that each time, so it is read again only when
// its modification time changed. A time less than two seconds old is never trusted: the file
// system's clock is coarse, and a second write within the same tick would look unchanged.
struct ServiceSettings {
    std::string path;
    std::filesystem::file_time_type stamp{};
    bool present = false;
    platform::HttpEndpoint endpoint;
    std::string teamKey;
};
std::mutex settingsMutex;
std::optional<ServiceSettings> settingsCache;

ServiceSettings serviceSettings() {
    constexpr auto kSettled = std::chrono::seconds(2);
    const std::string path = common::settingsPath();
    std::error_code error;
    const auto stamp = std::filesystem::last_write_time(path, error);
    const bool present = !error;
    std::lock_guard<std::mutex> lock(settingsMutex);
    if (settingsCache && settingsCache->path == path && settingsCache->present == present &&
        (!present || settingsCache->stamp == stamp)) {
        return *settingsCache;
    }
    ServiceSettings fresh{path, stamp, present, platform::serviceEndpoint(path),
                          platform::serviceTeamKey(path)};
    if (!present || std::filesystem::file_time_type::clock::now() - stamp >= kSettled) {
        settingsCache = fresh;
    } else {
        settingsCache.reset();
    }
    return fresh;
}

void writeStdout(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

ConsoleWriter consoleWriter = writeStdout;

std::string format(const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, pattern, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        // Formatted in full: a report with huge values is sent as it is, never cut short.
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), pattern, again);
        text.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(again);
    return text;
}

void print(const std::string& text) {
    consoleWriter(text.c_str());
}

// One exchange. True when the whole answer arrived with a success status; the console says
// what went wrong otherwise.
bool exchange(const std::string& path, std::string& body) {
    platform::HttpRequest request;
    ServiceSettings settings = serviceSettings();
    request.endpoint = endpointOverride ? *endpointOverride : std::move(settings.endpoint);
    request.userAgent = kUserAgent;
    request.path = path;
    request.teamKey = std::move(settings.teamKey);
    request.maxBodyBytes = kMaxAnswerBytes;
    platform::HttpResponse response = platform::httpTransport().get(request);
    switch (response.failure) {
        case platform::HttpFailure::kNone:
            break;
        case platform::HttpFailure::kConnect:
            print(format("Error %d has occurred.\n", static_cast<int>(response.errorCode)));
            return false;
        case platform::HttpFailure::kQueryData:
            print(format("\n QRD Link Error %u on Query.\n", response.errorCode));
            return false;
        case platform::HttpFailure::kReadData:
            print(format("\n QRD Link Error %u on Read.\n", response.errorCode));
            return false;
    }
    if (response.status < 200 || response.status > 299) {
        // An error page is not an answer, whatever number it may begin with.
        print(format("\n QRD Link Error: the service answered HTTP %d.\n", response.status));
        return false;
    }
    body = std::move(response.body);
    return true;
}

void report(const std::string& path) {
    std::string ignored;
    exchange(path, ignored);
}

const char* query(const std::string& path) {
    std::string body;
    if (!exchange(path, body)) {
        body.clear();
    }
    lastReply = std::move(body);
    return lastReply.c_str();
}

// The fields both reports share, sid ... sft.
std::string commonFields(const ReportValues& v) {
    return format(
        "sid=%d&sli=%d&sst=%d&tid=%d&cid=%d&did=%d&sat=%0.2f&stt=%0.2f&cat=%0.2f&ctt=%0.2f&psv=%d"
        "&sl=%d&slr=%d&st=%d&str=%d&fs=%3.1f&fl=%3.3f&fu=%0.2f&fta=%0.2f&fn=%0.2f&fbpl=%0.2f"
        "&fbpm=%0.2f&sft=%d",
        v.SubSessionID, v.SessionKind, v.SessionState, v.TrackID, v.CarID, v.DriverUserID,
        v.TrackAirTemp, v.TrackSurfaceTemp, static_cast<double>(v.AirTemp),
        static_cast<double>(v.TrackTempCrew), v.PitSvFlags, v.Lap, v.SessionLapsRemainEx,
        v.SessionTime, v.SessionTimeRemain, static_cast<double>(v.FuelTankLiters),
        static_cast<double>(v.FuelLevel), static_cast<double>(v.FuelUsed), v.LitersToAdd,
        v.FuelToFinish, static_cast<double>(v.FuelBurnPerLap),
        static_cast<double>(v.FuelBurnPerMin), v.RaceSessionType);
}

}  // namespace

std::string DataReportPath(const ReportValues& v) {
    std::string path = "/qrd/data.php?" + commonFields(v);
    static constexpr const char* kWheelKeys[4][4] = {{"wlf", "tlf", "phlf", "pclf"},
                                                     {"wrf", "trf", "phrf", "pcrf"},
                                                     {"wlr", "tlr", "phlr", "pclr"},
                                                     {"wrr", "trr", "phrr", "pcrr"}};
    for (int w = 0; w < 4; ++w) {
        const ReportValues::Wheel& wheel = v.Wheels[w];
        path += format("&%s=%0.2f&%s=%0.2f&%s=%0.2f&%s=%0.2f", kWheelKeys[w][0],
                       static_cast<double>(wheel.Wear), kWheelKeys[w][1],
                       static_cast<double>(wheel.CarcassTemp), kWheelKeys[w][2],
                       static_cast<double>(wheel.PitPressure), kWheelKeys[w][3],
                       static_cast<double>(wheel.ColdPressure));
    }
    path += format("&pos=%d&llt=%0.2f&fbm=%0.2f", v.PlayerCarPosition,
                   static_cast<double>(v.FuelLapsLeft), static_cast<double>(v.FuelBurnMax));
    return path;
}

std::string LapReportPath(const ReportValues& v) {
    return "/qrd/lap.php?" + commonFields(v) +
           format("&pos=%d&llt=%0.2f&fbm=%0.2f&tlu=%d", v.PlayerCarPosition,
                  static_cast<double>(v.FuelLapsLeft), static_cast<double>(v.FuelBurnMax),
                  v.TireDistance);
}

std::string ServiceCommandPath(const char* command, int f) {
    const engineer::RaceState& race = engineer::Race();
    return format("/qrd/api.php?c=%s&s=%d&r=%d&f=%d", command ? command : "", race.DriverUserID,
                  race.SubSessionID, f);
}

std::string PreviousFuelBurnPath() {
    const engineer::RaceState& race = engineer::Race();
    return format("/qrd/api.php?c=%s&cid=%d&tid=%d&did=%d&sft=%d", "getpreviousfuelburn",
                  race.CarID, race.TrackID, race.DriverUserID, race.RaceSessionType);
}

void SendDataReport(const ReportValues& values) {
    report(DataReportPath(values));
}
void SendLapReport(const ReportValues& values) {
    report(LapReportPath(values));
}
void SendDataReport() {
    SendDataReport(CurrentReportValues());
}
void SendLapReport() {
    SendLapReport(CurrentReportValues());
}

const char* QueryServiceCommand(const char* command, int f) {
    return query(ServiceCommandPath(command, f));
}

const char* QueryPreviousFuelBurn() {
    return query(PreviousFuelBurnPath());
}

const char* LastServiceReply() {
    return lastReply.c_str();
}

platform::HttpEndpoint ServiceEndpoint() {
    if (endpointOverride) {
        return *endpointOverride;
    }
    return serviceSettings().endpoint;
}

void SetServiceEndpoint(const platform::HttpEndpoint& endpoint) {
    endpointOverride = endpoint;
}
void ClearServiceEndpoint() {
    endpointOverride.reset();
}

void SetConsoleWriter(ConsoleWriter writer) {
    consoleWriter = writer ? writer : writeStdout;
}

void ResetServiceLink() {
    lastReply.clear();
    endpointOverride.reset();
    {
        std::lock_guard<std::mutex> lock(settingsMutex);
        settingsCache.reset();
    }
    consoleWriter = writeStdout;
}

}  // namespace links
