// The race-data service failing while the car stops: nothing listening, a service that never
// answers, a connection cut in the middle of an answer. Through the real tick, the real HTTP
// client and a real server on 127.0.0.1: each exchange gives up within the client's time-out
// with the link's error said, and the stop's once-per-stop work (BoxServiceDone) still happens.
// What the link makes of a status or a body is the link's own test, on the scripted transport.

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "plugin/engineer/race_state.h"
#include "plugin/links/web_service_link.h"
#include "support/race_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

enum class Fault { kRefused, kStalled, kResetMidAnswer };

// A service that fails every request in one way.
class FaultyService {
  public:
    explicit FaultyService(Fault fault) : fault_(fault) {
        if (fault == Fault::kRefused) {
            port_ = 1;  // nothing listens there
            return;
        }
        server_.Get(R"(/qrd/.*)", [this](const httplib::Request&, httplib::Response& response) {
            std::unique_lock<std::mutex> lock(mutex_);
            ++requests_;
            if (fault_ == Fault::kStalled) {
                released_.wait_for(lock, std::chrono::seconds(30), [this] { return release_; });
                response.set_content("4", "text/plain");
                return;
            }
            // Promises 100 bytes, sends 2, and drops the connection.
            response.set_content_provider(100, "text/plain",
                                          [](size_t offset, size_t, httplib::DataSink& sink) {
                                              return offset == 0 && sink.write("4.", 2);
                                          });
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~FaultyService() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            release_ = true;
        }
        released_.notify_all();
        if (thread_.joinable()) {
            server_.stop();
            thread_.join();
        }
    }
    int port() const { return port_; }
    int requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

  private:
    Fault fault_;
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
    int requests_ = 0;
};

std::string console;
std::mutex consoleMutex;
void recordConsole(const char* text) {
    std::lock_guard<std::mutex> lock(consoleMutex);
    console += text;
}

// The client's own limit on one exchange (platform::HttpRequest), and what a tick may add.
constexpr auto kClientTimeOut = std::chrono::milliseconds(10000);
constexpr auto kSlack = std::chrono::milliseconds(2000);

using ServiceFaults = racetest::RaceWorkTest;

TEST_F(ServiceFaults, EveryFailureIsGivenUpInTimeAndTheStopStillCounts) {
    struct Case {
        const char* name;
        Fault fault;
        const char* said;
    } cases[] = {
        {"refused", Fault::kRefused, "has occurred."},
        {"stalled", Fault::kStalled, "has occurred."},
        {"reset mid-answer", Fault::kResetMidAnswer, "QRD Link Error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FaultyService service(c.fault);
        ASSERT_GT(service.port(), 0);
        // The machine's real client, not the harness's scripted one.
        platform::setHttpTransport(nullptr);
        links::SetServiceEndpoint({"127.0.0.1", service.port(), false, ""});
        links::SetConsoleWriter(recordConsole);
        console.clear();

        // In the stall: the data report fails, the stop's work is done all the same.
        inTheStall(0.5);
        sim_.set("FuelLevel", 20.5);
        race().BoxServiceDone = 0;
        for (int i = 0; i < 4 && race().BoxServiceDone == 0; ++i) {
            const auto start = Clock::now();
            tick();
            EXPECT_LT(Clock::now() - start, kClientTimeOut + kSlack);
        }
        EXPECT_EQ(race().BoxServiceDone, 1);
        EXPECT_FLOAT_EQ(race().FuelAtReset, 20.5f);
        std::lock_guard<std::mutex> lock(consoleMutex);
        EXPECT_NE(console.find(c.said), std::string::npos) << console;
        EXPECT_TRUE(c.fault == Fault::kRefused || service.requests() > 0);
    }
}

}  // namespace
