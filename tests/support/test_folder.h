#pragma once
// A scratch folder of the running test's own, empty at the start, so that tests run in
// parallel (ctest -j) never read each other's settings or logs.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace testsupport {

inline std::filesystem::path freshTestFolder(const std::string& prefix) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name) {
        if (c == '/') {
            c = '_';  // parameterised tests
        }
    }
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / (prefix + "_" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace testsupport
