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

RedirectedStdin::RedirectedStdin(const std::string& path) {
    saved_ = fromHandle(::GetStdHandle(STD_INPUT_HANDLE));
    HANDLE input = nullptr;
    if (path == kPipe) {
        HANDLE writer = nullptr;
        if (!::CreatePipe(&input, &writer, nullptr, 0)) {
            return;
        }
        writer_ = fromHandle(writer);
    } else if (!path.empty()) {
        input = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
        if (input == INVALID_HANDLE_VALUE) {
            return;
        }
    }
    if (input != nullptr) {
        input_ = fromHandle(input);
    }
    ok_ = ::SetStdHandle(STD_INPUT_HANDLE, input) != 0;
}

RedirectedStdin::~RedirectedStdin() {
    closeWriter();
    ::SetStdHandle(STD_INPUT_HANDLE, asHandle(saved_));
    if (input_ != -1) {
        ::CloseHandle(asHandle(input_));
    }
}

bool RedirectedStdin::write(const std::string& bytes) {
    DWORD n = 0;
    return writer_ != -1 &&
           ::WriteFile(asHandle(writer_), bytes.data(), static_cast<DWORD>(bytes.size()), &n,
                       nullptr) &&
           n == bytes.size();
}

void RedirectedStdin::closeWriter() {
    if (writer_ != -1) {
        ::CloseHandle(asHandle(writer_));
        writer_ = -1;
    }
}

PseudoTerminal::PseudoTerminal() = default;
PseudoTerminal::~PseudoTerminal() = default;
std::string PseudoTerminal::read(size_t, int) {
    return {};
}
void PseudoTerminal::hangUp() {}

}  // namespace platform_test
