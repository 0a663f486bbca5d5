#pragma once
// The race-data web service: the plugin's reports and questions, the launcher's version
// query and update files, over HTTPS (or plain HTTP when asked), backed by RaceStore.

#include <fstream>
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

// A release's published versions, "NAME=VERSION" lines in the files folder (written by
// `dev.sh publish`). A version named there is answered before one stored with --publish.
inline constexpr const char* kPublishedVersionsFile = "Qm_Korvane_Published.txt";

struct ServiceOptions {
    std::string bindAddress = "0.0.0.0";
    int port = 443;  // 0: any free port, see RaceDataService::port()
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
    // When set, one line per request is appended: "<status> <target> <user agent>".
    std::string requestLogPath;
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

    ServiceOptions options_;
    std::unique_ptr<RaceStore> store_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex logMutex_;
    std::ofstream requestLog_;
};

}  // namespace racedata
