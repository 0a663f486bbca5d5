#include <atomic>

#include "platform/http_client.h"
#include "platform/settings.h"

namespace platform {

namespace {
std::atomic<HttpTransport*> installed{nullptr};
}  // namespace

HttpEndpoint serviceEndpoint(const std::string& settingsPath) {
    HttpEndpoint endpoint;
    endpoint.host = profileString("Service", "Host", kServiceHost, settingsPath);
    if (endpoint.host.empty()) {
        endpoint.host = kServiceHost;
    }
    int port = profileInt("Service", "Port", kServicePort, settingsPath);
    endpoint.port = (port > 0 && port < 65536) ? port : kServicePort;
    endpoint.secure = profileInt("Service", "Secure", 1, settingsPath) != 0;
    endpoint.caCertificate = profileString("Service", "CACertificate", "", settingsPath, 1024);
    return endpoint;
}

std::string serviceTeamKey(const std::string& settingsPath) {
    std::string key = profileString("Service", "TeamKey", "", settingsPath, 1024);
    for (char c : key) {
        // Visible ASCII only: a line break would let the setting write headers of its own.
        if (c < 0x21 || c > 0x7e) {
            return "";
        }
    }
    return key;
}

HttpTransport& httpTransport() {
    HttpTransport* t = installed.load(std::memory_order_acquire);
    return t ? *t : systemHttpTransport();
}

void setHttpTransport(HttpTransport* transport) {
    installed.store(transport, std::memory_order_release);
}

}  // namespace platform
