// Qm_Korvane_RaceData: a self-hostable race-data web service for the plugin and the launcher.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/racedata/service.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

void usage() {
    std::printf(
        "usage: Qm_Korvane_RaceData [options]\n"
        "  --bind ADDRESS          address to listen on (default 0.0.0.0)\n"
        "  --port N                port (default 443; 0 picks a free one)\n"
        "  --database PATH         SQLite database (default Qm_Korvane_RaceData.db)\n"
        "  --files DIR             folder served as /files/R3/ (default files)\n"
        "  --cert PATH --key PATH  TLS certificate and key (default: made beside the database)\n"
        "  --cert-name NAME        extra host name or address for a made certificate\n"
        "  --plain                 plain HTTP instead of HTTPS\n"
        "  --publish NAME=VERSION  publish a component version (Launcher, Plugin)\n"
        "  --port-file PATH        write the port listened on to PATH once serving\n"
        "  --threads N             worker threads (default 16)\n"
        "  --request-log PATH      append one line per request to PATH\n");
}

bool writePortFile(const std::string& path, int port) {
    std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << port << "\n";
        if (!out.good()) {
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    return !error;
}

}  // namespace

int main(int argc, char** argv) {
    racedata::ServiceOptions options;
    std::string portFile;
    std::vector<std::pair<std::string, std::string>> publish;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, " Missing value after %s\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--bind") {
            options.bindAddress = value();
        } else if (arg == "--port") {
            options.port = std::atoi(value().c_str());
        } else if (arg == "--database") {
            options.databasePath = value();
        } else if (arg == "--files") {
            options.filesDirectory = value();
        } else if (arg == "--cert") {
            options.certificatePath = value();
        } else if (arg == "--key") {
            options.keyPath = value();
        } else if (arg == "--cert-name") {
            options.certificateNames.push_back(value());
        } else if (arg == "--plain") {
            options.plain = true;
        } else if (arg == "--threads") {
            options.threads = std::atoi(value().c_str());
        } else if (arg == "--request-log") {
            options.requestLogPath = value();
        } else if (arg == "--port-file") {
            portFile = value();
        } else if (arg == "--publish") {
            std::string item = value();
            auto equals = item.find('=');
            double ignored = 0;
            if (equals == std::string::npos || equals == 0 ||
                !racedata::isDecimalReal(item.substr(equals + 1), ignored)) {
                std::fprintf(stderr, " --publish wants NAME=VERSION with a decimal version\n");
                return 2;
            }
            publish.emplace_back(item.substr(0, equals), item.substr(equals + 1));
        } else if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        } else {
            std::fprintf(stderr, " Unknown option %s\n", arg.c_str());
            usage();
            return 2;
        }
    }
    if (options.port < 0 || options.port > 65535) {
        std::fprintf(stderr, " Port %d is out of range\n", options.port);
        return 2;
    }

    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);

    racedata::RaceDataService service(options);
    std::string error = service.start();
    if (!error.empty()) {
        std::fprintf(stderr, " Race-data service cannot start: %s\n", error.c_str());
        return 1;
    }
    for (const auto& [component, version] : publish) {
        service.store().publishVersion(component, version);
    }
    std::printf(" Race-data service listening on %s://%s:%d (database %s)\n",
                options.plain ? "http" : "https", options.bindAddress.c_str(), service.port(),
                options.databasePath.c_str());
    std::fflush(stdout);
    if (!portFile.empty() && !writePortFile(portFile, service.port())) {
        std::fprintf(stderr, " Cannot write the port file %s\n", portFile.c_str());
        return 1;
    }
    while (!stopRequested) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    service.stop();
    std::printf(" Race-data service stopped.\n");
    return 0;
}
