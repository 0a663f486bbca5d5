#include "plugin/links/serial_pit_board.h"

#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "common/console_tags.h"
#include "common/settings_file.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "platform/system.h"
#include "plugin/links/ctrl_c.h"
#include "plugin/engineer/race_state.h"

namespace links {

namespace {

constexpr int kDeviceListBytes = 40000;
constexpr int kPortListCapacity = 32;
constexpr int kLineBytes = 4096;

bool systemDeviceNames(std::string* names, int* errorCode) {
    return platform::listDeviceNames(names, errorCode, kDeviceListBytes);
}

std::atomic<DeviceNameSource> deviceNameSource{systemDeviceNames};

// The open port. The main thread writes through it; the ctrl-c handler may close it from its
// own thread (Windows) or from a signal interrupting the main thread (POSIX), so access goes
// through a flag that is only ever tried, never waited on without bound: a handler that
// interrupted a write must not deadlock on it.
platform::SerialPort* serialPort = nullptr;
std::atomic<bool> portBusy{false};

bool tryTakePort() {
    return !portBusy.exchange(true, std::memory_order_acquire);
}
void givePortBack() {
    portBusy.store(false, std::memory_order_release);
}

void replacePort(platform::SerialPort* next) {
    // The main thread is the only writer, so this never waits in practice.
    while (!tryTakePort()) {
        std::this_thread::yield();
    }
    delete serialPort;
    serialPort = next;
    givePortBack();
}

}  // namespace

void SetDeviceNameSource(DeviceNameSource source) {
    deviceNameSource.store(source ? source : systemDeviceNames);
}

int FindComPorts(int* list, int* count) {
    const int capacity = count ? *count : 0;
    if (count) {
        *count = 0;
    }
    std::string names;
    int error = 0;
    if (!deviceNameSource.load()(&names, &error)) {
        if (error == 122) {
            std::printf("needs more room!\n");
        }
        return -1;
    }
    int highest = -1;
    const char* p = names.data();
    const char* end = p + names.size();
    // Bounded by the list's length: a list without its closing empty name ends there.
    while (p < end && *p) {
        const size_t len = strnlen(p, static_cast<size_t>(end - p));
        if (len > 3 && std::strncmp(p, "COM", 3) == 0 && p[3] >= '0' && p[3] <= '9') {
            long long number = 0;
            for (size_t i = 3; i < len && p[i] >= '0' && p[i] <= '9'; ++i) {
                number = number * 10 + (p[i] - '0');
                if (number > INT_MAX) {
                    number = INT_MAX;
                }
            }
            const int n = static_cast<int>(number);
            if (count && list && *count < capacity) {
                list[*count] = n;
                ++*count;
            }
            if (n > highest) {
                highest = n;
            }
        }
        p += len + 1;
    }
    return highest;
}

bool OpenSerialPitBoard() {
    InstallCtrlCHandler();
    platform::raiseProcessPriority();
    platform::beginTimerPeriod();

    if (!common::readUseSerial()) {
        std::printf(KV_TAG_OK "Setting Serial Offline.\n");
        std::fflush(stdout);
        platform::sleepMs(2000);
        return true;
    }
    engineer::Race().UseSerial = 1;
    std::printf(KV_TAG_OK "Initilaising Serial..\n");
    std::fflush(stdout);

    int ports[kPortListCapacity];
    int count = kPortListCapacity;
    const int number = FindComPorts(ports, &count);

    std::unique_ptr<platform::SerialPort> port = platform::openSerialPort(number);
    if (!port) {
        replacePort(nullptr);
        std::printf(KV_TAG_FAIL "Unable to open a Serial Port %d\n", number);
        std::fflush(stdout);
        engineer::Race().UseSerial = 0;
        platform::sleepMs(3000);
        return false;
    }
    replacePort(port.release());
    std::printf(KV_TAG_OK "Setting Highest Available Serial Port:%d\n", number);
    std::fflush(stdout);
    platform::sleepMs(3000);
    return true;
}

int WriteSerialLine(const char* format, ...) {
    if (!format) {
        return 0;
    }
    char line[kLineBytes];
    va_list args;
    va_start(args, format);
    const int formatted = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    line[kLineBytes - 1] = '\0';
    if (formatted <= 0) {
        return 0;
    }
    const int length = formatted < kLineBytes - 1 ? formatted : kLineBytes - 1;
    if (!tryTakePort()) {
        return 0;  // being closed by the ctrl-c handler
    }
    const int written = serialPort ? serialPort->write(line, length) : 0;
    givePortBack();
    return written;
}

void CloseSerialPitBoard() {
    // Called by the orderly shutdown and by the ctrl-c handler. A handler that finds the port
    // in the middle of a write lets the process exit close it instead.
    for (int attempt = 0; attempt < 100000; ++attempt) {
        if (tryTakePort()) {
            delete serialPort;
            serialPort = nullptr;
            givePortBack();
            return;
        }
        std::this_thread::yield();
    }
}

}  // namespace links
