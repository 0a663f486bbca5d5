// The settings reader and writer on any file a person (or an editor) may leave behind.
// Reading never fails; a write either is refused or reads back as written and leaves every
// other setting of the file as it was.
//
// Input: section, key and value lines, then the file's bytes.

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "platform/settings.h"

namespace {

bool sameName(const std::string& a, const std::string& b) {
    auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](char x, char y) { return lower(x) == lower(y); });
}

std::string trim(const std::string& s) {
    const char* blanks = " \t\r\n\v\f\x1a";
    const size_t b = s.find_first_not_of(blanks);
    return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(blanks) - b + 1);
}

// The (section, key) pairs the file seems to hold, found loosely: the probes only need to
// name settings, the reader decides what they hold.
std::vector<std::pair<std::string, std::string>> probes(const std::string& content) {
    std::vector<std::pair<std::string, std::string>> out;
    std::string section;
    size_t start = 0;
    while (start < content.size() && out.size() < 16) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            end = content.size();
        }
        std::string line = trim(content.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line[0] == '[' && line.find(']') != std::string::npos) {
            section = trim(line.substr(1, line.rfind(']') - 1));
        } else if (size_t eq = line.find('='); eq != std::string::npos && eq > 0) {
            out.emplace_back(section, trim(line.substr(0, eq)));
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::Input in(data, size);
    const std::string section = in.until('\n');
    const std::string key = in.until('\n');
    const std::string value = in.until('\n');
    const std::string content = in.rest();
    static const std::string path = fuzzing::scratchPath("settings-fuzz").string() + ".ini";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }

    const auto named = probes(content);
    std::map<std::pair<std::string, std::string>, std::string> before;
    for (const auto& p : named) {
        before[p] = platform::profileString(p.first, p.second, "\x01missing", path, 4096);
        (void)platform::profileInt(p.first, p.second, -7, path);
    }
    (void)platform::profileString(section, key, "default  ", path, 1 + (size % 300));
    (void)platform::profileInt(section, key, 1024, path);

    if (!platform::writeProfileString(section, key, value, path)) {
        return 0;
    }
    // A value that the reader would trim or unquote reads back differently by design. Names
    // are taken trimmed by the reader and the writer alike: " B" and "B" are one key.
    const bool plain =
        !value.empty() && trim(value) == value &&
        !(value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]);
    const std::string back = platform::profileString(section, key, "\x01missing", path, 4096);
    using fuzzing::check;
    check(!plain || value.size() >= 4096 || back == value, "a written value does not read back");
    // The sentinel itself is a value a write may carry.
    check(back != "\x01missing" || value == "\x01missing", "a written key is missing");
    for (const auto& [p, old] : before) {
        if (sameName(p.first, trim(section)) && sameName(p.second, trim(key))) {
            continue;
        }
        check(platform::profileString(p.first, p.second, "\x01missing", path, 4096) == old,
              "a write changed another setting", p.first + "/" + p.second);
    }
    return 0;
}
