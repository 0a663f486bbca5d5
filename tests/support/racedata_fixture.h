#pragma once
// A real race-data service on 127.0.0.1 for a whole test program. Either the
// with-racedata-service.sh wrapper started it (and says where through KORVANE_RACEDATA_*
// variables), or, where the build links the service, it runs inside the test process.

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct RaceDataServiceInfo {
    int port = 0;
    bool secure = true;
    std::string certificate;  // empty over plain HTTP
    std::string requestLog;
    std::string files;  // the service's files folder
};

// The service of this test program, or nullptr before the environment is set up (or when it
// could not start: the environment's SetUp has failed the program then).
const RaceDataServiceInfo* raceDataService();

// Registers the environment that finds or starts the service. `folderPrefix` names the
// in-process service's scratch folder; `versions` are published there (the wrapper publishes
// with its own --publish options).
void registerRaceDataService(std::string folderPrefix,
                             std::vector<std::pair<std::string, std::string>> versions = {});

// The wrapper hands over POSIX paths; a Windows program reaches them through Wine's Z: drive.
std::string hostPath(std::string path);

}  // namespace testsupport
