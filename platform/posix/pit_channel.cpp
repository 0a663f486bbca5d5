// The broadcast message as a POSIX message queue owned by the receiving side. Each message is
// three 32-bit integers (kind, code, value) in the machine's byte order.

#include "platform/pit_channel.h"

#include <fcntl.h>
#include <mqueue.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace platform {

namespace {

std::mutex nameMutex;
std::string channelName = "IRSDK_BROADCASTMSG";

std::string queueName() {
    std::lock_guard<std::mutex> lock(nameMutex);
    return "/" + channelName;
}
constexpr long kMessageBytes = 3 * sizeof(int32_t);
// Room for a burst of commands (fuel and four tires in one tick) between two polls.
constexpr long kWantedMessages = 64;

// An unprivileged process may not ask for more messages than the system's msg_max.
long queueCapacity() {
    long limit = 10;
    if (FILE* f = std::fopen("/proc/sys/fs/mqueue/msg_max", "r")) {
        long v = 0;
        if (std::fscanf(f, "%ld", &v) == 1 && v > 0) {
            limit = v;
        }
        std::fclose(f);
    }
    return limit < kWantedMessages ? limit : kWantedMessages;
}

class PosixBroadcastReceiver final : public BroadcastReceiver {
  public:
    PosixBroadcastReceiver(mqd_t q, std::string name) : q_(q), name_(std::move(name)) {}
    ~PosixBroadcastReceiver() override {
        ::mq_close(q_);
        ::mq_unlink(name_.c_str());
    }

    int poll(const std::function<void(const BroadcastMessage&)>& handler) override {
        int count = 0;
        for (;;) {
            char buf[kMessageBytes];
            const ssize_t n = ::mq_receive(q_, buf, sizeof buf, nullptr);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return count;
            }
            if (n != kMessageBytes) {
                continue;  // not one of ours
            }
            BroadcastMessage m{};
            std::memcpy(&m.kind, buf, 4);
            std::memcpy(&m.code, buf + 4, 4);
            std::memcpy(&m.value, buf + 8, 4);
            ++count;
            if (handler) {
                handler(m);
            }
        }
    }

  private:
    mqd_t q_;
    std::string name_;
};

}  // namespace

bool sendBroadcastMessage(int32_t kind, int32_t code, int32_t value) {
    // Opened per message: a receiver that restarted has a new queue under the same name, and
    // a cached descriptor would keep filling the dead one.
    const mqd_t q = ::mq_open(queueName().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (q == static_cast<mqd_t>(-1)) {
        return false;
    }
    char buf[kMessageBytes];
    std::memcpy(buf, &kind, 4);
    std::memcpy(buf + 4, &code, 4);
    std::memcpy(buf + 8, &value, 4);
    int r;
    do {
        r = ::mq_send(q, buf, sizeof buf, 0);
    } while (r != 0 && errno == EINTR);
    ::mq_close(q);
    return r == 0;
}

std::unique_ptr<BroadcastReceiver> createBroadcastReceiver() {
    mq_attr attr{};
    attr.mq_maxmsg = queueCapacity();
    attr.mq_msgsize = kMessageBytes;
    const std::string name = queueName();
    const mqd_t q =
        ::mq_open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CREAT | O_CLOEXEC, 0600, &attr);
    if (q == static_cast<mqd_t>(-1)) {
        return nullptr;
    }
    mq_attr actual{};
    if (::mq_getattr(q, &actual) != 0 || actual.mq_msgsize != kMessageBytes) {
        // A queue of that name with another message size is not ours to read.
        ::mq_close(q);
        return nullptr;
    }
    auto receiver = std::make_unique<PosixBroadcastReceiver>(q, name);
    // Messages left in a queue by a receiver that died were broadcast to nobody; drop them
    // as Windows drops a broadcast no window was there to get.
    receiver->poll(nullptr);
    return receiver;
}

void setBroadcastChannelName(const std::string& name) {
    std::string clean;
    for (char c : name) {
        clean += (c == '/' || c == '\\') ? '_' : c;
    }
    std::lock_guard<std::mutex> lock(nameMutex);
    channelName = clean.empty() ? std::string("IRSDK_BROADCASTMSG") : clean;
}

}  // namespace platform
