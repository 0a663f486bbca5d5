// Requests per second of the race-data service on loopback, one fresh connection per request
// (no keep-alive), as the plugin makes them: a lap report (a durable insert) and a question.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "platform/http_client.h"
#include "tools/racedata/report_fields.h"
#include "tools/racedata/service.h"

namespace {

namespace fs = std::filesystem;

struct BenchService {
    explicit BenchService(bool plain) {
        folder = fs::temp_directory_path() /
                 ("korvane_racedata_bench_" + std::to_string(std::random_device{}()));
        fs::create_directories(folder);
        racedata::ServiceOptions options;
        options.bindAddress = "127.0.0.1";
        options.port = 0;
        options.plain = plain;
        options.databasePath = (folder / "bench.db").string();
        options.filesDirectory = folder.string();
        // One client asking as fast as it can is what is measured.
        options.requestsPerSecond = 0;
        service = std::make_unique<racedata::RaceDataService>(options);
        error = service->start();
        endpoint = {"127.0.0.1", service->port(), !plain, service->certificatePath()};
    }
    ~BenchService() {
        service.reset();
        fs::remove_all(folder);
    }
    fs::path folder;
    std::unique_ptr<racedata::RaceDataService> service;
    platform::HttpEndpoint endpoint;
    std::string error;
};

BenchService& benchService(bool plain) {
    static BenchService secure(false);
    static BenchService open(true);
    return plain ? open : secure;
}

std::string lapReport() {
    std::string path = "/qrd/lap.php?";
    bool first = true;
    for (const racedata::Field& f : racedata::lapReportFields()) {
        path += (first ? "" : "&") + std::string(f.key) +
                (f.type == racedata::FieldType::kInt ? "=42" : "=12.34");
        first = false;
    }
    return path;
}

void run(benchmark::State& state, bool plain, const std::string& path) {
    BenchService& bench = benchService(plain);
    if (!bench.error.empty()) {
        state.SkipWithError(bench.error.c_str());
        return;
    }
    platform::HttpRequest request;
    request.endpoint = bench.endpoint;
    request.userAgent = "QRD Transponder/1.0";
    request.path = path;
    for (auto _ : state) {
        platform::HttpResponse response = platform::httpTransport().get(request);
        if (!response.ok() || response.status != 200) {
            state.SkipWithError("request failed");
            break;
        }
        benchmark::DoNotOptimize(response.body);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_LapReportHttps(benchmark::State& state) {
    run(state, false, lapReport());
}
void BM_LapReportPlain(benchmark::State& state) {
    run(state, true, lapReport());
}
void BM_FuelQuestionHttps(benchmark::State& state) {
    run(state, false, "/qrd/api.php?c=getpreviousfuelburn&cid=42&tid=42&did=42&sft=1");
}
void BM_TireQuestionHttps(benchmark::State& state) {
    run(state, false, "/qrd/api.php?c=qrdtireschange&s=42&r=42&f=4000");
}

BENCHMARK(BM_LapReportHttps)->UseRealTime()->Threads(1)->Threads(8);
BENCHMARK(BM_LapReportPlain)->UseRealTime()->Threads(1)->Threads(8);
BENCHMARK(BM_FuelQuestionHttps)->UseRealTime()->Threads(1)->Threads(8);
BENCHMARK(BM_TireQuestionHttps)->UseRealTime()->Threads(1);

}  // namespace

BENCHMARK_MAIN();
