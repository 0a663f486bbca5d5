#pragma once
// The simulator feed under test: its race model run in the test's process and each sampled row
// handed to the plugin's own reader through an in-memory block (ModelReader), so the tests
// check the rows as the race engineer sees them.

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "plugin/telemetry/telemetry_client.h"
#include "plugin/telemetry/telemetry_variable.h"
#include "tests/support/fake_simulator.h"
#include "tests/support/virtual_clock.h"
#include "tools/simfeed/feed_row.h"
#include "tools/simfeed/race_model.h"

namespace simfeedtest {

class ModelReader {
  public:
    explicit ModelReader(const simfeed::Scenario& s)
        : model(s),
          sim(simfeed::feedVariables(), options()),
          writer(simfeed::feedVariables(), sim.writer().layout()),
          scope(clock) {
        sim.attach(client);
        sim.setConnected(true);
        writer.attach(&sim.writer().stagingRow());
        publish();
        // A fresh attachment takes a row or two before the first one is processed.
        sim.deliver(client);
    }

    // Steps the model and delivers the newest row to the reader; false when the reader did
    // not take it.
    bool advance(int ticks) {
        for (int i = 0; i < ticks; ++i) {
            model.step();
        }
        return publish();
    }

    bool publish() {
        if (model.sessionTextRevision() != revision) {
            revision = model.sessionTextRevision();
            sim.setSessionText(model.sessionText());
        }
        simfeed::writeRow(model, writer);
        return sim.deliver(client);
    }

    double read(const char* name) { return variable(name).readDouble(); }
    int readInt(const char* name) { return variable(name).readInt(); }
    bool readBool(const char* name) { return variable(name).readBool(); }

    simfeed::RaceModel model;
    testsupport::VirtualClock clock;
    testsupport::FakeSimulator sim;
    telemetry::TelemetryClient client{nullptr};
    simfeed::RowWriter writer;

  private:
    // Kept across rows, as the engineer keeps its variables, so each name is looked up once.
    telemetry::TelemetryVariable& variable(const char* name) {
        auto it = variables_.find(name);
        if (it == variables_.end()) {
            it = variables_
                     .emplace(name, std::make_unique<telemetry::TelemetryVariable>(name, client))
                     .first;
        }
        return *it->second;
    }
    static simblock::BlockOptions options() {
        simblock::BlockOptions o;
        o.sessionCapacity = 512 * 1024;
        return o;
    }
    testsupport::ScopedClock scope;
    int revision = -1;
    std::map<std::string, std::unique_ptr<telemetry::TelemetryVariable>> variables_;
};

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
