// WinHTTP transport: session, connection and request opened and closed within each call.

#include <windows.h>
#include <winhttp.h>

#include <cwchar>
#include <string>
#include <vector>

#include "platform/http_client.h"

namespace platform {

namespace {

std::wstring widen(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

class Handle {
  public:
    explicit Handle(HINTERNET h = nullptr) : h_(h) {}
    ~Handle() {
        if (h_) {
            WinHttpCloseHandle(h_);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HINTERNET get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

  private:
    HINTERNET h_;
};

class WinHttpTransport final : public HttpTransport {
  public:
    HttpResponse get(const HttpRequest& request) override {
        HttpResponse response;
        auto fail = [&response](HttpFailure failure) {
            response.failure = failure;
            response.errorCode = static_cast<uint32_t>(GetLastError());
            return response;
        };

        std::wstring agent = widen(request.userAgent);
        std::wstring host = widen(request.endpoint.host);
        std::wstring path = widen(request.path.empty() ? std::string("/") : request.path);
        ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(request.totalTimeoutMs);

        // Declared in opening order so they close in the reverse one: request, connection,
        // session.
        Handle session(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                   WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        if (!session) {
            return fail(HttpFailure::kConnect);
        }
        // WinHTTP's own defaults wait forever for name resolution and 30 s per receive.
        WinHttpSetTimeouts(session.get(), request.connectTimeoutMs, request.connectTimeoutMs,
                           request.totalTimeoutMs, request.totalTimeoutMs);
        Handle connection(WinHttpConnect(session.get(), host.c_str(),
                                         static_cast<INTERNET_PORT>(request.endpoint.port), 0));
        if (!connection) {
            return fail(HttpFailure::kConnect);
        }
        Handle exchange(WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           request.endpoint.secure ? WINHTTP_FLAG_SECURE : 0));
        if (!exchange) {
            return fail(HttpFailure::kConnect);
        }
        // WinHTTP has no whole-exchange time-out: each later step gets what is left of it.
        auto shortenTimeouts = [&]() {
            ULONGLONG now = GetTickCount64();
            if (now >= deadline) {
                SetLastError(ERROR_WINHTTP_TIMEOUT);
                return false;
            }
            DWORD left = static_cast<DWORD>(deadline - now);
            WinHttpSetOption(exchange.get(), WINHTTP_OPTION_SEND_TIMEOUT, &left, sizeof(left));
            WinHttpSetOption(exchange.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, &left, sizeof(left));
            WinHttpSetOption(exchange.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &left,
                             sizeof(left));
            return true;
        };
        if (!shortenTimeouts()) {
            return fail(HttpFailure::kConnect);
        }
        // The answer comes from the host asked, or not at all: a redirect could hand the
        // launcher a file from anywhere (curl does not follow them either).
        DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        WinHttpSetOption(exchange.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirects,
                         sizeof(redirects));
        std::wstring headers;
        if (!request.teamKey.empty()) {
            headers = widen(std::string(kTeamKeyHeader) + ": " + request.teamKey);
        }
        if (!WinHttpSendRequest(
                exchange.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                headers.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
            !WinHttpReceiveResponse(exchange.get(), nullptr)) {
            return fail(HttpFailure::kConnect);
        }

        DWORD status = 0;
        DWORD statusSize = sizeof(status);
        if (WinHttpQueryHeaders(
                exchange.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX)) {
            response.status = static_cast<int>(status);
        }

        std::vector<char> chunk;
        for (;;) {
            DWORD available = 0;
            if (!shortenTimeouts()) {
                return fail(HttpFailure::kReadData);
            }
            if (!WinHttpQueryDataAvailable(exchange.get(), &available)) {
                return fail(HttpFailure::kQueryData);
            }
            if (available == 0) {
                break;
            }
            if (request.maxBodyBytes != 0 &&
                response.body.size() + available > request.maxBodyBytes) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return fail(HttpFailure::kReadData);
            }
            chunk.assign(available, 0);
            DWORD read = 0;
            if (!WinHttpReadData(exchange.get(), chunk.data(), available, &read)) {
                return fail(HttpFailure::kReadData);
            }
            if (read == 0) {
                break;
            }
            response.body.append(chunk.data(), read);
        }
        // A connection closed before the promised length is a cut body, not a short file.
        wchar_t lengthText[32] = {0};
        DWORD lengthSize = sizeof(lengthText);
        if (WinHttpQueryHeaders(exchange.get(), WINHTTP_QUERY_CONTENT_LENGTH,
                                WINHTTP_HEADER_NAME_BY_INDEX, lengthText, &lengthSize,
                                WINHTTP_NO_HEADER_INDEX)) {
            const unsigned long long promised = std::wcstoull(lengthText, nullptr, 10);
            if (promised != response.body.size()) {
                SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
                return fail(HttpFailure::kReadData);
            }
        }
        return response;
    }
};

}  // namespace

HttpTransport& systemHttpTransport() {
    static WinHttpTransport transport;
    return transport;
}

}  // namespace platform
