#include "platform/console.h"

#include <windows.h>
#include <conio.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace platform {

namespace {

// Whether a handle is a console. The key check asks five times a second and the status row ten;
// under Wine each question is a round trip to the console host, and a handle's answer does not
// change, so the system is asked once per handle.
struct ConsoleAnswer {
    HANDLE handle = nullptr;
    bool console = false;
    bool of(HANDLE h) {
        if (h != handle) {
            DWORD mode = 0;
            console = ::GetConsoleMode(h, &mode) != 0;
            handle = h;
        }
        return console;
    }
};

bool inputIsConsole(HANDLE in) {
    thread_local ConsoleAnswer answer;
    return answer.of(in);
}

bool outputIsConsole(HANDLE out) {
    thread_local ConsoleAnswer answer;
    return answer.of(out);
}

}  // namespace

void writeConsoleText(const char* data, size_t size) {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE || !outputIsConsole(out)) {
        std::fwrite(data, 1, size, stdout);
        return;
    }
    std::fflush(stdout);
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(size < 65536 ? size : 65536);
        if (!::WriteConsoleA(out, data, chunk, &written, nullptr) || written == 0) {
            return;
        }
        data += written;
        size -= written;
    }
}

void enableAnsiColours() {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out != INVALID_HANDLE_VALUE && ::GetConsoleMode(out, &mode)) {
        ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

int consoleColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        return 0;
    }
    const int width = info.srWindow.Right - info.srWindow.Left + 1;
    return width > 0 ? width : 80;
}

void clearScreen() {
    std::system("cls");
}

// _kbhit only knows the console. Without one, only bytes waiting in a pipe count (a program
// typing for the driver); a file, the null device, a missing input and the end of a pipe are
// never a key, so the plugin runs on until ctrl-c or a termination signal.
bool keyWaiting() {
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    if (in == nullptr || in == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (inputIsConsole(in)) {
        return _kbhit() != 0;
    }
    if (::GetFileType(in) != FILE_TYPE_PIPE) {
        return false;
    }
    DWORD available = 0;
    return ::PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr) && available > 0;
}

bool keyCanArrive() {
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    if (in == nullptr || in == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (inputIsConsole(in)) {
        return true;
    }
    if (::GetFileType(in) != FILE_TYPE_PIPE) {
        return false;
    }
    // A pipe whose writer has gone still holds what was written before.
    DWORD available = 0;
    return ::PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr) ||
           ::GetLastError() != ERROR_BROKEN_PIPE;
}

int readKeyNoEcho() {
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    if (in != nullptr && in != INVALID_HANDLE_VALUE && !inputIsConsole(in)) {
        unsigned char c = 0;
        DWORD n = 0;
        if (!::ReadFile(in, &c, 1, &n, nullptr) || n != 1) {
            return -1;
        }
        return c;
    }
    return _getch();
}

}  // namespace platform
