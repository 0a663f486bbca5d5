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

    std::string logText() const;
    const std::string& error() const { return error_; }

  private:
    std::string dir_;
    std::string log_;
    std::string stopFile_;
    std::string error_;
    bool running_ = false;
};

}  // namespace simfeedtest
