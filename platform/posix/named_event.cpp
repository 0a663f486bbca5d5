// The data-valid event without Windows: a small shared-memory object named like the event
// ("Local\\IRSDKDataValidEvent" -> "/IRSDKDataValidEvent") holds a sequence number. A signal
// raises it and wakes every futex waiter on it; a waiter returns once the number differs from
// what it saw when it began, so each reader waiting at the signal wakes, and a reader that
// starts later waits for the next one, as with a pulsed Windows event.

#include "platform/named_event.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>

#include "platform/posix/shm_names.h"

namespace platform {

namespace {

constexpr size_t kEventBytes = 64;

struct EventMapping {
    int fd = -1;
    uint32_t* word = nullptr;  // the sequence number, at offset 0 of the object
    size_t length = 0;

    void release() {
        if (word) {
            ::munmap(word, length);
        }
        if (fd >= 0) {
            ::close(fd);
        }
        fd = -1;
        word = nullptr;
        length = 0;
    }
};

bool mapEvent(int fd, bool writable, EventMapping* out) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(uint32_t))) {
        ::close(fd);
        return false;
    }
    const size_t length = static_cast<size_t>(st.st_size);
    void* p =
        ::mmap(nullptr, length, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
        ::close(fd);
        return false;
    }
    out->fd = fd;
    out->word = static_cast<uint32_t*>(p);
    out->length = length;
    return true;
}

bool openEvent(const std::string& name, EventMapping* out) {
    const int fd = ::shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    return fd >= 0 && mapEvent(fd, false, out);
}

uint32_t loadSequence(uint32_t* word) {
    return std::atomic_ref<uint32_t>(*word).load(std::memory_order_acquire);
}

int64_t monotonicMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

class PosixEventWaiter final : public NamedEventWaiter {
  public:
    PosixEventWaiter(std::string name, EventMapping m) : name_(std::move(name)), m_(m) {}
    ~PosixEventWaiter() override { m_.release(); }

    bool wait(int timeoutMs) override {
        if (waitForSignal(timeoutMs)) {
            return true;
        }
        // A writer that signals is alive, so only a quiet wait looks for a new one, and at
        // most once a second: waits of a tick time out often (16 ms against rows 16.7 ms
        // apart), and each look costs a system call.
        const int64_t now = monotonicMs();
        if (now - lastLookMs_ >= kLookEveryMs) {
            lastLookMs_ = now;
            followRestartedWriter();
        }
        return false;
    }

  private:
    static constexpr int64_t kLookEveryMs = 1000;

    bool waitForSignal(int timeoutMs) {
        const uint32_t seen = loadSequence(m_.word);
        const int64_t deadline = monotonicMs() + (timeoutMs > 0 ? timeoutMs : 0);
        for (;;) {
            timespec left{};
            timespec* limit = nullptr;
            if (timeoutMs >= 0) {
                const int64_t ms = deadline - monotonicMs();
                if (ms <= 0) {
                    return loadSequence(m_.word) != seen;
                }
                left.tv_sec = static_cast<time_t>(ms / 1000);
                left.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
                limit = &left;
            }
            // Not FUTEX_PRIVATE: the waiters live in other processes.
            const long r = ::syscall(SYS_futex, m_.word, FUTEX_WAIT, seen, limit, nullptr, 0);
            if (loadSequence(m_.word) != seen) {
                return true;
            }
            if (r != 0 && errno == ETIMEDOUT) {
                return false;
            }
            // EINTR, EAGAIN or a spurious wake-up: wait out the rest.
        }
    }

    // A writer that ends removes the name; the next one creates a new object. Waiters that
    // still hold the old one move over to it so that a restarted writer wakes them again.
    void followRestartedWriter() {
        struct stat st {};
        if (::fstat(m_.fd, &st) != 0 || st.st_nlink > 0) {
            return;
        }
        EventMapping fresh;
        if (openEvent(name_, &fresh)) {
            m_.release();
            m_ = fresh;
        }
    }

    std::string name_;
    EventMapping m_;
    int64_t lastLookMs_ = INT64_MIN / 2;
};

class PosixEventSignaller final : public NamedEventSignaller {
  public:
    PosixEventSignaller(std::string name, EventMapping m, bool creator)
        : name_(std::move(name)), m_(m), creator_(creator) {}

    ~PosixEventSignaller() override {
        if (creator_) {
            struct stat ours {};
            struct stat named {};
            const int fd = ::shm_open(name_.c_str(), O_RDONLY | O_CLOEXEC, 0);
            if (fd >= 0) {
                if (::fstat(m_.fd, &ours) == 0 && ::fstat(fd, &named) == 0 &&
                    ours.st_ino == named.st_ino && ours.st_dev == named.st_dev) {
                    ::shm_unlink(name_.c_str());
                }
                ::close(fd);
            }
        }
        m_.release();
    }

    void signal() override {
        std::atomic_ref<uint32_t>(*m_.word).fetch_add(1, std::memory_order_acq_rel);
        ::syscall(SYS_futex, m_.word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
    }

  private:
    std::string name_;
    EventMapping m_;
    bool creator_;
};

}  // namespace

std::unique_ptr<NamedEventWaiter> openNamedEvent(const std::string& windowsName) {
    const std::string name = posix::shmName(windowsName);
    EventMapping m;
    if (name.empty() || !openEvent(name, &m)) {
        return nullptr;
    }
    return std::make_unique<PosixEventWaiter>(name, m);
}

std::unique_ptr<NamedEventSignaller> createNamedEvent(const std::string& windowsName) {
    const std::string name = posix::shmName(windowsName);
    if (name.empty()) {
        return nullptr;
    }
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        bool creator = fd >= 0;
        if (fd < 0) {
            if (errno != EEXIST) {
                return nullptr;
            }
            fd = ::shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
            if (fd < 0) {
                continue;  // removed in between: create it after all
            }
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || (st.st_size < static_cast<off_t>(kEventBytes) &&
                                      ::ftruncate(fd, static_cast<off_t>(kEventBytes)) != 0)) {
            if (creator) {
                ::shm_unlink(name.c_str());
            }
            ::close(fd);
            return nullptr;
        }
        EventMapping m;
        if (!mapEvent(fd, true, &m)) {
            if (creator) {
                ::shm_unlink(name.c_str());
            }
            return nullptr;
        }
        return std::make_unique<PosixEventSignaller>(name, m, creator);
    }
    return nullptr;
}

}  // namespace platform
