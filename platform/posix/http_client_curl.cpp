// libcurl transport. No connection outlives a call, but each thread keeps its easy handle
// between calls: with it the parsed certificate store and the TLS session, so that a new
// connection to the same service resumes the session instead of a full handshake.

#include <curl/curl.h>

#include <fstream>
#include <iterator>
#include <mutex>
#include <string>

#include "platform/http_client.h"

namespace platform {

namespace {

struct Transfer {
    std::string* body;
    size_t limit;
    bool overLimit = false;
};

size_t collectBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    size_t bytes = size * count;
    if (transfer->limit != 0 && transfer->body->size() + bytes > transfer->limit) {
        transfer->overLimit = true;
        return 0;  // makes curl abort with CURLE_WRITE_ERROR
    }
    transfer->body->append(data, bytes);
    return bytes;
}

std::string urlFor(const HttpRequest& request) {
    std::string url = request.endpoint.secure ? "https://" : "http://";
    const std::string& host = request.endpoint.host;
    // An IPv6 literal needs brackets to be told apart from the port.
    if (host.find(':') != std::string::npos && host.front() != '[') {
        url.append("[").append(host).append("]");
    } else {
        url += host;
    }
    url.append(":").append(std::to_string(request.endpoint.port));
    if (request.path.empty() || request.path.front() != '/') {
        url += "/";
    }
    url += request.path;
    return url;
}

// The bytes of the certificate file `path` ("" for none, or when it cannot be read).
std::string fileBytes(const std::string& path) {
    std::string bytes;
    if (path.empty()) {
        return bytes;
    }
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return bytes;
}

// The calling thread's easy handle, made anew when the certificate authorities to trust are
// another file, or the same file saying something else: a store parsed from, or a session
// verified against, what the file said before must not be trusted after it changed. The file
// is small (a service's own certificate), so it is read again for each request rather than
// trusting its time stamp to tell a rewrite.
class ThreadHandle {
  public:
    ~ThreadHandle() { drop(); }

    CURL* forAuthorities(const std::string& caFile) {
        std::string authorities = fileBytes(caFile);
        if (curl_ && (caFile != caFile_ || authorities != authorities_)) {
            drop();
        }
        if (curl_) {
            curl_easy_reset(curl_);  // the options go; the store and session stay
            return curl_;
        }
        curl_ = curl_easy_init();
        caFile_ = caFile;
        authorities_ = std::move(authorities);
        return curl_;
    }
    // After a failure nothing of the exchange is kept.
    void drop() {
        if (curl_) {
            curl_easy_cleanup(curl_);
            curl_ = nullptr;
        }
    }

  private:
    CURL* curl_ = nullptr;
    std::string caFile_;
    std::string authorities_;
};

class CurlTransport final : public HttpTransport {
  public:
    HttpResponse get(const HttpRequest& request) override {
        // curl_global_init is not thread-safe; every later call is.
        static std::once_flag initialised;
        std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
        // An easy handle serves one thread at a time: one per thread, never shared.
        thread_local ThreadHandle handle;

        HttpResponse response;
        CURL* curl = handle.forAuthorities(request.endpoint.caCertificate);
        if (!curl) {
            response.failure = HttpFailure::kConnect;
            response.errorCode = CURLE_FAILED_INIT;
            return response;
        }
        Transfer transfer{&response.body, request.maxBodyBytes};
        std::string url = urlFor(request);
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(curl, CURLOPT_USERAGENT, request.userAgent.c_str());
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // called from worker threads too
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(request.connectTimeoutMs));
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.totalTimeoutMs));
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
        // One request per connection: the connection is closed when the call returns.
        curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, request.endpoint.secure ? "https" : "http");
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!request.endpoint.caCertificate.empty()) {
            curl_easy_setopt(curl, CURLOPT_CAINFO, request.endpoint.caCertificate.c_str());
            curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
        }
        curl_slist* headers = nullptr;
        if (!request.teamKey.empty()) {
            const std::string line = std::string(kTeamKeyHeader) + ": " + request.teamKey;
            headers = curl_slist_append(headers, line.c_str());
            curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        }
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);

        CURLcode code = curl_easy_perform(curl);
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        response.status = static_cast<int>(status);
        if (code != CURLE_OK) {
            // Without a status line nothing of the answer arrived: the exchange itself failed.
            response.failure = status == 0 ? HttpFailure::kConnect : HttpFailure::kReadData;
            response.errorCode = static_cast<uint32_t>(code);
            handle.drop();
        }
        curl_slist_free_all(headers);
        return response;
    }
};

}  // namespace

HttpTransport& systemHttpTransport() {
    static CurlTransport transport;
    return transport;
}

}  // namespace platform
