#include <windows.h>

#include <string>

#include "os_helpers.h"

namespace platform_test {

namespace {
HANDLE asHandle(long long h) {
    return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(h));
}
long long fromHandle(HANDLE h) {
    return static_cast<long long>(reinterpret_cast<INT_PTR>(h));
}
}  // namespace

bool truncateBlock(const std::string&, long long) {
    return false;
}

StdinPipe::StdinPipe() {
    HANDLE r = nullptr;
    HANDLE w = nullptr;
    if (!::CreatePipe(&r, &w, nullptr, 0)) {
        return;
    }
    savedStdin_ = fromHandle(::GetStdHandle(STD_INPUT_HANDLE));
    reader_ = fromHandle(r);
    writer_ = fromHandle(w);
    ok_ = ::SetStdHandle(STD_INPUT_HANDLE, r) != 0;
}

StdinPipe::~StdinPipe() {
    closeWriter();
    ::SetStdHandle(STD_INPUT_HANDLE, asHandle(savedStdin_));
    if (reader_ != -1) {
        ::CloseHandle(asHandle(reader_));
    }
}

bool StdinPipe::write(const std::string& bytes) {
    DWORD n = 0;
    return writer_ != -1 &&
           ::WriteFile(asHandle(writer_), bytes.data(), static_cast<DWORD>(bytes.size()), &n,
                       nullptr) &&
           n == bytes.size();
}

void StdinPipe::closeWriter() {
    if (writer_ != -1) {
        ::CloseHandle(asHandle(writer_));
        writer_ = -1;
    }
}

StdinFrom::StdinFrom(const std::string& path) {
    savedStdin_ = fromHandle(::GetStdHandle(STD_INPUT_HANDLE));
    HANDLE file = nullptr;
    if (!path.empty()) {
        file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return;
        }
        file_ = fromHandle(file);
    }
    ok_ = ::SetStdHandle(STD_INPUT_HANDLE, file) != 0;
}

StdinFrom::~StdinFrom() {
    ::SetStdHandle(STD_INPUT_HANDLE, asHandle(savedStdin_));
    if (file_ != -1) {
        ::CloseHandle(asHandle(file_));
    }
}

PseudoTerminal::PseudoTerminal() = default;
PseudoTerminal::~PseudoTerminal() = default;
std::string PseudoTerminal::read(size_t, int) {
    return {};
}
void PseudoTerminal::hangUp() {}

}  // namespace platform_test
