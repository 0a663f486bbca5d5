// The race-data service on any request a client can make of it: any target with any query
// string and any further header lines. The service must answer every request, never with an
// internal error, and must go on serving; a report it accepts is stored, one row per report.
//
// Input: the request target, a line feed, then header lines. Line breaks cannot enter the
// target, and the headers that make the service wait for a body are left out: a request is
// always whole, so every exchange ends with the service's answer.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/fuzz_input.h"
#include "tools/racedata/service.h"

namespace {

racedata::RaceDataService* service = nullptr;

using fuzzing::check;

// The answer's length from its Content-Length header, npos until the headers are in.
size_t answerLength(std::string answer) {
    for (char& c : answer) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const size_t end = answer.find("\r\n\r\n");
    const size_t at = answer.find("\r\ncontent-length:");
    if (end == std::string::npos) {
        return end;
    }
    return end + 4 + (at < end ? std::strtoull(answer.c_str() + at + 17, nullptr, 10) : 0);
}

// Connects to the service. libFuzzer's timeout alarm (SIGALRM) interrupts system calls; an
// interrupted connect goes on in the background, so its outcome is waited for, not retried.
bool connectToService(int fd, std::string& why) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(service->port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        return true;
    }
    if (errno != EINTR) {
        why = std::strerror(errno);
        return false;
    }
    pollfd wanted{fd, POLLOUT, 0};
    int ready;
    do {
        ready = ::poll(&wanted, 1, 10000);
    } while (ready < 0 && errno == EINTR);
    int error = 0;
    socklen_t length = sizeof error;
    if (ready <= 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error) {
        why = ready == 0 ? "no connection within 10 s" : std::strerror(error ? error : errno);
        return false;
    }
    return true;
}

// Sends `request` and reads the answer it gets; "" when none came within 10 s.
std::string exchange(const std::string& request) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    check(fd >= 0, "no socket", request);
    timeval wait{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    std::string why;
    check(connectToService(fd, why), "the service no longer accepts connections", why);
    size_t sent = 0;
    while (sent < request.size()) {
        ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;  // the service may close early on a request it refuses
        }
        sent += static_cast<size_t>(n);
    }
    std::string answer;
    char buffer[4096];
    while (answer.size() < answerLength(answer) || answerLength(answer) == std::string::npos) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        answer.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return answer;
}

bool waitsForBody(const std::string& line) {
    const size_t at = line.find_first_not_of(" \t");
    for (const char* name : {"content-length", "transfer-encoding", "connection", "expect"}) {
        if (at != std::string::npos &&
            strncasecmp(line.c_str() + at, name, std::strlen(name)) == 0) {
            return true;
        }
    }
    return false;
}

std::string makeRequest(fuzzing::Input& in) {
    std::string target = in.until('\n');
    for (char& c : target) {
        if (c == '\r') {
            c = ' ';
        }
    }
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    while (!in.empty()) {
        std::string line = in.until('\n');
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        if (!line.empty() && !waitsForBody(line)) {
            request += line + "\r\n";
        }
    }
    return request + "Connection: close\r\n\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::filesystem::path dir = fuzzing::scratchPath("racedata-fuzz");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "files");
    racedata::ServiceOptions options;
    options.bindAddress = "127.0.0.1";
    options.port = 0;
    options.plain = true;
    options.threads = 2;
    // One client asking as fast as it can is what a fuzzer is.
    options.requestsPerSecond = 0;
    options.databasePath = (dir / "race.db").string();
    options.filesDirectory = (dir / "files").string();
    std::ofstream(dir / "files" / "Qm_Korvane_Plugin.ver") << "3.014\n";
    service = new racedata::RaceDataService(options);
    const std::string why = service->start();
    check(why.empty(), "the service does not start", why);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::Input in(data, size);
    const std::string request = makeRequest(in);
    const int64_t dataBefore = service->store().dataReportCount();
    const int64_t lapBefore = service->store().lapReportCount();

    const std::string answer = exchange(request);
    check(!answer.empty(), "a request went unanswered", request);
    check(answer.compare(0, 9, "HTTP/1.1 ") == 0 && answer.size() >= 12,
          "the answer is no HTTP answer", request);
    check(std::atoi(answer.substr(9, 3).c_str()) != 500,
          "the service answered with an internal error", request);
    const int64_t dataAdded = service->store().dataReportCount() - dataBefore;
    const int64_t lapAdded = service->store().lapReportCount() - lapBefore;
    check(dataAdded >= 0 && lapAdded >= 0 && dataAdded + lapAdded <= 1,
          "one request stored more than one report", request);
    return 0;
}
