#pragma once
// The feed program started by a test in its own process, in a scratch directory of its own,
// and stopped again through its stop file.

#include <string>
#include <vector>

namespace simfeedtest {

// A path from the test's environment as this process can open it: under Wine a Unix path
// is reached through drive Z:.
std::string hostPath(const std::string& unixPath);

class FeedProcess {
  public:
    explicit FeedProcess(const std::string& name);
    ~FeedProcess();
    FeedProcess(const FeedProcess&) = delete;
    FeedProcess& operator=(const FeedProcess&) = delete;

    // Starts the feed in the background with `args` plus its log and stop file. False with
    // error() when the program is not found or cannot be started.
    bool start(const std::vector<std::string>& args);
    // Asks the feed to stop and waits until its log shows that it has.
    bool stop(int timeoutMs = 20000);
    bool waitForLogLine(const std::string& text, int timeoutMs);
    // Sends the feed the interrupt a ctrl-c sends (POSIX builds only; false elsewhere).
    bool interrupt();

    std::string dir() const { return dir_; }
    std::string logText() const;
    // "code=C value=V" of every pit command the feed logged, in order.
    std::vector<std::string> pitCommands() const;
    const std::string& error() const { return error_; }

  private:
    std::string dir_;
    std::string log_;
    std::string stopFile_;
    std::string pidFile_;
    std::string error_;
    bool running_ = false;
};

}  // namespace simfeedtest
