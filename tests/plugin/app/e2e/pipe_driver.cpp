// Runs a command with its standard input on a pipe made by the C runtime, as a program started
// from a console would be, and plays the driver's key: once the trigger file named on the
// command line appears, one key goes down the pipe. Exits with the command's exit code.
//
//   pipe_driver TRIGGER_FILE TIMEOUT_SECONDS COMMAND...
//
// Under Wine a pipe handed over from Linux is not a Windows pipe and cannot be peeked; this
// runs inside Wine so that the plugin gets a real one.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#ifdef _WIN32
#define KV_POPEN _popen
#define KV_PCLOSE _pclose
#else
#define KV_POPEN popen
#define KV_PCLOSE pclose
#endif

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: pipe_driver TRIGGER_FILE TIMEOUT_SECONDS COMMAND...\n");
        return 2;
    }
    const std::filesystem::path trigger = argv[1];
    const int timeoutSeconds = std::atoi(argv[2]);
    std::string command;
    for (int i = 3; i < argc; ++i) {
        if (i > 3) {
            command += ' ';
        }
        command += argv[i];
    }
    std::fflush(stdout);
    std::FILE* input = KV_POPEN(command.c_str(), "w");
    if (!input) {
        std::perror("pipe_driver: cannot start the command");
        return 2;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        if (std::filesystem::exists(trigger, ec)) {
            std::fputs("q", input);
            std::fflush(input);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Closing the pipe ends the input, which the plugin also takes as a key.
    const int status = KV_PCLOSE(input);
#ifdef _WIN32
    return status;
#else
    return status >= 0 ? (status >> 8) & 0xff : 2;
#endif
}
