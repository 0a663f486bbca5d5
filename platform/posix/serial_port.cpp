#include "platform/serial_port.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>

namespace platform {

namespace {

std::mutex directoryMutex;
std::string directoryOverride;

std::string deviceDirectory() {
    {
        std::lock_guard<std::mutex> lock(directoryMutex);
        if (!directoryOverride.empty()) {
            return directoryOverride;
        }
    }
    const char* env = std::getenv("KORVANE_SERIAL_DIR");
    return (env && *env) ? std::string(env) : std::string("/dev");
}

// The decimal number that makes up the rest of `name` after `prefix`, or -1.
int suffixNumber(const std::string& name, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (name.size() <= n || name.compare(0, n, prefix) != 0 || name.size() - n > 6) {
        return -1;
    }
    int value = 0;
    for (size_t i = n; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return -1;
        }
        value = value * 10 + (name[i] - '0');
    }
    return value;
}

// /dev holds ttyS0..ttyS31 whether or not a UART is behind them; the kernel's port type 0
// means there is none.
bool uartPresent(const std::string& name) {
    const std::string path = "/sys/class/tty/" + name + "/type";
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) {
        return false;
    }
    int type = 0;
    const bool ok = std::fscanf(f, "%d", &type) == 1;
    std::fclose(f);
    return ok && type != 0;
}

struct Candidate {
    std::string path;
    bool explicitName = false;
};

// COM number -> device path, for the devices of the directory.
bool scanPorts(std::map<int, Candidate>* ports, int* error) {
    const std::string dir = deviceDirectory();
    DIR* d = ::opendir(dir.c_str());
    if (!d) {
        *error = errno;
        return false;
    }
    const bool systemDirectory = dir == "/dev";
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        int number = -1;
        bool explicitName = false;
        int k;
        if ((k = suffixNumber(name, "COM")) >= 0) {
            number = k;
            explicitName = true;
        } else if ((k = suffixNumber(name, "ttyUSB")) >= 0 && k < 100) {
            number = k + 100;
        } else if ((k = suffixNumber(name, "ttyACM")) >= 0 && k < 100) {
            number = k + 200;
        } else if ((k = suffixNumber(name, "ttyS")) >= 0 && k < 99) {
            if (!systemDirectory || uartPresent(name)) {
                number = k + 1;
            }
        }
        if (number < 0) {
            continue;
        }
        auto it = ports->find(number);
        if (it == ports->end() || (explicitName && !it->second.explicitName)) {
            (*ports)[number] = Candidate{dir + "/" + name, explicitName};
        }
    }
    ::closedir(d);
    return true;
}

int64_t monotonicMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

class PosixSerialPort final : public SerialPort {
  public:
    explicit PosixSerialPort(int fd) : fd_(fd) {}
    ~PosixSerialPort() override {
        ::ioctl(fd_, TIOCNXCL);
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
    }

    int write(const char* data, int length) override {
        if (!data || length <= 0) {
            return 0;
        }
        // The same bound as the Windows write time-out: 2 ms per byte, so neither a stalled
        // device nor one that vanished holds the tick longer.
        const int64_t deadline = monotonicMs() + 2 * static_cast<int64_t>(length);
        int done = 0;
        while (done < length) {
            const ssize_t n = ::write(fd_, data + done, static_cast<size_t>(length - done));
            if (n > 0) {
                done += static_cast<int>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                break;  // the device is gone or refuses
            }
            const int64_t left = deadline - monotonicMs();
            if (left <= 0) {
                break;
            }
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) {
                break;
            }
            if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
                break;
            }
        }
        return done;
    }

  private:
    int fd_;
};

}  // namespace

bool listDeviceNames(std::string* names, int* errorCode, int bufferSize) {
    std::map<int, Candidate> ports;
    int error = 0;
    if (!scanPorts(&ports, &error)) {
        if (errorCode) {
            *errorCode = error;
        }
        return false;
    }
    std::string list;
    for (const auto& [number, candidate] : ports) {
        list += "COM" + std::to_string(number);
        list += '\0';
    }
    list += '\0';
    if (list.size() > static_cast<size_t>(bufferSize > 0 ? bufferSize : 0)) {
        if (errorCode) {
            *errorCode = 122;  // as Windows: the list does not fit
        }
        return false;
    }
    if (names) {
        *names = list;
    }
    if (errorCode) {
        *errorCode = 0;
    }
    return true;
}

std::unique_ptr<SerialPort> openSerialPort(int number, SerialOpenFailure* failure) {
    auto fail = [failure](SerialOpenFailure why) -> std::unique_ptr<SerialPort> {
        if (failure) {
            *failure = why;
        }
        return nullptr;
    };
    std::map<int, Candidate> ports;
    int error = 0;
    if (!scanPorts(&ports, &error)) {
        return fail(SerialOpenFailure::kOpen);
    }
    const auto it = ports.find(number);
    if (it == ports.end()) {
        return fail(SerialOpenFailure::kOpen);
    }
    // Non-blocking, so neither the open (modem lines) nor a write can hang; not our
    // controlling terminal, so the device can never send us signals.
    const int fd = ::open(it->second.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return fail(SerialOpenFailure::kOpen);
    }
    // Not shared, as on Windows: another program holding the port makes it busy.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return fail(SerialOpenFailure::kOpen);
    }
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        ::close(fd);
        return fail(SerialOpenFailure::kSettings);
    }
    ::ioctl(fd, TIOCEXCL);
    // Raw: the line goes out byte for byte (no CR/LF translation); flow control stays as the
    // driver has it.
    const tcflag_t flowControl = t.c_cflag & CRTSCTS;
    ::cfmakeraw(&t);
    t.c_cflag &= static_cast<tcflag_t>(~(CSIZE | PARENB | CSTOPB | CRTSCTS));
    t.c_cflag |= CS8 | CREAD | CLOCAL | flowControl;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, B9600) != 0 || ::cfsetospeed(&t, B9600) != 0 ||
        ::tcsetattr(fd, TCSANOW, &t) != 0) {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return fail(SerialOpenFailure::kSettings);
    }
    ::tcflush(fd, TCIOFLUSH);
    if (failure) {
        *failure = SerialOpenFailure::kNone;
    }
    return std::make_unique<PosixSerialPort>(fd);
}

void setSerialDeviceDirectory(const std::string& directory) {
    std::lock_guard<std::mutex> lock(directoryMutex);
    directoryOverride = directory;
}

}  // namespace platform
