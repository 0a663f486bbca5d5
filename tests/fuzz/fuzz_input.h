#pragma once
// What the fuzz targets and their seed generators share: the byte reader that splits one
// fuzz input into the parts a target needs, the property check, the scratch path and the seed
// list type.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace fuzzing {

// Reads an input front to back; once it runs dry every read answers zero or empty, so any
// input at all decodes to something.
class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t remaining() const { return size_ - pos_; }
    bool empty() const { return pos_ >= size_; }

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    template <typename T>
    T value() {
        T v{};
        size_t n = remaining() < sizeof v ? remaining() : sizeof v;
        if (n > 0) {
            std::memcpy(&v, data_ + pos_, n);
        }
        pos_ += n;
        return v;
    }

    // The bytes up to the next `separator` (which is consumed), or all that is left.
    std::string until(char separator) {
        std::string out;
        while (pos_ < size_) {
            char c = static_cast<char>(data_[pos_++]);
            if (c == separator) {
                break;
            }
            out += c;
        }
        return out;
    }

    std::string rest() {
        std::string out(reinterpret_cast<const char*>(data_ + pos_), remaining());
        pos_ = size_;
        return out;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// A property that does not hold stops the run, so the fuzzer keeps the input; the message says
// which property and what it was checked on.
inline void check(bool holds, const char* what, const std::string& on = "") {
    if (!holds) {
        std::fprintf(stderr, "fuzz: %s%s%.300s\n", what, on.empty() ? "" : "\non: ", on.c_str());
        std::abort();
    }
}

// A path of this process's own for a target's scratch files, in memory where the machine has it.
inline std::filesystem::path scratchPath(const std::string& name) {
    const std::filesystem::path dir = std::filesystem::exists("/dev/shm")
                                          ? std::filesystem::path("/dev/shm")
                                          : std::filesystem::temp_directory_path();
    return dir / ("korvane-" + name + "-" + std::to_string(::getpid()));
}

// Named seed inputs of one target.
using Seeds = std::vector<std::pair<std::string, std::string>>;

// Appends the raw bytes of `v` to `out` (the encoders of the seed generators).
template <typename T>
void put(std::string& out, const T& v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

}  // namespace fuzzing

// One per target, in <target>_seeds.cpp.
fuzzing::Seeds telemetry_block_fuzzSeeds();
fuzzing::Seeds session_query_fuzzSeeds();
fuzzing::Seeds snapshot_index_fuzzSeeds();
fuzzing::Seeds settings_fuzzSeeds();
fuzzing::Seeds link_answer_fuzzSeeds();
fuzzing::Seeds launcher_version_fuzzSeeds();
fuzzing::Seeds racedata_request_fuzzSeeds();
