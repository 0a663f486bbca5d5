// The link against a real race-data service on 127.0.0.1, through the machine's real HTTP
// client. The service is either started by the with-racedata-service.sh wrapper (which says
// where through KORVANE_RACEDATA_* variables) or, in the Linux build, inside this process.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "plugin/links/web_service_link.h"
#include "platform/http_client.h"
#include "support/racedata_fixture.h"
#include "support/test_folder.h"

#ifdef KORVANE_INPROCESS_SERVICE
#include <httplib.h>

#include "tools/racedata/certificate.h"
#endif

namespace {

// The console the link writes its messages to.
std::string console;
void recordConsole(const char* text) {
    console += text;
}

const bool registered = [] {
    testsupport::registerRaceDataService("korvane_links_service");
    return true;
}();

const testsupport::RaceDataServiceInfo* service() {
    return testsupport::raceDataService();
}

// Where the link reaches the service.
platform::HttpEndpoint localEndpoint() {
    return {"127.0.0.1", service()->port, service()->secure, service()->certificate};
}

class ServiceLink : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(service(), nullptr);
        links::ResetServiceLink();
        links::SetServiceEndpoint(localEndpoint());
        links::SetConsoleWriter(recordConsole);
        console.clear();
    }
    void TearDown() override { links::ResetServiceLink(); }

    // A report of a session of this test's own.
    links::ReportValues values(int sessionTime) const {
        links::ReportValues v;
        v.SubSessionID = base;
        v.SessionTime = sessionTime;
        return v;
    }

    static bool logged(const std::string& line) {
        std::ifstream in(service()->requestLog);
        for (std::string l; std::getline(in, l);) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }

    const int base = 1000000 + static_cast<int>(std::random_device{}() % 1000000);
};

TEST_F(ServiceLink, LongBodiesArriveWhole) {
    std::string bytes(300000, 'x');
    for (size_t i = 0; i < bytes.size(); i += 997) {
        bytes.replace(i, 3, std::string("\r\n\0", 3));
    }
    std::string name = "Qm_Korvane_Long_" + std::to_string(base) + ".bin";
    {
        std::ofstream out(std::filesystem::path(service()->files) / name, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    platform::HttpRequest request;
    request.endpoint = localEndpoint();
    request.userAgent = links::kUserAgent;
    request.path = "/files/R3/" + name;
    platform::HttpResponse response = platform::httpTransport().get(request);
    ASSERT_TRUE(response.ok()) << response.errorCode;
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body.size(), bytes.size());
    EXPECT_TRUE(response.body == bytes);

    // A body over the caller's limit is a failure, not a silently cut answer.
    request.maxBodyBytes = 1000;
    response = platform::httpTransport().get(request);
    EXPECT_EQ(response.failure, platform::HttpFailure::kReadData);

    request.path = "/files/R3/Qm_Korvane_Missing.bin";
    request.maxBodyBytes = 0;
    response = platform::httpTransport().get(request);
    ASSERT_TRUE(response.ok());
    EXPECT_EQ(response.status, 404);
}

#ifdef KORVANE_INPROCESS_SERVICE

TEST_F(ServiceLink, UntrustedCertificateIsRefused) {
    if (!localEndpoint().secure) {
        GTEST_SKIP() << "plain service";
    }
    namespace fs = std::filesystem;
    const fs::path folder = testsupport::freshTestFolder("korvane_links_untrusted");
    const fs::path trusted = folder / "trusted.crt";
    const fs::path other = folder / "other.crt";
    ASSERT_EQ(
        racedata::makeSelfSignedCertificate(other.string(), (folder / "other.key").string(), {}),
        "");
    // Each time the service was trusted a moment before, on the same thread: what was verified
    // then (a parsed store, a session to resume) must not vouch for it once trust is gone.
    const struct {
        const char* what;
        std::function<void(platform::HttpEndpoint&)> distrust;
    } cases[] = {
        {"the system store, which does not know our certificate",
         [](platform::HttpEndpoint& endpoint) { endpoint.caCertificate.clear(); }},
        {"the trusted file rewritten with another certificate",
         [&](platform::HttpEndpoint&) {
             fs::copy_file(other, trusted, fs::copy_options::overwrite_existing);
         }},
    };
    int time = 5;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::copy_file(localEndpoint().caCertificate, trusted, fs::copy_options::overwrite_existing);
        platform::HttpEndpoint endpoint = localEndpoint();
        endpoint.caCertificate = trusted.string();
        links::SetServiceEndpoint(endpoint);
        links::SendLapReport(values(++time));
        ASSERT_EQ(console, "");
        c.distrust(endpoint);
        links::SetServiceEndpoint(endpoint);
        links::SendLapReport(values(++time));
        EXPECT_EQ(console, "Error 60 has occurred.\n");  // CURLE_PEER_FAILED_VERIFICATION
        EXPECT_FALSE(logged("200 " + links::LapReportPath(values(time)) + " QRD Transponder/1.0"));
        console.clear();
    }
    fs::remove_all(folder);
}

TEST_F(ServiceLink, ServiceThatNeverAnswersIsGivenUpAtTheTimeOut) {
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    httplib::Server silent;
    silent.Get(R"(/qrd/api\.php)", [&](const httplib::Request&, httplib::Response& response) {
        std::unique_lock<std::mutex> lock(mutex);
        released.wait(lock, [&] { return release; });
        response.set_content("2", "text/plain");
    });
    int port = silent.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread serving([&] { silent.listen_after_bind(); });

    platform::HttpRequest request;
    request.endpoint = {"127.0.0.1", port, false, ""};
    request.path = "/qrd/api.php?c=qrdtireschange&s=1&r=2&f=3";
    request.totalTimeoutMs = 300;
    auto start = std::chrono::steady_clock::now();
    platform::HttpResponse response = platform::httpTransport().get(request);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    released.notify_all();
    silent.stop();
    serving.join();
    EXPECT_EQ(response.failure, platform::HttpFailure::kConnect);
    EXPECT_EQ(response.errorCode, 28u);  // CURLE_OPERATION_TIMEDOUT
    EXPECT_LT(seconds, 3.0);
}

#endif

}  // namespace
