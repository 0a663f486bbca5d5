// The link's request lines, answers and console messages, over a fake transport.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include "common/settings_file.h"
#include "plugin/engineer/race_state.h"
#include "plugin/links/web_service_link.h"
#include "plugin/telemetry/telemetry_client.h"
#include "support/fake_http_transport.h"
#include "support/fake_simulator.h"
#include "support/test_folder.h"
#include "support/virtual_clock.h"

namespace {

using platform::HttpFailure;
using testsupport::FakeHttpTransport;

// The console the link writes its messages to.
std::string console;
void recordConsole(const char* text) {
    console += text;
}

class WebServiceLink : public ::testing::Test {
  protected:
    void SetUp() override {
        engineer::ResetRaceState();
        links::ResetServiceLink();
        links::SetConsoleWriter(recordConsole);
        console.clear();
        settings = testsupport::freshTestFolder("korvane_links") / "Qm_Korvane_Launcher.ini";
        common::setSettingsPath(settings.string());
    }
    void TearDown() override {
        common::setSettingsPath("");
        links::ResetServiceLink();
    }

    FakeHttpTransport http;
    testsupport::ScopedHttpTransport useHttp{http};
    std::filesystem::path settings;
};

// Every answer is this query's own: nothing of the answer before it may leak through.
TEST_F(WebServiceLink, EachQueryHandsBackItsOwnAnswer) {
    struct Case {
        const char* name;
        platform::HttpResponse response;
        const char* text;
        int asInt;
        double asReal;
        const char* message;
    };
    const Case cases[] = {
        {"two: take tires", FakeHttpTransport::answer("2"), "2", 2, 2.0, ""},
        {"real with leading blanks", FakeHttpTransport::answer("  4.75 L"), "  4.75 L", 4, 4.75,
         ""},
        {"text", FakeHttpTransport::answer("no data"), "no data", 0, 0.0, ""},
        {"empty body", FakeHttpTransport::answer(""), "", 0, 0.0, ""},
        {"last success status", FakeHttpTransport::answer("5", 299), "5", 5, 5.0, ""},
        {"redirect not followed", FakeHttpTransport::answer("5", 300), "", 0, 0.0,
         "\n QRD Link Error: the service answered HTTP 300.\n"},
        {"error page starting with a number", FakeHttpTransport::answer("404 Not Found", 404), "",
         0, 0.0, "\n QRD Link Error: the service answered HTTP 404.\n"},
        {"network down", FakeHttpTransport::failure(HttpFailure::kConnect, 12029), "", 0, 0.0,
         "Error 12029 has occurred.\n"},
        {"asking for data failed", FakeHttpTransport::failure(HttpFailure::kQueryData, 12030), "",
         0, 0.0, "\n QRD Link Error 12030 on Query.\n"},
        {"read failed", FakeHttpTransport::failure(HttpFailure::kReadData, 12002), "", 0, 0.0,
         "\n QRD Link Error 12002 on Read.\n"},
        {"longest answer", FakeHttpTransport::answer("7" + std::string(64 * 1024 - 1, ' ')),
         nullptr, 7, 7.0, ""},
        {"answer over 64 KiB", FakeHttpTransport::answer(std::string(64 * 1024 + 1, '7')), "", 0,
         0.0, "\n QRD Link Error 23 on Read.\n"},
    };
    for (const Case& c : cases) {
        http.push(FakeHttpTransport::answer("2"));
        ASSERT_STREQ(links::QueryServiceCommand("qrdtireschange", 4000), "2");
        console.clear();
        http.push(c.response);
        const char* reply = links::QueryPreviousFuelBurn();
        if (c.text != nullptr) {
            EXPECT_STREQ(reply, c.text) << c.name;
            EXPECT_STREQ(links::LastServiceReply(), c.text) << c.name;
        }
        EXPECT_EQ(std::atoi(reply), c.asInt) << c.name;
        EXPECT_DOUBLE_EQ(std::atof(reply), c.asReal) << c.name;
        EXPECT_EQ(console, c.message) << c.name;
    }
}

TEST_F(WebServiceLink, ReportsLeaveTheLastAnswerAndSayWhenTheyAreLost) {
    http.push(FakeHttpTransport::answer("1.85"));
    links::QueryPreviousFuelBurn();
    http.push(FakeHttpTransport::answer("1"));
    http.push(FakeHttpTransport::failure(HttpFailure::kConnect, 12007));
    http.push(FakeHttpTransport::answer("Bad request: missing field 'sid'\n", 400));
    links::SendLapReport({});
    links::SendDataReport({});
    links::SendLapReport({});
    EXPECT_STREQ(links::LastServiceReply(), "1.85");
    EXPECT_EQ(console,
              "Error 12007 has occurred.\n"
              "\n QRD Link Error: the service answered HTTP 400.\n");
}

TEST_F(WebServiceLink, ServiceSectionPointsTheLinkElsewhere) {
    struct Case {
        const char* name;
        const char* ini;  // nullptr: no settings file at all
        platform::HttpEndpoint expected;
    };
    const Case cases[] = {
        {"no settings file", nullptr, {}},
        {"file without the section", "[Setup]\nPassiveMode=0\n", {}},
        {"host only", "[Service]\nHost=127.0.0.1\n", {"127.0.0.1", 443, true, ""}},
        {"self-hosted with its certificate",
         "[Service]\nHost=qrd.example.org\nPort=8443\nCACertificate=/srv/qrd/ca.pem\n",
         {"qrd.example.org", 8443, true, "/srv/qrd/ca.pem"}},
        {"plain http",
         "[service]\nhost=localhost\nport=8080\nsecure=0\n",
         {"localhost", 8080, false, ""}},
        {"port out of range", "[Service]\nPort=70000\n", {platform::kServiceHost, 443, true, ""}},
        {"port zero", "[Service]\nPort=0\n", {platform::kServiceHost, 443, true, ""}},
        {"empty host", "[Service]\nHost=\n", {platform::kServiceHost, 443, true, ""}},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(settings);
        if (c.ini) {
            std::ofstream(settings) << c.ini;
        }
        http.clear();
        links::QueryPreviousFuelBurn();
        ASSERT_EQ(http.requests().size(), 1u) << c.name;
        auto fields = [](const platform::HttpEndpoint& e) {
            return std::tie(e.host, e.port, e.secure, e.caCertificate);
        };
        EXPECT_EQ(fields(http.requests()[0].endpoint), fields(c.expected)) << c.name;
    }

    // A file last written long ago is read once; another settings file with the very same
    // time stamp is still read, not answered from the first one.
    const auto longAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    const std::filesystem::path other = settings.parent_path() / "other.ini";
    std::ofstream(settings) << "[Service]\nPort=8081\n";
    std::ofstream(other) << "[Service]\nPort=8082\n";
    std::filesystem::last_write_time(settings, longAgo);
    std::filesystem::last_write_time(other, longAgo);
    http.clear();
    links::QueryPreviousFuelBurn();
    std::ofstream(settings) << "[Service]\nPort=8083\n";  // unseen while the stamp stays
    std::filesystem::last_write_time(settings, longAgo);
    links::QueryPreviousFuelBurn();
    common::setSettingsPath(other.string());
    links::QueryPreviousFuelBurn();
    ASSERT_EQ(http.requests().size(), 3u);
    EXPECT_EQ(http.requests()[0].endpoint.port, 8081);
    EXPECT_EQ(http.requests()[1].endpoint.port, 8081);
    EXPECT_EQ(http.requests()[2].endpoint.port, 8082);
}

// The reports and the questions carry the race state; the reports also the inner side of each
// tire, wheel by wheel.
TEST_F(WebServiceLink, LinesCarryTheRaceStateAndTheInnerSideOfEachTireInOrder) {
    testsupport::VirtualClock clock;
    testsupport::ScopedClock useClock(clock);
    // Per wheel: inner wear, outer wear, inner and outer carcass temperature, pit and cold
    // pressure. The outer-side readings are published too, so a wrong side cannot go unnoticed.
    const char* const wheels[4][6] = {
        {"LFwearR", "LFwearL", "LFtempCR", "LFtempCL", "PitSvLFP", "LFcoldPressure"},
        {"RFwearL", "RFwearR", "RFtempCL", "RFtempCR", "PitSvRFP", "RFcoldPressure"},
        {"LRwearR", "LRwearL", "LRtempCR", "LRtempCL", "PitSvLRP", "LRcoldPressure"},
        {"RRwearL", "RRwearR", "RRtempCL", "RRtempCR", "PitSvRRP", "RRcoldPressure"},
    };
    auto vars = testsupport::catalogueVarSpecs();
    for (const auto& wheel : wheels) {
        vars.push_back({wheel[1]});
        vars.push_back({wheel[3]});
    }
    testsupport::FakeSimulator sim(vars);
    sim.attach(telemetry::Telemetry());
    sim.setConnected(true);
    const std::pair<const char*, double> values[] = {{"SessionState", 4},
                                                     {"AirTemp", 18.5},
                                                     {"TrackTempCrew", 31.25},
                                                     {"PitSvFlags", 31},
                                                     {"Lap", 7},
                                                     {"SessionLapsRemainEx", 13},
                                                     {"SessionTime", 1805.9},
                                                     {"SessionTimeRemain", -1},
                                                     {"FuelLevel", 12.3456},
                                                     {"PlayerCarPosition", 5}};
    for (const auto& [name, value] : values) {
        ASSERT_TRUE(sim.set(name, value)) << name;
    }
    for (int w = 0; w < 4; ++w) {
        const double wheelValues[6] = {0.91 + 0.01 * w, 0.11 + 0.01 * w, 81.0 + w,
                                       11.0 + w,        171.0 + w,       161.0 + w};
        for (int i = 0; i < 6; ++i) {
            ASSERT_TRUE(sim.set(wheels[w][i], wheelValues[i])) << wheels[w][i];
        }
    }
    ASSERT_TRUE(sim.deliver(telemetry::Telemetry()));

    // Every race-state field distinct, so a field taken from its neighbour shows in the line.
    engineer::RaceState& race = engineer::Race();
    race.SubSessionID = INT32_MIN;
    race.SessionKind = 4;
    race.TrackID = 252;
    race.CarID = 67;
    race.DriverUserID = 77;
    race.TrackAirTemp = 21.5;
    race.TrackSurfaceTemp = -3.14159;
    race.FuelTankLiters = 45;
    race.FuelUsed = -0.5f;
    race.LitersToAdd = 47.654;
    race.FuelToFinish = 99.987;
    race.FuelBurnPerLap = 2.25f;
    race.FuelBurnPerMin = 1.75f;
    race.RaceSessionType = 2;
    race.FuelLapsLeft = 9.5f;
    race.FuelBurnMax = 3.0e38f;  // formatted in full, not cut to a buffer
    race.TireDistance = 12345.9;

    links::SendDataReport();
    links::SendLapReport();
    links::QueryServiceCommand("qrdtireschange", 4012);
    links::QueryPreviousFuelBurn();
    const std::string common =
        "sid=-2147483648&sli=4&sst=4&tid=252&cid=67&did=77&sat=21.50&stt=-3.14&cat=18.50&ctt=31.25&"
        "psv=31"
        "&sl=7&slr=13&st=1805&str=-1&fs=45.0&fl=12.346&fu=-0.50&fta=47.65&fn=99.99&fbpl=2.25"
        "&fbpm=1.75&sft=2";
    const std::string last = "&pos=5&llt=9.50&fbm=300000000549775575777803994281145270272.00";
    std::vector<std::string> paths;
    for (const auto& request : http.requests()) {
        paths.push_back(request.path);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{
                         "/qrd/data.php?" + common +
                             "&wlf=0.91&tlf=81.00&phlf=171.00&pclf=161.00"
                             "&wrf=0.92&trf=82.00&phrf=172.00&pcrf=162.00"
                             "&wlr=0.93&tlr=83.00&phlr=173.00&pclr=163.00"
                             "&wrr=0.94&trr=84.00&phrr=174.00&pcrr=164.00" +
                             last,
                         "/qrd/lap.php?" + common + last + "&tlu=12345",
                         "/qrd/api.php?c=qrdtireschange&s=77&r=-2147483648&f=4012",
                         "/qrd/api.php?c=getpreviousfuelburn&cid=67&tid=252&did=77&sft=2"}));
    for (const auto& request : http.requests()) {
        EXPECT_EQ(request.userAgent, "QRD Transponder/1.0");
        EXPECT_EQ(request.endpoint.host, platform::kServiceHost);
        EXPECT_EQ(request.endpoint.port, 443);
        EXPECT_TRUE(request.endpoint.secure);
        EXPECT_GT(request.connectTimeoutMs, 0);
        EXPECT_GT(request.totalTimeoutMs, 0);
        EXPECT_LE(request.totalTimeoutMs, 15000);
    }
    EXPECT_EQ(console, "");
    // Distances no int holds are pinned to its ends, and no distance at all (NaN) is none.
    const std::pair<double, int32_t> distances[] = {
        {std::nan(""), 0}, {-1e12, INT32_MIN}, {2147483648.0, INT32_MAX}, {1e12, INT32_MAX}};
    for (const auto& [distance, expected] : distances) {
        race.TireDistance = distance;
        EXPECT_EQ(links::CurrentReportValues().TireDistance, expected) << distance;
    }
    telemetry::Telemetry().closeTelemetry();
}

}  // namespace
