#include "tools/racedata/service.h"

#include <httplib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "tools/racedata/certificate.h"

namespace racedata {

namespace {

constexpr const char* kText = "text/plain";

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

    if (options_.plain) {
        server_ = std::make_unique<httplib::Server>();
    } else {
        if (options_.certificatePath.empty() != options_.keyPath.empty()) {
            return "give both a certificate and its key, or neither";
        }
        if (options_.certificatePath.empty()) {
            std::filesystem::path base(options_.databasePath);
            options_.certificatePath =
                std::filesystem::path(base).replace_extension(".crt").string();
            options_.keyPath = std::filesystem::path(base).replace_extension(".key").string();
            if (!std::filesystem::exists(options_.certificatePath) ||
                !std::filesystem::exists(options_.keyPath)) {
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
        server_ = std::move(secure);
    }

    int threads = options_.threads > 0 ? options_.threads : 1;
    server_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // Without it each TLS answer waits out the client's delayed acknowledgement (~40 ms).
    server_->set_tcp_nodelay(true);
    server_->set_read_timeout(5, 0);
    server_->set_write_timeout(5, 0);
    server_->set_payload_max_length(64 * 1024);
    installRoutes();
    if (!options_.requestLogPath.empty()) {
        requestLog_.open(options_.requestLogPath, std::ios::app);
        if (!requestLog_) {
            server_.reset();
            return "cannot write the request log " + options_.requestLogPath;
        }
        // Written before the answer goes out, so whoever got the answer finds the line.
        server_->set_post_routing_handler(
            [this](const httplib::Request& request, httplib::Response& response) {
                std::lock_guard<std::mutex> lock(logMutex_);
                requestLog_ << response.status << ' ' << request.target << ' '
                            << request.get_header_value("User-Agent") << '\n';
                requestLog_.flush();
            });
    }

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
    thread_ = std::thread([server] { server->listen_after_bind(); });
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

void RaceDataService::installRoutes() {
    httplib::Server& server = *server_;
    RaceStore& store = *store_;

    auto report = [&store](std::span<const Field> fields, bool data) {
        return
            [&store, fields, data](const httplib::Request& request, httplib::Response& response) {
                std::vector<FieldValue> values;
                std::string why = parseFields(fields, request.params, values);
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

    server.Get(R"(/files/R3/([^/]+))", [files](const httplib::Request& request,
                                               httplib::Response& response) {
        std::string name = request.matches[1];
        std::filesystem::path path = std::filesystem::path(files) / name;
        std::error_code error;
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
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty()) {
            response.set_content("Error " + std::to_string(response.status) + "\n", kText);
        }
    });
}

}  // namespace racedata
