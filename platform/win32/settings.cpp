#include "platform/settings.h"

#include <windows.h>

#include <string>
#include <vector>

namespace platform {

namespace {

// A path without a directory would make Windows look in the Windows directory; the programs
// mean their working directory, so every relative path is made absolute against it.
std::string resolve(const std::string& path) {
    std::vector<char> buf(MAX_PATH);
    for (;;) {
        const DWORD n =
            ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(buf.size()), buf.data(), nullptr);
        if (n == 0) {
            return path;
        }
        if (n < buf.size()) {
            return std::string(buf.data(), n);
        }
        buf.resize(n + 1);
    }
}

// A key line that starts with '[' reads back as a section header, one that starts with ';'
// as a comment: the value written would be lost while the write reported success.
bool readsAsHeaderOrComment(const std::string& key) {
    const size_t first = key.find_first_not_of(" \t\v\f\x1a");
    return first != std::string::npos && (key[first] == '[' || key[first] == ';');
}

bool hasLineBreak(const std::string& s) {
    return s.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

int profileInt(const std::string& section, const std::string& key, int defaultValue,
               const std::string& path) {
    return static_cast<int>(
        ::GetPrivateProfileIntA(section.c_str(), key.c_str(), defaultValue, resolve(path).c_str()));
}

std::string profileString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& path,
                          int bufferSize) {
    if (bufferSize <= 0) {
        return {};
    }
    std::vector<char> buf(static_cast<size_t>(bufferSize), '\0');
    const DWORD n =
        ::GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buf.data(),
                                   static_cast<DWORD>(buf.size()), resolve(path).c_str());
    return std::string(buf.data(), n < buf.size() ? n : buf.size() - 1);
}

bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path) {
    // A line break, a ']' in the section or an '=' in the key would write a line that reads
    // back as something else; such a write is refused on both builds.
    if (section.empty() || key.empty() || hasLineBreak(section) || hasLineBreak(key) ||
        hasLineBreak(value) || section.find(']') != std::string::npos ||
        key.find('=') != std::string::npos || readsAsHeaderOrComment(key)) {
        return false;
    }
    return ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                        resolve(path).c_str()) != 0;
}

}  // namespace platform
