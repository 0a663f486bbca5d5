// The race-data service over HTTPS on 127.0.0.1: what it accepts, what it keeps across a
// restart, what it answers, and that concurrent clients lose nothing.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/http_client.h"
#include "tools/racedata/report_fields.h"
#include "tools/racedata/service.h"

namespace {

namespace fs = std::filesystem;
using racedata::RaceDataService;

// A report with every field, each value chosen by `value(key)`.
std::string reportPath(const char* script, std::span<const racedata::Field> fields,
                       const std::function<std::string(const std::string&)>& value) {
    std::string path = std::string("/qrd/") + script + "?";
    for (size_t i = 0; i < fields.size(); ++i) {
        path += (i ? "&" : "") + std::string(fields[i].key) + "=" + value(fields[i].key);
    }
    return path;
}

std::string defaultValue(const std::string& key) {
    static const std::map<std::string, std::string> values = {
        {"sid", "500"},   {"did", "77"},   {"cid", "67"},    {"tid", "252"},   {"sft", "1"},
        {"st", "100"},    {"fs", "60.0"},  {"fl", "30.500"}, {"fta", "20.00"}, {"fbpl", "2.50"},
        {"fbpm", "1.20"}, {"fbm", "2.60"}, {"ctt", "30.00"}, {"tlu", "20000"}, {"wlf", "0.95"},
        {"wrf", "0.96"},  {"wlr", "0.97"}, {"wrr", "0.98"},
    };
    auto found = values.find(key);
    return found == values.end() ? "1" : found->second;
}

class RaceDataServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("korvane_racedata_" + std::to_string(std::random_device{}()));
        fs::create_directories(folder / "files");
        start();
    }
    void TearDown() override {
        service.reset();
        fs::remove_all(folder);
    }

    void start(bool plain = false) {
        racedata::ServiceOptions options;
        options.bindAddress = "127.0.0.1";
        options.port = 0;
        options.plain = plain;
        options.databasePath = (folder / "racedata.db").string();
        options.filesDirectory = (folder / "files").string();
        service = std::make_unique<RaceDataService>(options);
        ASSERT_EQ(service->start(), "");
        endpoint = {"127.0.0.1", service->port(), !plain, service->certificatePath()};
    }
    void restart() {
        service.reset();
        start();
    }

    platform::HttpResponse get(const std::string& path) const {
        platform::HttpRequest request;
        request.endpoint = endpoint;
        request.userAgent = "QRD Transponder/1.0";
        request.path = path;
        return platform::httpTransport().get(request);
    }
    std::string answer(const std::string& path) const {
        platform::HttpResponse response = get(path);
        EXPECT_TRUE(response.ok()) << path << " failed with " << response.errorCode;
        EXPECT_EQ(response.status, 200) << path << ": " << response.body;
        return response.body;
    }

    // A lap or data report with the defaults above and `changes` on top.
    std::string lap(std::map<std::string, std::string> changes = {}) const {
        return report("lap.php", racedata::lapReportFields(), changes);
    }
    std::string data(std::map<std::string, std::string> changes = {}) const {
        return report("data.php", racedata::dataReportFields(), changes);
    }
    static std::string report(const char* script, std::span<const racedata::Field> fields,
                              const std::map<std::string, std::string>& changes) {
        return reportPath(script, fields, [&](const std::string& key) {
            auto changed = changes.find(key);
            return changed == changes.end() ? defaultValue(key) : changed->second;
        });
    }

    fs::path folder;
    std::unique_ptr<RaceDataService> service;
    platform::HttpEndpoint endpoint;
};

TEST_F(RaceDataServiceTest, MalformedRequestsAreRejectedAndNothingIsStored) {
    std::string good = lap();
    struct Case {
        const char* name;
        std::string path;
    };
    const Case cases[] = {
        {"missing field", lap().substr(0, good.rfind("&tlu="))},
        {"empty value", lap({{"sid", ""}})},
        {"text for an integer", lap({{"sid", "abc"}})},
        {"real for an integer", lap({{"sl", "3.5"}})},
        {"integer past 32 bits", lap({{"did", "2147483648"}})},
        {"exponent", lap({{"fl", "1e3"}})},
        {"not a number", lap({{"fl", "nan"}})},
        {"trailing text", lap({{"fbm", "2.5x"}})},
        {"lone minus", lap({{"fu", "-"}})},
        {"lone dot", lap({{"fu", "."}})},
        {"blank inside", lap({{"fs", "6%200.0"}})},
        {"repeated field", lap() + "&sid=501"},
        {"data report without the tire block", data().substr(0, data().find("&wlf="))},
        {"data report with text wear", data({{"wrr", "worn"}})},
        {"command missing", std::string("/qrd/api.php?cid=1&tid=2&did=3&sft=1")},
        {"unknown command", std::string("/qrd/api.php?c=dropall&s=1&r=2&f=3")},
        {"question without its driver", std::string("/qrd/api.php?c=qrdtireschange&r=2&f=3")},
        {"question with text", std::string("/qrd/api.php?c=qrdweatherchange&s=1&r=x&f=3")},
        {"fuel question without race type",
         std::string("/qrd/api.php?c=getpreviousfuelburn&cid=1&tid=2&did=3")},
        {"version without platform", std::string("/qrd/getpubver.php")},
    };
    for (const Case& c : cases) {
        platform::HttpResponse response = get(c.path);
        ASSERT_TRUE(response.ok()) << c.name;
        EXPECT_EQ(response.status, 400) << c.name << ": " << c.path;
        // The body is text, so a client that reads it as a number reads 0.
        EXPECT_EQ(std::atof(response.body.c_str()), 0.0) << c.name << ": " << response.body;
    }
    EXPECT_EQ(service->store().lapReportCount(), 0);
    EXPECT_EQ(service->store().dataReportCount(), 0);

    // The plugin's own values at the edges are accepted.
    EXPECT_EQ(answer(lap({{"sid", "-2147483648"}, {"fu", "-0.50"}, {"fs", "60.0"}})), "1");
    EXPECT_EQ(answer(lap({{"fbm", "340282346638528859811704183484516925440.00"}})), "1");
    EXPECT_EQ(answer(data()), "1");
    EXPECT_EQ(service->store().lapReportCount(), 2);
    EXPECT_EQ(service->store().dataReportCount(), 1);
}

TEST_F(RaceDataServiceTest, AcknowledgedReportsSurviveARestart) {
    for (int i = 0; i < 5; ++i) {
        answer(lap({{"st", std::to_string(100 + i)}, {"fbm", "2.7" + std::to_string(i)}}));
    }
    answer(data({{"fbm", "3.10"}}));
    std::string certificate = service->certificatePath();
    std::string certificateBytes;
    {
        std::ifstream in(certificate);
        certificateBytes.assign(std::istreambuf_iterator<char>(in), {});
    }

    restart();
    EXPECT_EQ(service->store().lapReportCount(), 5);
    EXPECT_EQ(service->store().dataReportCount(), 1);
    EXPECT_EQ(answer("/qrd/api.php?c=getpreviousfuelburn&cid=67&tid=252&did=77&sft=1"), "3.10");
    // The certificate made at the first start is kept, so clients that trust it still do.
    std::ifstream in(certificate);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), certificateBytes);
}

TEST_F(RaceDataServiceTest, PreviousFuelBurnIsTheHighestOfThatCarTrackDriverAndRaceType) {
    answer(lap({{"fbm", "2.60"}, {"fbpl", "2.40"}}));
    answer(data({{"fbm", "2.55"}, {"fbpl", "2.80"}}));  // a measured lap above the maximum
    answer(lap({{"cid", "68"}, {"fbm", "9.00"}}));      // another car
    answer(lap({{"did", "78"}, {"fbm", "9.00"}}));      // another driver
    answer(lap({{"tid", "253"}, {"fbm", "9.00"}}));     // another track
    answer(lap({{"sft", "2"}, {"fbm", "1.10"}, {"fbpm", "1.35"}, {"fbpl", "9.00"}}));
    struct Case {
        const char* query;
        const char* expected;
    };
    const Case cases[] = {
        {"cid=67&tid=252&did=77&sft=1", "2.80"},
        {"cid=67&tid=252&did=77&sft=2", "1.35"},  // per minute: the per-lap burn does not count
        {"cid=68&tid=252&did=77&sft=1", "9.00"},
        {"cid=67&tid=252&did=79&sft=1", "0.00"},  // nothing known: 0
        {"cid=67&tid=254&did=77&sft=1", "0.00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(answer(std::string("/qrd/api.php?c=getpreviousfuelburn&") + c.query), c.expected)
            << c.query;
    }
}

TEST_F(RaceDataServiceTest, TireAnswerFollowsTheMeasuredWear) {
    // Session 400 at this car and track: 20 km took the most worn tire down to 90 %.
    answer(lap({{"sid", "400"}, {"st", "900"}, {"tlu", "20000"}}));
    answer(data({{"sid", "400"}, {"st", "910"}, {"wlr", "0.90"}}));
    // Session 500 now: 10 km on its tires, 60 L after the stop at 2.5 L a lap, so 24 laps.
    answer(lap({{"st", "1000"}, {"tlu", "10000"}, {"fl", "40.000"}, {"fta", "20.00"}}));
    struct Case {
        const char* question;
        const char* expected;
    };
    // Tread at the end: 1 - 0.1/20000 * (10000 + 24 * f).
    const Case cases[] = {
        {"s=77&r=500&f=1600", "0"},  // 0.758
        {"s=77&r=500&f=1700", "1"},  // 0.746
        {"s=77&r=500&f=0", "0"},     // no lap length: nothing to go on
        {"s=78&r=500&f=4000", "0"},  // another driver has no lap report here
        {"s=77&r=501&f=4000", "0"},  // another session
    };
    for (const Case& c : cases) {
        EXPECT_EQ(answer(std::string("/qrd/api.php?c=qrdtireschange&") + c.question), c.expected)
            << c.question;
    }
    // Without measured wear of this car and track there is no reason to change.
    answer(lap({{"sid", "600"}, {"cid", "99"}, {"st", "10"}, {"tlu", "90000"}}));
    EXPECT_EQ(answer("/qrd/api.php?c=qrdtireschange&s=77&r=600&f=4000"), "0");
}

TEST_F(RaceDataServiceTest, WeatherAnswerFollowsTheTrackTemperatureSinceTheFirstReport) {
    EXPECT_EQ(answer("/qrd/api.php?c=qrdweatherchange&s=77&r=500&f=4000"), "0.00");
    answer(lap({{"st", "100"}, {"ctt", "30.00"}}));
    EXPECT_EQ(answer("/qrd/api.php?c=qrdweatherchange&s=77&r=500&f=4000"), "0.00");
    answer(data({{"st", "700"}, {"ctt", "35.00"}}));
    // 5 C warmer = 9 F: 0.9 psi = 6.21 kPa less.
    EXPECT_EQ(answer("/qrd/api.php?c=qrdweatherchange&s=77&r=500&f=4000"), "-6.21");
    answer(lap({{"st", "1300"}, {"ctt", "25.00"}}));
    EXPECT_EQ(answer("/qrd/api.php?c=qrdweatherchange&s=77&r=500&f=4000"), "6.21");
}

TEST_F(RaceDataServiceTest, PublishesVersionsAndServesOnlyItsOwnFiles) {
    EXPECT_EQ(answer("/qrd/getpubver.php?platform=Plugin"), "0");
    service->store().publishVersion("Plugin", "3.015");
    service->store().publishVersion("Launcher", "3.014");
    service->store().publishVersion("Plugin", "3.016");
    EXPECT_EQ(answer("/qrd/getpubver.php?platform=Plugin"), "3.016");
    EXPECT_EQ(answer("/qrd/getpubver.php?platform=Launcher"), "3.014");
    // A release put in the files folder wins, and is offered without a restart.
    std::ofstream(folder / "files" / racedata::kPublishedVersionsFile)
        << "Launcher=3.020\r\nPlugin=x\nPluginLinux=3.021\nLauncherLinuxX=9\n=1\n";
    EXPECT_EQ(answer("/qrd/getpubver.php?platform=Launcher"), "3.020");
    EXPECT_EQ(answer("/qrd/getpubver.php?platform=Plugin"), "3.016");
    EXPECT_EQ(answer("/qrd/getpubver.php?platform=PluginLinux"), "3.021");
    EXPECT_EQ(answer("/qrd/getpubver.php?platform=LauncherLinux"), "0");

    std::ofstream(folder / "files" / "Qm_Korvane_README.txt") << "read me";
    std::ofstream(folder / "secret.txt") << "not served";
    fs::create_directories(folder / "files" / "sub");
    EXPECT_EQ(answer("/files/R3/Qm_Korvane_README.txt"), "read me");
    for (const char* path : {"/files/R3/secret.txt", "/files/R3/..%2Fsecret.txt",
                             "/files/R3/%2E%2E%2Fsecret.txt", "/files/R3/sub", "/files/R3/.",
                             "/files/R3/", "/files/R3/..", "/files/R2/Qm_Korvane_README.txt"}) {
        platform::HttpResponse response = get(path);
        ASSERT_TRUE(response.ok()) << path;
        EXPECT_EQ(response.status, 404) << path << ": " << response.body;
        EXPECT_EQ(response.body.find("not served"), std::string::npos) << path;
    }
}

TEST_F(RaceDataServiceTest, ConcurrentClientsLoseNothing) {
    constexpr int kClients = 100;
    constexpr int kRequests = 50;
    std::atomic<int> acknowledged{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            for (int r = 0; r < kRequests; ++r) {
                std::map<std::string, std::string> fields = {{"did", std::to_string(c)},
                                                             {"st", std::to_string(r)}};
                std::string path = (r % 5 == 4) ? data(fields) : lap(fields);
                if (r % 10 == 7) {
                    path = "/qrd/api.php?c=getpreviousfuelburn&cid=67&tid=252&did=" +
                           std::to_string(c) + "&sft=1";
                }
                platform::HttpResponse response = get(path);
                if (response.ok() && response.status == 200) {
                    acknowledged += path.rfind("/qrd/api.php", 0) == 0 ? 0 : 1;
                } else {
                    ++failed;
                }
            }
        });
    }
    for (auto& t : clients) {
        t.join();
    }
    EXPECT_EQ(failed, 0);
    // Per client: 10 data reports, 35 lap reports, 5 questions.
    EXPECT_EQ(acknowledged, kClients * 45);
    EXPECT_EQ(service->store().dataReportCount(), kClients * 10);
    EXPECT_EQ(service->store().lapReportCount(), kClients * 35);
}

}  // namespace
