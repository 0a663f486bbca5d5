#pragma once
// The field of cars: who drives them and how fast they are. Made once per run from the
// scenario and its seed, so the same scenario always meets the same rivals.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tools/simfeed/scenario.h"

namespace simfeed {

// A deterministic random source that gives the same numbers on every platform (the
// distributions of the standard library may differ between implementations).
class Random {
  public:
    explicit Random(uint32_t seed) : engine_(seed) {}
    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(engine_() >> 5) / 134217728.0; }
    // Uniform in [-1, 1).
    double symmetric() { return uniform() * 2.0 - 1.0; }
    int below(int n) { return n <= 0 ? 0 : static_cast<int>(uniform() * n); }

  private:
    std::mt19937 engine_;
};

struct FieldEntry {
    int carIdx = 0;
    std::string userName;
    std::string abbrevName;
    std::string initials;
    int userId = 0;
    std::string carNumber;
    int iRating = 0;
    std::string licString;
    int gridPosition = 1;  // 1 = pole
    double pace = 1.0;     // lap time factor: below 1 is faster than the player's reference
    bool isPlayer = false;
};

std::vector<FieldEntry> makeField(const Scenario& s);

}  // namespace simfeed
