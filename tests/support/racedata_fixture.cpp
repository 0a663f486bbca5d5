#include "support/racedata_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>

#ifdef KORVANE_INPROCESS_SERVICE
#include <httplib.h>

#include "tools/racedata/service.h"
#endif

namespace testsupport {
namespace {

namespace fs = std::filesystem;

std::optional<RaceDataServiceInfo> current;

// The value of an environment variable, "" when unset.
std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

class RaceDataEnvironment : public ::testing::Environment {
  public:
    RaceDataEnvironment(std::string folderPrefix,
                        std::vector<std::pair<std::string, std::string>> versions)
        : folderPrefix_(std::move(folderPrefix)), versions_(std::move(versions)) {}

    void SetUp() override {
        RaceDataServiceInfo info;
        std::string port = environment("KORVANE_RACEDATA_PORT");
        if (!port.empty()) {
            info.port = std::atoi(port.c_str());
            info.secure = environment("KORVANE_RACEDATA_SECURE") != "0";
            info.certificate = environment("KORVANE_RACEDATA_CERT");
            info.requestLog = hostPath(environment("KORVANE_RACEDATA_REQUEST_LOG"));
            info.files = hostPath(environment("KORVANE_RACEDATA_FILES"));
            current = info;
            return;
        }
#ifdef KORVANE_INPROCESS_SERVICE
        folder_ = fs::temp_directory_path() /
                  (folderPrefix_ + "_" + std::to_string(std::random_device{}()));
        fs::create_directories(folder_ / "files");
        racedata::ServiceOptions options;
        options.bindAddress = "127.0.0.1";
        options.port = 0;
        options.databasePath = (folder_ / "racedata.db").string();
        options.filesDirectory = (folder_ / "files").string();
        options.requestLogPath = (folder_ / "requests.log").string();
        // Tests ask from one address faster than any driver does.
        options.requestsPerSecond = 0;
        service_ = std::make_unique<racedata::RaceDataService>(options);
        ASSERT_EQ(service_->start(), "");
        for (const auto& [name, version] : versions_) {
            service_->store().publishVersion(name, version);
        }
        info.port = service_->port();
        info.certificate = service_->certificatePath();
        info.requestLog = options.requestLogPath;
        info.files = options.filesDirectory;
        current = info;
#else
        FAIL() << "run through tools/racedata/with-racedata-service.sh";
#endif
    }

    void TearDown() override {
#ifdef KORVANE_INPROCESS_SERVICE
        if (service_) {
            service_->stop();
            service_.reset();
            std::error_code ignored;
            fs::remove_all(folder_, ignored);
        }
#endif
        current.reset();
    }

  private:
    std::string folderPrefix_;
    std::vector<std::pair<std::string, std::string>> versions_;
#ifdef KORVANE_INPROCESS_SERVICE
    fs::path folder_;
    std::unique_ptr<racedata::RaceDataService> service_;
#endif
};

}  // namespace

const RaceDataServiceInfo* raceDataService() {
    return current ? &*current : nullptr;
}

void registerRaceDataService(std::string folderPrefix,
                             std::vector<std::pair<std::string, std::string>> versions) {
    ::testing::AddGlobalTestEnvironment(
        new RaceDataEnvironment(std::move(folderPrefix), std::move(versions)));
}

std::string hostPath(std::string path) {
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') {
        std::replace(path.begin(), path.end(), '/', '\\');
        path = "Z:" + path;
    }
#endif
    return path;
}

}  // namespace testsupport
