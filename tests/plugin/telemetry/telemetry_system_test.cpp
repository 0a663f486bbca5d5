// The reader attached by name to a block published through the platform's named mapping and
// event, as the simulator (or the simulator feed) publishes it.

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "platform/named_event.h"
#include "platform/shared_memory.h"
#include "plugin/telemetry/telemetry_client.h"
#include "plugin/telemetry/telemetry_variable.h"
#include "tests/support/fake_simulator.h"
#include "tools/simblock/sim_block.h"

namespace {

// A publisher on real kernel objects.
struct Publisher {
    Publisher(const std::string& mapping, const std::string& event) {
        const simblock::BlockOptions options = testsupport::defaultFakeBlockOptions();
        const auto vars = testsupport::catalogueVarSpecs();
        memory =
            platform::createSharedMemory(mapping, simblock::computeLayout(vars, options).totalSize);
        signaller = platform::createNamedEvent(event);
        if (memory && signaller) {
            writer = std::make_unique<simblock::BlockWriter>(memory->data(), memory->size(), vars,
                                                             options);
            writer->setConnected(true);
        }
    }
    // Up to five rows until the reader has one to process.
    bool deliver(telemetry::TelemetryClient& client) {
        for (int i = 0; i < 5; ++i) {
            writer->publish();
            signaller->signal();
            if (client.waitForTelemetry(16)) {
                return true;
            }
        }
        return false;
    }

    std::unique_ptr<platform::SharedMemory> memory;
    std::unique_ptr<platform::NamedEventSignaller> signaller;
    std::unique_ptr<simblock::BlockWriter> writer;
};

TEST(TelemetrySystem, ReaderAttachesByNameReadsRowsAndFollowsARestartedPublisher) {
    const std::string suffix = std::to_string(std::random_device{}());
    const std::string mapping = "Local\\KorvaneTelemetryTest" + suffix;
    const std::string event = "Local\\KorvaneTelemetryTestEvent" + suffix;

    telemetry::TelemetryClient client(telemetry::makeSystemConnection(mapping, event));
    EXPECT_FALSE(client.openTelemetry()) << "nothing published under the name yet";

    auto pub = std::make_unique<Publisher>(mapping, event);
    ASSERT_NE(pub->writer, nullptr);
    ASSERT_TRUE(pub->writer->setSessionText(testsupport::sampleSessionText()));
    pub->writer->setDouble("FuelLevel", 37.25);
    pub->writer->setInt("Lap", 12);
    ASSERT_TRUE(client.openTelemetry()) << "the block and its event are there at once";
    ASSERT_TRUE(pub->deliver(client));
    EXPECT_GE(client.connection()->viewSize(), pub->writer->layout().totalSize);
    telemetry::TelemetryVariable fuel("FuelLevel", client), lap("Lap", client);
    EXPECT_FLOAT_EQ(fuel.readFloat(), 37.25f);
    EXPECT_EQ(lap.readInt(), 12);
    EXPECT_EQ(client.sessionInfoUpdate(), 1);

    // The publisher goes away and a new one takes the name: the reader follows it.
    pub->writer->setConnected(false);
    EXPECT_FALSE(client.waitForTelemetry(16));
    EXPECT_FALSE(client.isTelemetryLive());
    pub.reset();
    pub = std::make_unique<Publisher>(mapping, event);
    ASSERT_NE(pub->writer, nullptr);
    pub->writer->setInt("Lap", 13);
    ASSERT_TRUE(pub->deliver(client));
    EXPECT_EQ(lap.readInt(), 13);
    client.closeTelemetry();
}

}  // namespace
