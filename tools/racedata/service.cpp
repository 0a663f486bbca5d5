#include "tools/racedata/service.h"

#include <httplib.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "tools/racedata/certificate.h"
#include "tools/racedata/update_signer.h"

namespace racedata {

namespace {

constexpr const char* kText = "text/plain";
// The header the programs carry the "Service"/"TeamKey" setting in.
constexpr const char* kTeamKeyHeader = "X-Team-Key";

void reject(httplib::Response& response, const std::string& why) {
    response.status = 400;
    response.set_content("Bad request: " + why + "\n", kText);
}

void answer(httplib::Response& response, const std::string& body) {
    response.status = 200;
    response.set_content(body, kText);
}

std::string number(double value) {
    if (std::fabs(value) < 0.005) {
        value = 0;  // never "-0.00"
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// Only plain names from the files folder: nothing that could climb out of it.
// The versions a release put in the files folder ("NAME=VERSION" lines, see
// kPublishedVersionsFile): read at each query, so that a release published while the service
// runs is offered at once. Lines that are no such pair are passed over.
std::optional<std::string> publishedInFilesFolder(const std::string& filesDirectory,
                                                  const std::string& component) {
    std::ifstream in(std::filesystem::path(filesDirectory) / kPublishedVersionsFile);
    std::string line;
    std::optional<std::string> found;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto equals = line.find('=');
        double ignored = 0;
        if (equals == std::string::npos || line.compare(0, equals, component) != 0 ||
            equals != component.size() || !isDecimalReal(line.substr(equals + 1), ignored)) {
            continue;
        }
        found = line.substr(equals + 1);
    }
    return found;
}

bool isPlainFileName(const std::string& name) {
    if (name.empty() || name.size() > 128 || name[0] == '.') {
        return false;
    }
    for (char c : name) {
        bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-';
        if (!allowed) {
            return false;
        }
    }
    return true;
}

// Set on the thread that serves a connection beyond the limit: its request is answered 503.
thread_local bool servingOverflow = false;
// When the connection this thread serves was taken up.
thread_local std::chrono::steady_clock::time_point connectionStart;

// httplib's pool with a bound: a connection beyond `maxConnections` (those being served plus
// those waiting for a worker) is not queued behind the others but answered at once, on a
// thread of its own, that the service is busy. A flood of connections then costs the
// well-behaved clients a worker each at most, never the whole queue.
class BoundedTaskQueue final : public httplib::TaskQueue {
  public:
    BoundedTaskQueue(size_t threads, size_t maxConnections) : maxConnections_(maxConnections) {
        for (size_t i = 0; i < threads; ++i) {
            workers_.emplace_back([this] { work(queue_, false); });
        }
        workers_.emplace_back([this] { work(overflow_, true); });
    }
    ~BoundedTaskQueue() override { shutdown(); }

    void enqueue(std::function<void()> fn) override {
        bool overflow = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            overflow = inService_ >= maxConnections_;
            if (overflow) {
                overflow_.push_back(std::move(fn));
            } else {
                ++inService_;
                queue_.push_back(std::move(fn));
            }
        }
        (overflow ? overflowReady_ : ready_).notify_one();
    }

    void shutdown() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                return;
            }
            stopping_ = true;
        }
        ready_.notify_all();
        overflowReady_.notify_all();
        for (std::thread& worker : workers_) {
            worker.join();
        }
    }

  private:
    void work(std::deque<std::function<void()>>& queue, bool overflow) {
        // Named, so that a profile tells the service's time from its clients'.
        pthread_setname_np(pthread_self(), overflow ? "qrd-overflow" : "qrd-worker");
        servingOverflow = overflow;
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                (overflow ? overflowReady_ : ready_).wait(lock, [&] {
                    return stopping_ || !queue.empty();
                });
                if (queue.empty()) {
                    return;  // stopping, and everything accepted has been served
                }
                fn = std::move(queue.front());
                queue.pop_front();
            }
            connectionStart = std::chrono::steady_clock::now();
            fn();
            if (!overflow) {
                std::lock_guard<std::mutex> lock(mutex_);
                --inService_;
            }
        }
    }

    const size_t maxConnections_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable overflowReady_;
    std::deque<std::function<void()>> queue_;
    std::deque<std::function<void()>> overflow_;
    size_t inService_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

// Equal keys, in a time that does not tell how much of a guess was right.
bool sameKey(const std::string& given, const std::string& key) {
    unsigned char difference = given.size() == key.size() ? 0 : 1;
    for (size_t i = 0; i < given.size(); ++i) {
        difference |= static_cast<unsigned char>(given[i] ^ key[i % key.size()]);
    }
    return difference == 0;
}

std::string readTeamKey(const std::string& path, std::string& error) {
    std::ifstream in(path);
    std::string key;
    if (!in || !std::getline(in, key)) {
        error = "cannot read the team key file " + path;
        return "";
    }
    while (!key.empty() && (key.back() == '\r' || key.back() == ' ' || key.back() == '\t')) {
        key.pop_back();
    }
    for (char c : key) {
        if (c < 0x21 || c > 0x7e) {
            error = "the team key in " + path + " must be visible ASCII without blanks";
            return "";
        }
    }
    if (key.size() < 16) {
        error = "the team key in " + path + " is too short (16 characters at least)";
        return "";
    }
    return key;
}

}  // namespace

RaceDataService::RaceDataService(ServiceOptions options) : options_(std::move(options)) {}

RaceDataService::~RaceDataService() {
    stop();
}

std::string RaceDataService::start() {
    if (server_) {
        return "already started";
    }
    try {
        if (!store_) {
            store_ = std::make_unique<RaceStore>(options_.databasePath);
        }
    } catch (const StoreError& error) {
        return error.what();
    }

    if (!options_.signingKeyPath.empty()) {
        std::string error;
        signer_ = UpdateSigner::load(options_.signingKeyPath, error);
        if (!signer_) {
            return error;
        }
    }
    if (!options_.teamKeyPath.empty()) {
        std::string error;
        teamKey_ = readTeamKey(options_.teamKeyPath, error);
        if (!error.empty()) {
            return error;
        }
    }
    if (!options_.clockMs) {
        options_.clockMs = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
    }

    if (options_.plain) {
        server_ = std::make_unique<httplib::Server>();
    } else {
        if (options_.certificatePath.empty() != options_.keyPath.empty()) {
            return "give both a certificate and its key, or neither";
        }
        if (options_.certificatePath.empty()) {
            // Beside the SQLite file; with a PostgreSQL database, beside the files folder
            // (never in it: the key would be served).
            std::filesystem::path base =
                isPostgresUri(options_.databasePath)
                    ? std::filesystem::path(options_.filesDirectory).parent_path() / "racedata"
                    : std::filesystem::path(options_.databasePath);
            options_.certificatePath =
                std::filesystem::path(base).replace_extension(".crt").string();
            options_.keyPath = std::filesystem::path(base).replace_extension(".key").string();
            const bool made = std::filesystem::exists(options_.certificatePath) &&
                              std::filesystem::exists(options_.keyPath);
            if (made && certificateCanSignOthers(options_.certificatePath)) {
                // Made by an earlier version: whoever read its key could pass for any site to
                // a machine that trusts it. A leaf takes its place.
                std::printf(
                    " %s could sign certificates for any site; it is replaced by one that can "
                    "only serve this service. Trust the new one, and remove the old one "
                    "(\"Race-data service\") from any certificate store it was added to.\n",
                    options_.certificatePath.c_str());
            }
            if (!made || certificateCanSignOthers(options_.certificatePath)) {
                std::vector<std::string> names = options_.certificateNames;
                if (options_.bindAddress != "0.0.0.0" && options_.bindAddress != "::") {
                    names.push_back(options_.bindAddress);
                }
                std::string error =
                    makeSelfSignedCertificate(options_.certificatePath, options_.keyPath, names);
                if (!error.empty()) {
                    return error;
                }
                std::printf(" Made a self-signed certificate: %s\n",
                            options_.certificatePath.c_str());
            }
        }
        auto secure = std::make_unique<httplib::SSLServer>(options_.certificatePath.c_str(),
                                                           options_.keyPath.c_str());
        if (!secure->is_valid()) {
            return "cannot use the certificate " + options_.certificatePath + " and key " +
                   options_.keyPath;
        }
        // The programs make one request per connection, each on a new one, and keep one
        // session to resume the next with: a ticket is all they can use, the second one
        // OpenSSL sends by default is work for both sides that is thrown away.
        SSL_CTX_set_num_tickets(secure->ssl_context(), 1);
        server_ = std::move(secure);
    }

    const size_t threads = static_cast<size_t>(options_.threads > 0 ? options_.threads : 1);
    const size_t maxConnections =
        static_cast<size_t>(std::max(options_.maxConnections, options_.threads));
    server_->new_task_queue = [threads, maxConnections] {
        return new BoundedTaskQueue(threads, maxConnections);
    };
    // Without it each TLS answer waits out the client's delayed acknowledgement (~40 ms).
    server_->set_tcp_nodelay(true);
    const int timeoutMs = std::max(options_.requestTimeoutMs, 1);
    server_->set_read_timeout(timeoutMs / 1000, (timeoutMs % 1000) * 1000);
    server_->set_write_timeout(5, 0);
    // httplib waits this long for every request of a connection, the first included.
    server_->set_keep_alive_timeout((timeoutMs + 999) / 1000);
    server_->set_payload_max_length(static_cast<size_t>(std::max(options_.maxRequestBytes, 1)));
    if (!options_.requestLogPath.empty()) {
        requestLog_.open(options_.requestLogPath, std::ios::app);
        if (!requestLog_) {
            server_.reset();
            return "cannot write the request log " + options_.requestLogPath;
        }
        // Written before the answer goes out, so whoever got the answer finds the line.
        server_->set_post_routing_handler(
            [this](const httplib::Request& request, httplib::Response& response) {
                logRequest(std::to_string(response.status) + ' ' + request.target + ' ' +
                           request.get_header_value("User-Agent"));
            });
    }
    installLimits();
    installRoutes();

    if (options_.port == 0) {
        port_ = server_->bind_to_any_port(options_.bindAddress);
    } else {
        port_ = server_->bind_to_port(options_.bindAddress, options_.port) ? options_.port : -1;
    }
    if (port_ <= 0) {
        server_.reset();
        port_ = 0;
        return "cannot listen on " + options_.bindAddress + " port " +
               std::to_string(options_.port);
    }
    httplib::Server* server = server_.get();
    auto listening = std::make_shared<std::atomic<bool>>(false);
    thread_ = std::thread([server, listening] {
        server->listen_after_bind();
        listening->store(true);
    });
    // A stop() that came before the loop was running would not end it: wait for the loop (or
    // its end, when it could not run at all).
    while (!server->is_running() && !listening->load()) {
        std::this_thread::yield();
    }
    return "";
}

void RaceDataService::stop() {
    if (!server_) {
        return;
    }
    server_->stop();
    if (thread_.joinable()) {
        thread_.join();
    }
    server_.reset();
}

void RaceDataService::logRequest(const std::string& line) {
    std::lock_guard<std::mutex> lock(logMutex_);
    if (!requestLog_.is_open()) {
        return;
    }
    // A line per request, however large the request was.
    constexpr size_t kMaxLine = 600;
    requestLog_ << (line.size() > kMaxLine ? line.substr(0, kMaxLine) + "..." : line) << '\n';
    requestLog_.flush();
    if (requestLog_.tellp() >= options_.requestLogMaxBytes) {
        // One older file is kept; the log never grows past twice its limit.
        requestLog_.close();
        std::error_code error;
        std::filesystem::rename(options_.requestLogPath, options_.requestLogPath + ".1", error);
        requestLog_.open(options_.requestLogPath, std::ios::trunc);
        if (error || !requestLog_) {
            std::fprintf(stderr, " Race-data service: cannot rotate the request log %s\n",
                         options_.requestLogPath.c_str());
        }
    }
}

// A token bucket per client address, refilled at requestsPerSecond.
bool RaceDataService::withinRate(const std::string& client) {
    if (options_.requestsPerSecond <= 0) {
        return true;
    }
    const double rate = options_.requestsPerSecond;
    const int64_t now = options_.clockMs();
    std::lock_guard<std::mutex> lock(rateMutex_);
    if (buckets_.size() > 10000) {
        // Forget clients that have been quiet long enough to have a full bucket again.
        for (auto it = buckets_.begin(); it != buckets_.end();) {
            it = now - it->second.lastMs > 1000 ? buckets_.erase(it) : std::next(it);
        }
    }
    auto [it, fresh] = buckets_.try_emplace(client, Bucket{rate, now});
    Bucket& bucket = it->second;
    if (!fresh) {
        bucket.tokens = std::min(rate, bucket.tokens + (now - bucket.lastMs) * rate / 1000.0);
        bucket.lastMs = now;
    }
    if (bucket.tokens < 1.0) {
        return false;
    }
    bucket.tokens -= 1.0;
    return true;
}

void RaceDataService::installLimits() {
    server_->set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            auto refuse = [&](int status, const char* text) {
                response.status = status;
                response.set_header("Connection", "close");
                response.set_content(text, kText);
                return httplib::Server::HandlerResponse::Handled;
            };
            if (servingOverflow) {
                return refuse(503, "Busy: too many connections\n");
            }
            size_t size = request.method.size() + request.target.size() + request.body.size();
            for (const auto& [name, value] : request.headers) {
                size += name.size() + value.size() + 4;
            }
            if (size > static_cast<size_t>(options_.maxRequestBytes)) {
                return refuse(413, "Request too large\n");
            }
            if (!withinRate(request.remote_addr)) {
                return refuse(429, "Too many requests\n");
            }
            if (!teamKey_.empty() && !sameKey(request.get_header_value(kTeamKeyHeader), teamKey_)) {
                std::fprintf(stderr, " Refused a request without the team key from %s: %s\n",
                             request.remote_addr.c_str(), request.path.c_str());
                return refuse(401, "Team key required\n");
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
}

void RaceDataService::installRoutes() {
    httplib::Server& server = *server_;
    RaceStore& store = *store_;

    auto report = [&store](std::span<const Field> fields, bool data) {
        return
            [&store, fields, data](const httplib::Request& request, httplib::Response& response) {
                std::vector<FieldValue> values;
                std::string why = parseFields(fields, request.params, values);
                if (why.empty()) {
                    why = implausibleFuel(fields, values);
                }
                if (!why.empty()) {
                    reject(response, why);
                    return;
                }
                if (data) {
                    store.insertDataReport(values);
                } else {
                    store.insertLapReport(values);
                }
                answer(response, "1");
            };
    };
    server.Get(R"(/qrd/data\.php)", report(dataReportFields(), true));
    server.Get(R"(/qrd/lap\.php)", report(lapReportFields(), false));

    server.Get(R"(/qrd/api\.php)",
               [&store](const httplib::Request& request, httplib::Response& response) {
                   if (request.params.count("c") != 1) {
                       reject(response, "give one command 'c'");
                       return;
                   }
                   const std::string command = request.params.find("c")->second;
                   auto integers = [&](std::initializer_list<const char*> keys, int64_t* out) {
                       for (const char* key : keys) {
                           std::string why = parseIntParameter(request.params, key, *out++);
                           if (!why.empty()) {
                               reject(response, why);
                               return false;
                           }
                       }
                       return true;
                   };
                   int64_t v[4] = {};
                   if (command == "getpreviousfuelburn") {
                       if (integers({"cid", "tid", "did", "sft"}, v)) {
                           answer(response, number(store.previousFuelBurn(v[0], v[1], v[2], v[3])));
                       }
                   } else if (command == "qrdtireschange") {
                       if (integers({"s", "r", "f"}, v)) {
                           answer(response, std::to_string(store.tiresChange(v[0], v[1], v[2])));
                       }
                   } else if (command == "qrdweatherchange") {
                       if (integers({"s", "r", "f"}, v)) {
                           answer(response, number(store.weatherChange(v[0], v[1])));
                       }
                   } else {
                       reject(response, "unknown command '" + command + "'");
                   }
               });

    std::string files = options_.filesDirectory;
    server.Get(R"(/qrd/getpubver\.php)",
               [&store, files](const httplib::Request& request, httplib::Response& response) {
                   if (request.params.count("platform") != 1) {
                       reject(response, "give one 'platform'");
                       return;
                   }
                   const std::string& component = request.params.find("platform")->second;
                   auto version = publishedInFilesFolder(files, component);
                   if (!version) {
                       version = store.publishedVersion(component);
                   }
                   answer(response, version ? *version : "0");
               });

    const UpdateSigner* signer = signer_.get();
    server.Get(R"(/files/R3/([^/]+))", [files, signer](const httplib::Request& request,
                                                       httplib::Response& response) {
        std::string name = request.matches[1];
        std::error_code error;
        // With a signing key, "<name>.sig" is made from "<name>" as it is now, so a file
        // and its signature can never drift apart.
        const std::string signedName =
            name.size() > 4 && name.ends_with(".sig") ? name.substr(0, name.size() - 4) : "";
        if (signer && !signedName.empty() && isPlainFileName(signedName) &&
            std::filesystem::is_regular_file(std::filesystem::path(files) / signedName, error)) {
            std::ifstream in(std::filesystem::path(files) / signedName, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
            std::string signature = in.good() || in.eof() ? signer->sign(bytes) : "";
            if (signature.empty()) {
                response.status = 500;
                response.set_content("Cannot sign the file\n", kText);
                return;
            }
            response.status = 200;
            response.set_content(std::move(signature), "application/octet-stream");
            return;
        }
        std::filesystem::path path = std::filesystem::path(files) / name;
        if (!isPlainFileName(name) || !std::filesystem::is_regular_file(path, error)) {
            response.status = 404;
            response.set_content("Not found\n", kText);
            return;
        }
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            response.status = 500;
            response.set_content("Cannot read the file\n", kText);
            return;
        }
        response.status = 200;
        response.set_content(std::move(bytes), "application/octet-stream");
    });

    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr failure) {
            std::string why = "unknown error";
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& e) {
                why = e.what();
            } catch (...) {
            }
            std::fprintf(stderr, " Race-data service error: %s\n", why.c_str());
            response.status = 500;
            response.set_content("Internal error\n", kText);
        });
    const auto timeout = std::chrono::milliseconds(std::max(options_.requestTimeoutMs, 1));
    server.set_error_handler([timeout](const httplib::Request&, httplib::Response& response) {
        // httplib reports a request that did not arrive in time as a bad one.
        if (response.status == 400 && response.body.empty() &&
            std::chrono::steady_clock::now() - connectionStart >= timeout) {
            response.status = 408;
            response.set_header("Connection", "close");
        }
        if (response.body.empty()) {
            response.set_content("Error " + std::to_string(response.status) + "\n", kText);
        }
    });
}

}  // namespace racedata
