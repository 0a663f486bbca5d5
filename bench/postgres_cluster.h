#pragma once
// A throw-away PostgreSQL server of the benchmarks' own: a new cluster in a temporary
// folder, reached over a unix socket in that folder only (no TCP, no system service touched),
// stopped and removed with the object. As root the server runs as "nobody", as PostgreSQL
// refuses to run as root.

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tools/racedata/database.h"

namespace benchsupport {

class PostgresCluster {
  public:
    // Starts a cluster on `port` (the name of its socket); nullptr with `why` set when it
    // cannot. Commits wait for the disk, as in production.
    static std::unique_ptr<PostgresCluster> start(int port, std::string& why) {
        namespace fs = std::filesystem;
        std::vector<fs::path> found;  // the newest installed version's programs are taken
        std::error_code error;
        for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
            if (fs::exists(entry.path() / "bin" / "postgres")) {
                found.push_back(entry.path() / "bin");
            }
        }
        std::sort(found.begin(), found.end());
        const std::string bin = found.empty() ? "" : found.back().string();
        if (bin.empty()) {
            why =
                "PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/postgres; "
                "./dev.sh setup installs it)";
            return nullptr;
        }
        std::unique_ptr<PostgresCluster> cluster(new PostgresCluster(bin, port));
        why = cluster->begin();
        return why.empty() ? std::move(cluster) : nullptr;
    }

    ~PostgresCluster() {
        if (started_) {
            run(bin_ + "/pg_ctl stop -D " + data() + " -m immediate -w >/dev/null 2>&1");
        }
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    std::string uri(const std::string& database) const {
        return "postgresql://korvane@/" + database + "?host=" + folder_.string() +
               "&port=" + std::to_string(port_);
    }

    // A new, empty database on the cluster; its URI.
    std::string newDatabase() {
        static std::atomic<int> count{0};
        const std::string name = "korvane_" + std::to_string(++count);
        racedata::connect(uri("postgres"))->script("CREATE DATABASE " + name);
        return uri(name);
    }

    // The cluster's data folder (its postmaster.pid names the server process).
    std::string data() const { return (folder_ / "data").string(); }

  private:
    PostgresCluster(std::string bin, int port) : bin_(std::move(bin)), port_(port) {
        folder_ = std::filesystem::temp_directory_path() /
                  ("korvane_pg_" + std::to_string(std::random_device{}()));
    }

    int run(const std::string& command) const {
        std::string line = "cd " + folder_.string() + " && " + command;
        if (::geteuid() == 0) {
            line = "runuser -u nobody -- sh -c '" + line + "'";
        }
        return std::system(line.c_str());
    }

    std::string begin() {
        namespace fs = std::filesystem;
        std::error_code error;
        fs::create_directories(folder_, error);
        if (error) {
            return "cannot make " + folder_.string();
        }
        if (::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody || ::chown(folder_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
                return "cannot hand " + folder_.string() + " to the user nobody";
            }
        }
        const std::string log = (folder_ / "server.log").string();
        if (run(bin_ + "/initdb -D " + data() + " -U korvane -A trust -E UTF8 --no-sync >" + log +
                " 2>&1") != 0) {
            std::ifstream in(log);
            return "initdb failed: " + std::string((std::istreambuf_iterator<char>(in)), {});
        }
        const std::string options = "-p " + std::to_string(port_) + " -k " + folder_.string() +
                                    " -c listen_addresses= -c max_connections=300";
        if (run(bin_ + "/pg_ctl start -w -D " + data() + " -l " + log + " -o \"" + options +
                "\" >/dev/null 2>&1") != 0) {
            std::ifstream in(log);
            std::string text((std::istreambuf_iterator<char>(in)), {});
            return "the PostgreSQL server did not start: " + text;
        }
        started_ = true;
        return "";
    }

    std::string bin_;
    int port_;
    std::filesystem::path folder_;
    bool started_ = false;
};

}  // namespace benchsupport
