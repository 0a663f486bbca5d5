#pragma once
// Windows kernel-object names ("Local\\X") as POSIX shared-memory names ("/X").

#include <string>

namespace platform::posix {

inline std::string shmName(const std::string& windowsName) {
    std::string base = windowsName;
    for (const char* prefix : {"Local\\", "Global\\", "Local/", "Global/"}) {
        const std::string p = prefix;
        if (base.compare(0, p.size(), p) == 0) {
            base = base.substr(p.size());
            break;
        }
    }
    // A POSIX name holds exactly one slash, the leading one.
    for (char& c : base) {
        if (c == '/' || c == '\\') {
            c = '_';
        }
    }
    return base.empty() ? std::string() : "/" + base;
}

}  // namespace platform::posix
