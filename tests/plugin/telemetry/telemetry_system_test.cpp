// The reader attached by name to a block published through the platform's named mapping and
// event, as the simulator (or the simulator feed) publishes it.

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "platform/named_event.h"
#include "platform/shared_memory.h"
#include "plugin/telemetry/session_query.h"
#include "plugin/telemetry/telemetry_client.h"
#include "plugin/telemetry/telemetry_variable.h"
#include "tests/support/fake_simulator.h"
#include "tools/simblock/sim_block.h"

namespace {

// A publisher on real kernel objects.
struct Publisher {
    Publisher(const std::string& mapping, const std::string& event) {
        vars = testsupport::catalogueVarSpecs();
        simblock::BlockLayout layout = simblock::computeLayout(vars, options);
        memory = platform::createSharedMemory(mapping, layout.totalSize);
        signaller = platform::createNamedEvent(event);
        if (memory) {
            writer = std::make_unique<simblock::BlockWriter>(memory->data(), memory->size(), vars,
                                                             options);
        }
    }
    bool ok() const { return memory && signaller && writer && writer->ok(); }
    void publish() {
        writer->publish();
        signaller->signal();
    }

    std::vector<simblock::VarSpec> vars;
    simblock::BlockOptions options = testsupport::defaultFakeBlockOptions();
    std::unique_ptr<platform::SharedMemory> memory;
    std::unique_ptr<platform::NamedEventSignaller> signaller;
    std::unique_ptr<simblock::BlockWriter> writer;
};

std::string uniqueSuffix() {
    std::random_device rd;
    return std::to_string(rd()) + "_" + std::to_string(rd());
}

// Up to `rows` published rows until the reader has one to process.
bool deliver(Publisher& p, telemetry::TelemetryClient& client, int rows = 5) {
    for (int i = 0; i < rows; ++i) {
        p.publish();
        if (client.waitForTelemetry(16)) {
            return true;
        }
    }
    return false;
}

TEST(TelemetrySystem, ReaderAttachesByNameAndReadsRowsAndSessionText) {
    const std::string suffix = uniqueSuffix();
    const std::string mapping = "Local\\KorvaneTelemetryTest" + suffix;
    const std::string event = "Local\\KorvaneTelemetryTestEvent" + suffix;

    telemetry::TelemetryClient client(telemetry::makeSystemConnection(mapping, event));
    EXPECT_FALSE(client.openTelemetry()) << "nothing published under the name yet";

    Publisher pub(mapping, event);
    ASSERT_TRUE(pub.ok());
    ASSERT_TRUE(pub.writer->setSessionText(testsupport::sampleSessionText(20)));
    pub.writer->setConnected(true);
    pub.writer->setDouble("FuelLevel", 37.25);
    pub.writer->setInt("Lap", 12);
    pub.writer->setDouble("SessionTime", 1234.5);
    pub.writer->setBool("IsOnTrack", true);

    ASSERT_TRUE(client.openTelemetry()) << "the block and its event are there at once";
    ASSERT_TRUE(deliver(pub, client));
    EXPECT_TRUE(client.isTelemetryLive());
    EXPECT_GE(client.connection()->viewSize(), pub.writer->layout().totalSize);

    telemetry::TelemetryVariable fuel("FuelLevel", client), lap("Lap", client),
        time("SessionTime", client), onTrack("IsOnTrack", client);
    EXPECT_FLOAT_EQ(fuel.readFloat(), 37.25f);
    EXPECT_EQ(lap.readInt(), 12);
    EXPECT_DOUBLE_EQ(time.readDouble(), 1234.5);
    EXPECT_TRUE(onTrack.readBool());
    EXPECT_EQ(telemetry::querySessionValue(client, "DriverInfo:Drivers:CarIdx:{19}UserName:"), 1);
    EXPECT_STREQ(telemetry::QueryResult, "Driver 19");
    EXPECT_EQ(client.sessionInfoUpdate(), 1);

    // Next rows follow.
    pub.writer->setInt("Lap", 13);
    ASSERT_TRUE(deliver(pub, client, 2));
    EXPECT_EQ(lap.readInt(), 13);

    // The publisher goes away and a new one takes the name: the reader follows it.
    pub.writer->setConnected(false);
    EXPECT_FALSE(client.waitForTelemetry(16));
    EXPECT_FALSE(client.isTelemetryLive());
    pub.writer.reset();
    pub.memory.reset();
    Publisher next(mapping, event);
    ASSERT_TRUE(next.ok());
    next.writer->setConnected(true);
    next.writer->setInt("Lap", 1);
    ASSERT_TRUE(deliver(next, client));
    EXPECT_EQ(lap.readInt(), 1);
    client.closeTelemetry();
}

}  // namespace
