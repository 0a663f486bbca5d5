#pragma once
// The scenarios shipped with the simulator feed, as its tests load them.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tools/simfeed/race_model.h"

namespace simfeedtest {

// The folder of the shipped scenarios, in the source tree.
inline std::string scenarioDir() {
    const char* src = std::getenv("KORVANE_SOURCE_DIR");
    return std::string(src != nullptr ? src : ".") + "/tools/simfeed/scenarios";
}

// The scenario shipped under tools/simfeed/scenarios/.
inline simfeed::Scenario shippedScenario(const std::string& name) {
    simfeed::ScenarioLoad load = simfeed::loadScenarioFile(scenarioDir() + "/" + name + ".ini");
    EXPECT_TRUE(load.scenario.has_value())
        << name << ": " << (load.errors.empty() ? "" : load.errors.front());
    return load.scenario.value_or(simfeed::defaultScenario());
}

}  // namespace simfeedtest
