// The race-data service on loopback, one fresh connection per request (no keep-alive), as the
// plugin makes them: a lap report (a durable insert) and the questions, on SQLite and on
// PostgreSQL (a server of the bench's own, committing to disk as in production). Besides the
// rate, each request's CPU time in the client (the plugin's HTTP transport, a new TLS session
// each time) and in the service, which is what bounds the rate on a loaded machine. Then the
// questions against a store of 1,000,000 laps (see bigStore()), which must not take longer than on
// an empty one.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/http_client.h"
#include "postgres_cluster.h"
#include "tools/racedata/database.h"
#include "tools/racedata/report_fields.h"
#include "tools/racedata/service.h"

namespace {

// CPU seconds each of the server's processes has used so far, by process id.
std::map<long, double> serverCpuSeconds(const benchsupport::PostgresCluster& cluster) {
    std::ifstream pidFile(std::filesystem::path(cluster.data()) / "postmaster.pid");
    long postmaster = 0;
    pidFile >> postmaster;
    std::map<long, double> seconds;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;  // not a process
        }
        std::ifstream stat(entry.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const auto close = text.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        // After "pid (name)": state ppid ... utime (the 14th field) stime.
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        std::vector<std::string> values;
        while (fields >> field && values.size() < 13) {
            values.push_back(field);
        }
        const long pid = std::atol(name.c_str());
        if (values.size() == 13 &&
            (pid == postmaster || std::atol(values[1].c_str()) == postmaster)) {
            seconds[pid] = (std::atof(values[11].c_str()) + std::atof(values[12].c_str())) /
                           static_cast<double>(::sysconf(_SC_CLK_TCK));
        }
    }
    return seconds;
}

// What the server's processes alive at both moments used in between: what a piece of work
// cost the server, whatever else the machine was doing.
double cpuBetween(const std::map<long, double>& before, const std::map<long, double>& after) {
    double sum = 0;
    for (const auto& [pid, seconds] : after) {
        auto earlier = before.find(pid);
        if (earlier != before.end()) {
            sum += seconds - earlier->second;
        }
    }
    return sum;
}

namespace fs = std::filesystem;

enum Backend { kSqlite, kPostgres };

benchsupport::PostgresCluster* postgres(std::string& why) {
    static std::string failure;
    static std::unique_ptr<benchsupport::PostgresCluster> cluster =
        benchsupport::PostgresCluster::start(42450 + ::getpid() % 50, failure);
    why = failure;
    return cluster.get();
}

// A database of the backend's, new for each bench service.
std::string newDatabase(Backend backend, const fs::path& folder, std::string& error) {
    if (backend == kSqlite) {
        return (folder / "bench.db").string();
    }
    benchsupport::PostgresCluster* cluster = postgres(error);
    return cluster ? cluster->newDatabase() : "";
}

// A client as a league's many plugins on other machines look to the service: a new
// connection for every request, resuming the TLS session of the thread's previous one as the
// plugin's transport does, but without that transport's own cost (curl makes a TLS context
// for every connection) in this process.
class LeanClient {
  public:
    explicit LeanClient(const platform::HttpEndpoint& endpoint) : endpoint_(endpoint) {
        if (endpoint.secure) {
            context_ = SSL_CTX_new(TLS_client_method());
            SSL_CTX_load_verify_locations(context_, endpoint.caCertificate.c_str(), nullptr);
            SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
        }
    }
    ~LeanClient() { SSL_CTX_free(context_); }

    // The status of GET `path`, or 0 when the exchange failed.
    int get(const std::string& path) const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(endpoint_.port));
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            ::close(fd);
            return 0;
        }
        const std::string request = "GET " + path +
                                    " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: QRD "
                                    "Transponder/1.0\r\nConnection: close\r\n\r\n";
        std::string answer;
        char buffer[4096];
        if (context_) {
            // The thread's last session with this client's service.
            thread_local struct Last {
                const LeanClient* client = nullptr;
                SSL_SESSION* session = nullptr;
                ~Last() { SSL_SESSION_free(session); }
            } last;
            if (last.client != this) {
                SSL_SESSION_free(last.session);
                last.client = this;
                last.session = nullptr;
            }
            SSL* ssl = SSL_new(context_);
            SSL_set_fd(ssl, fd);
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), "127.0.0.1");
            if (last.session) {
                SSL_set_session(ssl, last.session);
            }
            if (SSL_connect(ssl) == 1 &&
                SSL_write(ssl, request.data(), static_cast<int>(request.size())) > 0) {
                for (int n; (n = SSL_read(ssl, buffer, sizeof buffer)) > 0;) {
                    answer.append(buffer, static_cast<size_t>(n));
                }
                SSL_SESSION_free(last.session);
                last.session = SSL_get1_session(ssl);
            }
            SSL_free(ssl);
        } else if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
            for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
                answer.append(buffer, static_cast<size_t>(n));
            }
        }
        ::close(fd);
        return answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
    }

  private:
    platform::HttpEndpoint endpoint_;
    SSL_CTX* context_ = nullptr;
};

struct BenchService {
    BenchService(bool plain, Backend backend) {
        folder = fs::temp_directory_path() /
                 ("korvane_racedata_bench_" + std::to_string(std::random_device{}()));
        fs::create_directories(folder / "files");
        racedata::ServiceOptions options;
        options.bindAddress = "127.0.0.1";
        options.port = 0;
        options.plain = plain;
        options.databasePath = newDatabase(backend, folder, error);
        options.filesDirectory = (folder / "files").string();
        // Clients asking as fast as they can is what is measured.
        options.requestsPerSecond = 0;
        if (!error.empty()) {
            return;
        }
        service = std::make_unique<racedata::RaceDataService>(options);
        error = service->start();
        endpoint = {"127.0.0.1", service->port(), !plain, service->certificatePath()};
        leanClient = std::make_unique<LeanClient>(endpoint);
    }
    ~BenchService() {
        service.reset();
        fs::remove_all(folder);
    }
    fs::path folder;
    std::unique_ptr<racedata::RaceDataService> service;
    platform::HttpEndpoint endpoint;
    std::unique_ptr<LeanClient> leanClient;  // of this service's own
    std::string error;
};

BenchService& benchService(bool plain, Backend backend) {
    static BenchService secure(false, kSqlite);
    static BenchService open(true, kSqlite);
    if (backend == kPostgres) {
        static BenchService securePostgres(false, kPostgres);
        return securePostgres;
    }
    return plain ? open : secure;
}

std::string lapReport(int client, int64_t n) {
    std::string path = "/qrd/lap.php?";
    bool first = true;
    for (const racedata::Field& f : racedata::lapReportFields()) {
        std::string value = f.type == racedata::FieldType::kInt ? "42" : "12.34";
        if (std::string(f.key) == "did") {
            value = std::to_string(client);
        } else if (std::string(f.key) == "st") {
            value = std::to_string(n);  // every report a new one
        }
        path += (first ? "" : "&") + std::string(f.key) + "=" + value;
        first = false;
    }
    return path;
}

double cpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void run(benchmark::State& state, bool plain, Backend backend, const std::string& question,
         bool lean = false) {
    BenchService& bench = benchService(plain, backend);
    if (!bench.error.empty()) {
        state.SkipWithError(bench.error.c_str());
        return;
    }
    const double processCpuAtStart = cpuSeconds(RUSAGE_SELF);
    platform::HttpRequest request;
    request.endpoint = bench.endpoint;
    request.userAgent = "QRD Transponder/1.0";
    request.path = question;
    static std::atomic<int64_t> sent{0};
    const double threadCpuAtStart = cpuSeconds(RUSAGE_THREAD);
    for (auto _ : state) {
        if (question.empty()) {
            request.path = lapReport(state.thread_index(), ++sent);
        }
        if (lean) {
            if (bench.leanClient->get(request.path) != 200) {
                state.SkipWithError("request failed");
                break;
            }
            continue;
        }
        platform::HttpResponse response = platform::httpTransport().get(request);
        if (!response.ok() || response.status != 200) {
            state.SkipWithError("request failed");
            break;
        }
        benchmark::DoNotOptimize(response.body);
    }
    // Summed over the threads and divided by all their requests: each request's CPU time in
    // the client, and in the whole process (client and service) while the threads ran; the
    // service's share is the difference (its workers and its writer thread).
    const double threads = static_cast<double>(state.threads());
    const double client = (cpuSeconds(RUSAGE_THREAD) - threadCpuAtStart) * 1e6;
    const double process = (cpuSeconds(RUSAGE_SELF) - processCpuAtStart) * 1e6 / threads;
    state.counters["client_us"] = benchmark::Counter(client, benchmark::Counter::kAvgIterations);
    state.counters["service_us"] =
        benchmark::Counter(process - client, benchmark::Counter::kAvgIterations);
    state.counters["process_us"] = benchmark::Counter(process, benchmark::Counter::kAvgIterations);
    state.SetItemsProcessed(state.iterations());
}

constexpr const char* kFuel = "/qrd/api.php?c=getpreviousfuelburn&cid=42&tid=42&did=3&sft=1";
constexpr const char* kTires = "/qrd/api.php?c=qrdtireschange&s=3&r=42&f=4000";

void BM_LapReportHttps(benchmark::State& state, Backend backend) {
    run(state, false, backend, "");
}
void BM_LapReportHttpsLeanClient(benchmark::State& state, Backend backend) {
    run(state, false, backend, "", true);
}
void BM_FuelQuestionHttpsLeanClient(benchmark::State& state) {
    run(state, false, kSqlite, kFuel, true);
}
void BM_LapReportPlain(benchmark::State& state) {
    run(state, true, kSqlite, "");
}
void BM_FuelQuestionHttps(benchmark::State& state, Backend backend) {
    run(state, false, backend, kFuel);
}
void BM_TireQuestionHttps(benchmark::State& state, Backend backend) {
    run(state, false, backend, kTires);
}

BENCHMARK_CAPTURE(BM_LapReportHttps, SQLite, kSqlite)->UseRealTime()->Threads(1)->Threads(8);
BENCHMARK_CAPTURE(BM_LapReportHttps, PostgreSQL, kPostgres)->UseRealTime()->Threads(1)->Threads(8);
BENCHMARK_CAPTURE(BM_LapReportHttpsLeanClient, SQLite, kSqlite)
    ->UseRealTime()
    ->Threads(1)
    ->Threads(8);
BENCHMARK_CAPTURE(BM_LapReportHttpsLeanClient, PostgreSQL, kPostgres)
    ->UseRealTime()
    ->Threads(1)
    ->Threads(8);
BENCHMARK(BM_FuelQuestionHttpsLeanClient)->UseRealTime()->Threads(1)->Threads(8);
BENCHMARK(BM_LapReportPlain)->UseRealTime()->Threads(1)->Threads(8);
BENCHMARK_CAPTURE(BM_FuelQuestionHttps, SQLite, kSqlite)->UseRealTime()->Threads(1)->Threads(8);
BENCHMARK_CAPTURE(BM_FuelQuestionHttps, PostgreSQL, kPostgres)
    ->UseRealTime()
    ->Threads(1)
    ->Threads(8);
BENCHMARK_CAPTURE(BM_TireQuestionHttps, SQLite, kSqlite)->UseRealTime()->Threads(1)->Threads(8);

// The store itself with `laps` lap reports (and a tenth as many data reports) of 1,000 drivers
// in 10,000 sessions of 20 cars at 10 tracks: what a question costs as the history grows.
struct FilledStore {
    FilledStore(Backend backend, int64_t laps) {
        folder = fs::temp_directory_path() /
                 ("korvane_racedata_fill_" + std::to_string(std::random_device{}()));
        fs::create_directories(folder);
        database = newDatabase(backend, folder, error);
        if (!error.empty()) {
            return;
        }
        try {
            store = std::make_unique<racedata::RaceStore>(database);
            fill(*racedata::connect(database), backend, laps);
        } catch (const racedata::StoreError& e) {
            error = e.what();
        }
    }
    ~FilledStore() {
        store.reset();
        fs::remove_all(folder);
    }

    static void fill(racedata::Connection& db, Backend backend, int64_t laps) {
        // x counts the reports; a session has 100 laps and 10 data reports.
        auto valueOf = [](const std::string& key, const char* x) -> std::string {
            const std::string session = std::string("(") + x + " / 100)";
            if (key == "sid")
                return session;
            if (key == "did")
                return "(" + session + " % 1000)";
            if (key == "cid")
                return "(" + session + " % 20)";
            if (key == "tid")
                return "(" + session + " % 10)";
            if (key == "st")
                return std::string("(") + x + " % 100 * 90)";
            if (key == "sft")
                return "1";
            if (key == "tlu")
                return std::string("(") + x + " % 100 * 5000)";
            if (key == "fbpl" || key == "fbm")
                return std::string("(2.5 + ") + x + " % 7 * 0.1)";
            if (key[0] == 'w')
                return "0.9";
            return "1";
        };
        auto insert = [&](const char* table, std::span<const racedata::Field> fields,
                          const std::string& extraNames, const std::string& extraValues,
                          int64_t rows, int step) {
            std::string names = "received_at";
            std::string values = "0";
            for (const racedata::Field& f : fields) {
                names += std::string(", \"") + f.key + "\"";
                values += ", " + valueOf(f.key, "x");
            }
            const std::string series =
                backend == kSqlite
                    ? "WITH RECURSIVE s(x) AS (SELECT 0 UNION ALL SELECT x + " +
                          std::to_string(step) + " FROM s WHERE x + " + std::to_string(step) +
                          " < " + std::to_string(rows) + ") "
                    : "WITH s(x) AS (SELECT generate_series(0, " + std::to_string(rows - 1) + ", " +
                          std::to_string(step) + ")) ";
            db.script(series + "INSERT INTO " + table + " (" + names + extraNames + ") SELECT " +
                      values + extraValues + " FROM s");
        };
        const std::string burn = ", 2.5 + x % 7 * 0.1";
        db.script("BEGIN");
        insert("lap_reports", racedata::lapReportFields(), ", burn", burn, laps, 1);
        insert("data_reports", racedata::dataReportFields(), ", burn, tread, pair_st, pair_tlu",
               burn + ", 0.9, x % 100 * 90, x % 100 * 5000", laps, 10);
        db.script(
            "INSERT INTO tire_wear (cid, tid, worn, metres) SELECT cid, tid, SUM(1 - tread),"
            " SUM(pair_tlu) FROM data_reports WHERE pair_tlu > 0 GROUP BY cid, tid");
        db.script("COMMIT");
        db.script("ANALYZE");
    }

    fs::path folder;
    std::string database;
    std::unique_ptr<racedata::RaceStore> store;
    std::string error;
};

void BM_QuestionsOfAStore(benchmark::State& state, Backend backend) {
    const int64_t laps = state.range(0);
    FilledStore filled(backend, laps);
    if (!filled.error.empty()) {
        state.SkipWithError(filled.error.c_str());
        return;
    }
    // The store's connection made before the count begins, so that its server process counts.
    filled.store->weatherChange(0, 0);
    std::string ignored;
    benchsupport::PostgresCluster* cluster = backend == kPostgres ? postgres(ignored) : nullptr;
    const std::map<long, double> serverCpuAtStart =
        cluster ? serverCpuSeconds(*cluster) : std::map<long, double>{};
    int64_t n = 0;
    for (auto _ : state) {
        // A driver of a session in the middle of the history.
        const int64_t session = laps / 200 + n++ % 100;
        const int64_t driver = session % 1000;
        benchmark::DoNotOptimize(
            filled.store->previousFuelBurn(session % 20, session % 10, driver, 1));
        benchmark::DoNotOptimize(filled.store->tiresChange(driver, session, 4000));
        benchmark::DoNotOptimize(filled.store->weatherChange(driver, session));
    }
    if (cluster) {
        // The PostgreSQL server's CPU time for the three questions.
        state.counters["server_us"] =
            benchmark::Counter(cpuBetween(serverCpuAtStart, serverCpuSeconds(*cluster)) * 1e6,
                               benchmark::Counter::kAvgIterations);
    }
    state.counters["laps"] = static_cast<double>(filled.store->lapReportCount());
    state.SetLabel("fuel, tire and weather question");
}
// Filling a million laps takes minutes on a loaded machine: the big store is as large as
// KORVANE_RACEDATA_BENCH_LAPS says (100,000 unless told).
int64_t bigStore() {
    const char* laps = std::getenv("KORVANE_RACEDATA_BENCH_LAPS");
    return laps ? std::max<int64_t>(1000, std::atoll(laps)) : 100000;
}
BENCHMARK_CAPTURE(BM_QuestionsOfAStore, SQLite, kSqlite)
    ->Arg(1000)
    ->Arg(bigStore())
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_QuestionsOfAStore, PostgreSQL, kPostgres)
    ->Arg(1000)
    ->Arg(bigStore())
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
