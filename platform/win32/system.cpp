#include "platform/system.h"

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace platform {

void beginTimerPeriod() {
    ::timeBeginPeriod(1);
}
void endTimerPeriod() {
    ::timeEndPeriod(1);
}

void raiseProcessPriority() {
    ::SetPriorityClass(::GetCurrentProcess(), HIGH_PRIORITY_CLASS);
}

// The Windows heap already serves large blocks from their own mappings and returns them on free.
void returnLargeBuffersToSystem() {}

void releaseFreedMemory() {
    ::HeapCompact(::GetProcessHeap(), 0);
}

std::string writeFileToDisk(const std::string& path, const std::string& bytes) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return errorText(static_cast<int>(::GetLastError()));
    }
    size_t written = 0;
    while (written < bytes.size()) {
        const DWORD part = static_cast<DWORD>(std::min<size_t>(bytes.size() - written, 1u << 30));
        DWORD n = 0;
        if (!::WriteFile(file, bytes.data() + written, part, &n, nullptr) || n == 0) {
            const DWORD error = ::GetLastError();
            ::CloseHandle(file);
            return errorText(static_cast<int>(error));
        }
        written += n;
    }
    if (!::FlushFileBuffers(file)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(file);
        return errorText(static_cast<int>(error));
    }
    ::CloseHandle(file);
    return "";
}

std::string errorText(int code) {
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result;
    if (n > 0 && text) {
        result.assign(text, n);
    }
    if (text) {
        ::LocalFree(text);
    }
    while (!result.empty() &&
           (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) {
        result.pop_back();
    }
    if (result.empty()) {
        result = "Unknown error " + std::to_string(code);
    }
    return result;
}

int runCommand(const std::string& commandLine) {
    return std::system(commandLine.c_str());
}

std::string executableDirectory() {
    std::vector<char> buf(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) {
            return ".";
        }
        if (n < buf.size()) {
            std::string path(buf.data(), n);
            const size_t sep = path.find_last_of("\\/");
            return sep == std::string::npos ? std::string(".") : path.substr(0, sep);
        }
        buf.resize(buf.size() * 2);
    }
}

}  // namespace platform
