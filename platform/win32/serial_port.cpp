#include "platform/serial_port.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace platform {

namespace {

class Win32SerialPort final : public SerialPort {
  public:
    explicit Win32SerialPort(HANDLE h) : h_(h) {}
    ~Win32SerialPort() override { ::CloseHandle(h_); }
    int write(const char* data, int length) override {
        if (!data || length <= 0) {
            return 0;
        }
        DWORD written = 0;
        // The write total time-out (2 ms per byte) ends the call; a short count is the answer.
        if (!::WriteFile(h_, data, static_cast<DWORD>(length), &written, nullptr)) {
            return static_cast<int>(written);
        }
        return static_cast<int>(written);
    }

  private:
    HANDLE h_;
};

}  // namespace

bool listDeviceNames(std::string* names, int* errorCode, int bufferSize) {
    if (bufferSize <= 0) {
        bufferSize = 1;
    }
    std::vector<char> buf(static_cast<size_t>(bufferSize), '\0');
    const DWORD n = ::QueryDosDeviceA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) {
        if (errorCode) {
            *errorCode = static_cast<int>(::GetLastError());
        }
        return false;
    }
    if (names) {
        names->assign(buf.data(), n);
        // Always end with the empty name, whatever the count included.
        names->append(2, '\0');
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
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", number);
    HANDLE h = ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return fail(SerialOpenFailure::kOpen);
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(h, &dcb)) {
        ::CloseHandle(h);
        return fail(SerialOpenFailure::kSettings);
    }
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    if (!::SetCommState(h, &dcb)) {
        ::CloseHandle(h);
        return fail(SerialOpenFailure::kSettings);
    }
    ::SetupComm(h, 8192, 8192);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 2;
    timeouts.WriteTotalTimeoutConstant = 0;
    ::SetCommTimeouts(h, &timeouts);
    ::PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    if (failure) {
        *failure = SerialOpenFailure::kNone;
    }
    return std::make_unique<Win32SerialPort>(h);
}

void setSerialDeviceDirectory(const std::string&) {}

}  // namespace platform
