// Named blocks as POSIX shared-memory objects.
//
// Touching a page of a mapping that lies beyond the object's current end raises SIGBUS. Three
// things keep a reader clear of it: this layer never shrinks an object (a creator that finds
// an existing one only grows it, and reserves the memory up front so a full /dev/shm cannot
// fault later); copyOut() survives a foreign program truncating the object under the copy; and
// size() reports min(mapped length, current object size) from fstat, so a reader that found
// the object shrunk can check each offset against it.

#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/shared_memory_copy.h"
#include "platform/posix/shm_names.h"

namespace platform {

namespace {

thread_local int lastError = 0;
thread_local SharedMemoryStep lastStep = SharedMemoryStep::kMapping;

std::unique_ptr<SharedMemory> failWith(int code,
                                       SharedMemoryStep step = SharedMemoryStep::kMapping) {
    lastError = code;
    lastStep = step;
    return nullptr;
}

bool sameObject(const std::string& name, const struct stat& ours) {
    const int fd = ::shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    const bool same = ::fstat(fd, &st) == 0 && st.st_dev == ours.st_dev && st.st_ino == ours.st_ino;
    ::close(fd);
    return same;
}

class PosixSharedMemory final : public SharedMemory {
  public:
    PosixSharedMemory(std::string name, int fd, uint8_t* data, size_t mapped, bool creator)
        : name_(std::move(name)), fd_(fd), data_(data), mapped_(mapped), creator_(creator) {}

    ~PosixSharedMemory() override {
        removeName();
        ::munmap(data_, mapped_);
        ::close(fd_);  // and with it the hold on the block
    }

    void removeName() override {
        if (creator_) {
            // Only our own object: the name may already lead to a newer one.
            struct stat ours {};
            if (::fstat(fd_, &ours) == 0 && ours.st_nlink > 0 && sameObject(name_, ours)) {
                ::shm_unlink(name_.c_str());
            }
        }
    }

    uint8_t* data() override { return data_; }

    size_t size() const override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            return mapped_;
        }
        const size_t now = st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
        return now < mapped_ ? now : mapped_;
    }

    size_t mappedSize() const override { return mapped_; }

    bool copyOut(size_t offset, void* destination, size_t length) override {
        return posix::copyUnlessPagesGone(destination, data_ + offset, length);
    }

    bool stale() const override {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 && st.st_nlink == 0;
    }

  private:
    std::string name_;
    int fd_;
    uint8_t* data_;
    size_t mapped_;
    bool creator_;
};

std::unique_ptr<SharedMemory> openExisting(const std::string& windowsName) {
    const std::string name = posix::shmName(windowsName);
    if (name.empty()) {
        return failWith(EINVAL);
    }
    const int fd = ::shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) {
        return failWith(errno);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        return failWith(e);
    }
    if (st.st_size <= 0) {
        // Created but not sized yet: treat like a block that does not exist yet.
        ::close(fd);
        return failWith(ENOENT);
    }
    const size_t length = static_cast<size_t>(st.st_size);
    void* p = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
        const int e = errno;
        ::close(fd);
        return failWith(e);
    }
    return std::make_unique<PosixSharedMemory>(name, fd, static_cast<uint8_t*>(p), length, false);
}

// Grows the object to `size` bytes with its memory reserved, so that a later write into it
// cannot fault on a full /dev/shm.
int reserve(int fd, size_t size) {
    const int r = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (r == 0) {
        return 0;
    }
    if (r == EOPNOTSUPP || r == EINVAL) {
        return ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
    }
    return r;
}

// Whoever holds a block made by createSharedMemory holds a shared lock on it for as long as the
// block lives (the lock goes with the descriptor, so also when the program crashes or is
// killed). An existing block that nobody holds was left behind by such an end: its content is
// stale and other programs would go on reading it. Answers whether `fd` is such a block, and
// otherwise joins its holders.
enum class Holders { kJoined, kNone, kBusy };

// `patient`: a block of no size yet is taken as being made (its maker sizes it only once it
// holds it) rather than as left behind half made.
Holders joinHolders(int fd, bool patient) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Held. Waits at most for another program's own check of this kind to end.
        return ::flock(fd, LOCK_SH) == 0 ? Holders::kJoined : Holders::kBusy;
    }
    struct stat st {};
    if (patient && ::fstat(fd, &st) == 0 && st.st_size == 0) {
        ::flock(fd, LOCK_UN);
        return Holders::kBusy;
    }
    return Holders::kNone;
}

}  // namespace

std::unique_ptr<SharedMemory> openSharedMemoryReadOnly(const std::string& name) {
    return openExisting(name);
}

std::unique_ptr<SharedMemory> createSharedMemory(const std::string& windowsName, size_t size) {
    const std::string name = posix::shmName(windowsName);
    if (name.empty() || size == 0) {
        return failWith(EINVAL);
    }
    int fd = -1;
    bool creator = false;
    int lastErrno = EAGAIN;
    // The object may vanish between a failed exclusive create and the open, or be in another
    // program's hands for an instant; try again then.
    for (int attempt = 0; attempt < 50 && fd < 0; ++attempt) {
        if (attempt > 0) {
            ::usleep(1000);
        }
        fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            creator = true;
            if (::flock(fd, LOCK_SH) != 0) {
                const int e = errno;
                ::shm_unlink(name.c_str());
                ::close(fd);
                return failWith(e);
            }
            break;
        }
        if (errno != EEXIST) {
            return failWith(errno);
        }
        fd = ::shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
        if (fd < 0) {
            if (errno != ENOENT) {
                return failWith(errno);
            }
            continue;
        }
        const Holders holders = joinHolders(fd, attempt < 40);
        if (holders == Holders::kJoined) {
            break;
        }
        if (holders == Holders::kNone) {
            // Left by a run that ended without removing it: replaced by a fresh one.
            struct stat st {};
            if (::fstat(fd, &st) == 0 && sameObject(name, st)) {
                ::shm_unlink(name.c_str());
            }
        }
        lastErrno = EBUSY;
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) {
        return failWith(lastErrno);
    }
    auto fail = [&](int e, SharedMemoryStep step) {
        if (creator) {
            ::shm_unlink(name.c_str());
        }
        ::close(fd);
        return failWith(e, step);
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return fail(errno, SharedMemoryStep::kMapping);
    }
    size_t length = st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
    if (length < size) {
        // Never shrink: readers may have mapped the larger size.
        const int r = reserve(fd, size);
        if (r != 0) {
            return fail(r, SharedMemoryStep::kMapping);
        }
        length = size;
    }
    void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
        return fail(errno, SharedMemoryStep::kView);
    }
    return std::make_unique<PosixSharedMemory>(name, fd, static_cast<uint8_t*>(p), length, creator);
}

SharedMemoryStep lastFailedStep() {
    return lastStep;
}

int lastErrorCode() {
    return lastError;
}

}  // namespace platform
