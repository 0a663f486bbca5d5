#pragma once
// One complete HTTP(S) GET exchange with the race-data web service: a fresh connection and
// request per call, closed before the call returns (libcurl may resume the thread's last TLS
// session on it). WinHTTP on Windows, libcurl elsewhere; tests install their own transport.

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// The maker's service. A "Service" section of the settings file can point both programs at a
// self-hosted service (or a test service on 127.0.0.1).
inline constexpr const char* kServiceHost = "qrd.brenvik-korvane.net";
inline constexpr int kServicePort = 443;

struct HttpEndpoint {
    std::string host = kServiceHost;
    int port = kServicePort;
    // TLS with the server certificate verified. Plain HTTP only when a driver asks for it.
    bool secure = true;
    // PEM file of the certificate authorities to trust instead of the system store (libcurl
    // only; WinHTTP always uses the Windows store). Empty: the system store.
    std::string caCertificate;
};

// The header a team key travels in, for a self-hosted service that serves its own team only.
inline constexpr const char* kTeamKeyHeader = "X-Team-Key";

// The endpoint named by the "Service" section ("Host", "Port", "Secure", "CACertificate") of
// the settings file at `settingsPath`; every key that is missing keeps its default above, so
// a file without the section changes nothing.
HttpEndpoint serviceEndpoint(const std::string& settingsPath);

// The "Service"/"TeamKey" setting of the settings file at `settingsPath`; "" when there is none
// or when it could not travel in a header line (anything but visible ASCII).
std::string serviceTeamKey(const std::string& settingsPath);

struct HttpRequest {
    HttpEndpoint endpoint;
    std::string userAgent;
    std::string path;  // path and query string, sent as they are
    // Sent in the kTeamKeyHeader header when not empty; nothing is sent otherwise.
    std::string teamKey;
    // Neither a dead network nor a slow service may hold the caller longer than this.
    int connectTimeoutMs = 5000;
    int totalTimeoutMs = 10000;
    // Bodies longer than this fail with kReadData (0: no limit).
    size_t maxBodyBytes = 0;
};

enum class HttpFailure {
    kNone,
    kConnect,    // session, name resolution, connection, TLS, sending, or the response headers
    kQueryData,  // asking how many body bytes are available (WinHTTP only)
    kReadData,   // reading the body (broken connection, time-out, body too long)
};

struct HttpResponse {
    HttpFailure failure = HttpFailure::kNone;
    // The system's error code of the failure: GetLastError() on Windows, the CURLcode elsewhere.
    uint32_t errorCode = 0;
    int status = 0;    // HTTP status; 0 when no response headers arrived
    std::string body;  // every body byte received, in order, however many chunks it came in

    bool ok() const { return failure == HttpFailure::kNone; }
};

class HttpTransport {
  public:
    virtual ~HttpTransport() = default;
    // Safe to call from several threads at once.
    virtual HttpResponse get(const HttpRequest& request) = 0;
};

// The machine's real transport.
HttpTransport& systemHttpTransport();

// The transport in use: the system one unless a test installed another.
HttpTransport& httpTransport();
// Installs `transport` (nullptr restores the system one). Tests install it before the code
// under test runs.
void setHttpTransport(HttpTransport* transport);

}  // namespace platform
