#pragma once
// An HTTP transport for unit tests: records every request and hands out scripted responses
// in order (the default response once the script runs out). Header-only; thread-safe.

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/http_client.h"

namespace testsupport {

class FakeHttpTransport : public platform::HttpTransport {
  public:
    static platform::HttpResponse answer(std::string body, int status = 200) {
        platform::HttpResponse response;
        response.status = status;
        response.body = std::move(body);
        return response;
    }
    static platform::HttpResponse failure(platform::HttpFailure failure, uint32_t errorCode) {
        platform::HttpResponse response;
        response.failure = failure;
        response.errorCode = errorCode;
        return response;
    }

    platform::HttpResponse get(const platform::HttpRequest& request) override {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        platform::HttpResponse next = defaultResponse_;
        if (!script_.empty()) {
            next = std::move(script_.front());
            script_.pop_front();
        }
        // As the system transports do: an answer over the caller's limit is a failed read.
        if (request.maxBodyBytes != 0 && next.body.size() > request.maxBodyBytes) {
            return failure(platform::HttpFailure::kReadData, 23);
        }
        return next;
    }

    void push(platform::HttpResponse response) {
        std::lock_guard<std::mutex> lock(mutex_);
        script_.push_back(std::move(response));
    }
    void setDefault(platform::HttpResponse response) {
        std::lock_guard<std::mutex> lock(mutex_);
        defaultResponse_ = std::move(response);
    }
    std::vector<platform::HttpRequest> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.clear();
        script_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<platform::HttpRequest> requests_;
    std::deque<platform::HttpResponse> script_;
    platform::HttpResponse defaultResponse_ = answer("");
};

// Installs a transport for the life of the scope and restores the system one afterwards.
class ScopedHttpTransport {
  public:
    explicit ScopedHttpTransport(platform::HttpTransport& transport) {
        platform::setHttpTransport(&transport);
    }
    ~ScopedHttpTransport() { platform::setHttpTransport(nullptr); }
    ScopedHttpTransport(const ScopedHttpTransport&) = delete;
    ScopedHttpTransport& operator=(const ScopedHttpTransport&) = delete;
};

}  // namespace testsupport
