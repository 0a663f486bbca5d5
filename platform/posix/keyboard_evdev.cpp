// Keyboard state from the kernel's input devices, so shortcuts work while another program (the
// simulator) has the focus, as GetAsyncKeyState does on Windows. Reading /dev/input needs root
// or membership of the "input" group.

#include "platform/keyboard.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace platform {

namespace {

constexpr const char* kInputDir = "/dev/input";
// Keyboards plugged in later are picked up at most this long after.
constexpr std::chrono::seconds kRescanInterval{5};
// A press that nobody asked about for this long is history, not a shortcut being given: without
// the limit a Home typed in a chat minutes ago would join the next chord.
constexpr std::chrono::milliseconds kPressMemory{1000};

struct KeyMapping {
    int virtualKey;
    int code;
};

constexpr KeyMapping kKeys[] = {
    {kVkPageUp, KEY_PAGEUP},
    {kVkPageDown, KEY_PAGEDOWN},
    {kVkEnd, KEY_END},
    {kVkHome, KEY_HOME},
    {kVkInsert, KEY_INSERT},
    {kVkDelete, KEY_DELETE},
    {kVkRightShift, KEY_RIGHTSHIFT},
    {kVkRightControl, KEY_RIGHTCTRL},
};

int codeOf(int virtualKey) {
    for (const KeyMapping& k : kKeys) {
        if (k.virtualKey == virtualKey) {
            return k.code;
        }
    }
    return -1;
}

constexpr size_t kKeyBytes = KEY_MAX / 8 + 1;

bool bitSet(const unsigned char* bits, int n) {
    return (bits[n / 8] >> (n % 8)) & 1;
}

struct Device {
    int fd = -1;
    std::string path;
};

class EvdevKeyboard final : public Keyboard {
  public:
    EvdevKeyboard() { scan(); }

    ~EvdevKeyboard() override {
        for (Device& d : devices_) {
            ::close(d.fd);
        }
    }

    EvdevKeyboard(const EvdevKeyboard&) = delete;
    EvdevKeyboard& operator=(const EvdevKeyboard&) = delete;

    bool available() override {
        rescanIfDue();
        return !devices_.empty();
    }

    std::string unavailableReason() override { return devices_.empty() ? reason_ : std::string(); }

    uint16_t asyncKeyState(int virtualKey) override {
        const int code = codeOf(virtualKey);
        if (code < 0) {
            return 0;
        }
        rescanIfDue();
        drainEvents();
        bool down = false;
        for (size_t i = 0; i < devices_.size();) {
            unsigned char state[kKeyBytes] = {};
            if (::ioctl(devices_[i].fd, EVIOCGKEY(sizeof(state)), state) < 0) {
                // Unplugged (ENODEV) or otherwise gone: forget it; a rescan may bring it back.
                ::close(devices_[i].fd);
                devices_.erase(devices_.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
            down = down || bitSet(state, code);
            ++i;
        }
        uint16_t result = down ? kKeyDown : 0;
        auto& pressed = lastPress_[static_cast<size_t>(code)];
        if (pressed && std::chrono::steady_clock::now() - *pressed <= kPressMemory) {
            result |= kKeyPressedSinceLastQuery;
        }
        pressed.reset();
        return result;
    }

  private:
    void rescanIfDue() {
        if (std::chrono::steady_clock::now() - lastScan_ >= kRescanInterval) {
            scan();
        }
    }

    // Opens every event device that has the keys of the shortcuts and is not open yet.
    void scan() {
        lastScan_ = std::chrono::steady_clock::now();
        DIR* dir = ::opendir(kInputDir);
        if (dir == nullptr) {
            reason_ = std::string(kInputDir) + " cannot be read (" + std::strerror(errno) + ")";
            return;
        }
        int seen = 0;
        int denied = 0;
        while (dirent* entry = ::readdir(dir)) {
            if (std::strncmp(entry->d_name, "event", 5) != 0) {
                continue;
            }
            ++seen;
            const std::string path = std::string(kInputDir) + "/" + entry->d_name;
            if (isOpen(path)) {
                continue;
            }
            const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                if (errno == EACCES || errno == EPERM) {
                    ++denied;
                }
                continue;
            }
            if (isKeyboard(fd)) {
                devices_.push_back({fd, path});
            } else {
                ::close(fd);
            }
        }
        ::closedir(dir);
        if (!devices_.empty()) {
            reason_.clear();
        } else if (seen == 0) {
            reason_ = std::string("no input devices in ") + kInputDir;
        } else if (denied > 0) {
            reason_ = std::string("no permission to read ") + kInputDir +
                      "/event* (run as a member of the \"input\" group)";
        } else {
            reason_ = std::string("no keyboard among ") + kInputDir + "/event*";
        }
    }

    bool isOpen(const std::string& path) const {
        for (const Device& d : devices_) {
            if (d.path == path) {
                return true;
            }
        }
        return false;
    }

    static bool isKeyboard(int fd) {
        unsigned char types[EV_MAX / 8 + 1] = {};
        if (::ioctl(fd, EVIOCGBIT(0, sizeof(types)), types) < 0 || !bitSet(types, EV_KEY)) {
            return false;
        }
        unsigned char keys[kKeyBytes] = {};
        if (::ioctl(fd, EVIOCGBIT(EV_KEY, sizeof(keys)), keys) < 0) {
            return false;
        }
        return bitSet(keys, KEY_HOME) && bitSet(keys, KEY_RIGHTCTRL);
    }

    // Notes key presses since the previous query, so a tap between two polls is not lost.
    void drainEvents() {
        const auto now = std::chrono::steady_clock::now();
        input_event events[64];
        for (Device& d : devices_) {
            for (;;) {
                const ssize_t n = ::read(d.fd, events, sizeof(events));
                if (n <= 0) {
                    break;
                }
                const size_t count = static_cast<size_t>(n) / sizeof(input_event);
                for (size_t i = 0; i < count; ++i) {
                    if (events[i].type == EV_KEY && events[i].value == 1 &&
                        events[i].code < lastPress_.size()) {
                        lastPress_[events[i].code] = now;
                    }
                }
            }
        }
    }

    std::vector<Device> devices_;
    std::vector<std::optional<std::chrono::steady_clock::time_point>> lastPress_ =
        std::vector<std::optional<std::chrono::steady_clock::time_point>>(KEY_MAX + 1);
    std::string reason_;
    std::chrono::steady_clock::time_point lastScan_{};
};

Keyboard* installed = nullptr;

}  // namespace

Keyboard& keyboard() {
    if (installed != nullptr) {
        return *installed;
    }
    static EvdevKeyboard system;
    return system;
}

void setKeyboard(Keyboard* k) {
    installed = k;
}

}  // namespace platform
