// The fuzz target as an ordinary test: its generated seeds, then every file of the folders
// given on the command line (the kept corpus and the regression inputs). A fault aborts
// through the sanitizers or the target's own checks; the input is named first.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

void run(const std::string& name, const std::string& bytes) {
    std::fprintf(stderr, "input %s (%zu bytes)\n", name.c_str(), bytes.size());
    // A copy of exactly the input's size, so a read past its end is caught.
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(copy.empty() ? nullptr : copy.data(), copy.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) {
        LLVMFuzzerInitialize(&argc, &argv);
    }
    int count = 0;
    for (const auto& [name, bytes] : KORVANE_FUZZ_SEEDS()) {
        run("seed " + name, bytes);
        ++count;
    }
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        if (!std::filesystem::is_directory(argv[i], ec)) {
            continue;
        }
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
                files.push_back(entry.path());
            }
        }
        std::sort(files.begin(), files.end());
        for (const auto& path : files) {
            std::ifstream in(path, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
            run(path.string(), bytes);
            ++count;
        }
    }
    std::fprintf(stderr, "%d inputs replayed without a fault\n", count);
    return 0;
}
