#pragma once
// A scratch folder of the running test's own, empty at the start, so that tests run in
// parallel (ctest -j) never read each other's settings or logs.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace testsupport {

// One root per test process, gone when it ends: two checkouts running the same test program at
// once would otherwise wipe each other's folders.
inline const std::filesystem::path& processTestRoot() {
    struct Root {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("korvane_tests_" + std::to_string(std::random_device{}()));
        ~Root() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    };
    static const Root root;
    return root.path;
}

inline std::filesystem::path freshTestFolder(const std::string& prefix) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    std::replace(name.begin(), name.end(), '/', '_');  // parameterised tests
    const std::filesystem::path dir = processTestRoot() / (prefix + "_" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace testsupport
