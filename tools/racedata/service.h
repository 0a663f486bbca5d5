#pragma once
// The race-data web service: the plugin's reports and questions, the launcher's version
// query and update files, over HTTPS (or plain HTTP when asked), backed by RaceStore.

#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/racedata/race_store.h"

namespace httplib {
class Server;
}

namespace racedata {

class UpdateSigner;

// A release's published versions, "NAME=VERSION" lines in the files folder (written by
// `dev.sh publish`). A version named there is answered before one stored with --publish.
inline constexpr const char* kPublishedVersionsFile = "Qm_Korvane_Published.txt";

struct ServiceOptions {
    // Loopback only unless the operator names an address to serve a network on.
    std::string bindAddress = "127.0.0.1";
    int port = 443;  // 0: any free port, see RaceDataService::port()
    // A SQLite file, or a "postgresql://" URI shared by any number of instances.
    std::string databasePath = "Qm_Korvane_RaceData.db";
    // Served as "/files/R3/<name>".
    std::string filesDirectory = "files";
    bool plain = false;
    // Both empty: "<database>.crt" and "<database>.key", made on first start when missing.
    std::string certificatePath;
    std::string keyPath;
    // Host names and addresses the made certificate is valid for, besides the loopback ones.
    std::vector<std::string> certificateNames;
    int threads = 16;
    // When set, one line per request is appended: "<status> <target> <user agent>". Once the
    // file passes requestLogMaxBytes it is moved to "<path>.1" (replacing the one before) and
    // a new one begun.
    std::string requestLogPath;
    int64_t requestLogMaxBytes = 16 * 1024 * 1024;

    // PEM P-256 private key: "/files/R3/<name>.sig" is then the signature of "<name>".
    std::string signingKeyPath;
    // A file whose first line is the team key: every request without it in the X-Team-Key
    // header is answered 401. Empty: no key asked for.
    std::string teamKeyPath;

    // What one client may ask of the service; a client past a limit is answered 503 (too many
    // connections), 429 (too many requests), 413 (request too large) or, past the time
    // allowed for one request, has its connection closed; the others are served as before.
    int maxConnections = 64;      // open at once, being served or waiting for a worker
    int requestsPerSecond = 20;   // per client address, with bursts of as many; 0: no limit
    int maxRequestBytes = 8192;   // request line and headers (and any body)
    int requestTimeoutMs = 5000;  // to receive a whole request

    // Milliseconds of a steady clock; tests give their own.
    std::function<int64_t()> clockMs;
};

class RaceDataService {
  public:
    explicit RaceDataService(ServiceOptions options);
    ~RaceDataService();
    RaceDataService(const RaceDataService&) = delete;
    RaceDataService& operator=(const RaceDataService&) = delete;

    // Opens the database, makes the certificate when needed, binds the port and serves on a
    // thread of its own. Returns "" once requests are accepted, else the reason.
    std::string start();
    // Stops serving and waits for the requests in progress; the database stays open.
    void stop();

    int port() const { return port_; }
    const std::string& certificatePath() const { return options_.certificatePath; }
    RaceStore& store() { return *store_; }

  private:
    void installRoutes();
    void installLimits();
    void logRequest(const std::string& line);
    bool withinRate(const std::string& client);

    ServiceOptions options_;
    std::unique_ptr<RaceStore> store_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex logMutex_;
    std::ofstream requestLog_;
    std::unique_ptr<UpdateSigner> signer_;
    std::string teamKey_;

    struct Bucket {
        double tokens = 0;
        int64_t lastMs = 0;
    };
    std::mutex rateMutex_;
    std::map<std::string, Bucket> buckets_;
};

}  // namespace racedata
