#include "tools/simfeed/ini_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace simfeed {

std::string trim(const std::string& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) {
        ++b;
    }
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) {
        --e;
    }
    return s.substr(b, e - b);
}

std::string lower(const std::string& s) {
    std::string out = s;
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::optional<double> parseDouble(const std::string& text) {
    std::string s = trim(text);
    if (s.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || errno == ERANGE || !std::isfinite(v)) {
        return std::nullopt;
    }
    return v;
}

std::optional<int> parseInt(const std::string& text) {
    std::string s = trim(text);
    if (s.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 10);
    if (end != s.c_str() + s.size() || errno == ERANGE || v < -2147483647L || v > 2147483647L) {
        return std::nullopt;
    }
    return static_cast<int>(v);
}

std::optional<std::vector<int>> parseIntList(const std::string& text) {
    std::vector<int> out;
    std::string s = trim(text);
    if (s.empty()) {
        return out;
    }
    std::stringstream in(s);
    std::string item;
    while (std::getline(in, item, ',')) {
        auto v = parseInt(item);
        if (!v) {
            return std::nullopt;
        }
        out.push_back(*v);
    }
    return out;
}

IniFile IniFile::parse(const std::string& text, const std::string& sourceName) {
    IniFile ini;
    ini.source_ = sourceName;
    std::stringstream in(text);
    std::string raw;
    int lineNo = 0;
    Section* current = nullptr;
    while (std::getline(in, raw)) {
        ++lineNo;
        if (!raw.empty() && raw.back() == '\r') {
            raw.pop_back();
        }
        std::string line = trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#') {
            continue;
        }
        if (line[0] == '[') {
            size_t close = line.find(']');
            if (close == std::string::npos) {
                ini.addError(sourceName + ":" + std::to_string(lineNo) +
                             ": section header without ']'");
                current = nullptr;
                continue;
            }
            std::string name = trim(line.substr(1, close - 1));
            auto it = std::find_if(ini.sections_.begin(), ini.sections_.end(),
                                   [&](const Section& s) { return lower(s.name) == lower(name); });
            if (it == ini.sections_.end()) {
                ini.sections_.push_back(Section{name, {}});
                current = &ini.sections_.back();
            } else {
                current = &*it;
            }
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            ini.addError(sourceName + ":" + std::to_string(lineNo) + ": expected key=value");
            continue;
        }
        if (current == nullptr) {
            ini.addError(sourceName + ":" + std::to_string(lineNo) + ": key outside a section");
            continue;
        }
        std::string key = trim(line.substr(0, eq));
        std::string value = line.substr(eq + 1);
        // A comment may follow a value after blanks: "Length = 5150   ; metres".
        for (size_t i = 0; i < value.size(); ++i) {
            if ((value[i] == ';' || value[i] == '#') &&
                (i == 0 || std::isspace(static_cast<unsigned char>(value[i - 1])))) {
                value.resize(i);
                break;
            }
        }
        value = trim(value);
        if (key.empty()) {
            ini.addError(sourceName + ":" + std::to_string(lineNo) + ": empty key");
            continue;
        }
        Entry& e = current->entries[lower(key)];
        e.key = key;
        e.value = value;
        e.line = lineNo;
    }
    return ini;
}

std::optional<IniFile> IniFile::load(const std::string& path, std::string* error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        if (error != nullptr) {
            *error = "cannot read " + path;
        }
        return std::nullopt;
    }
    std::stringstream buf;
    buf << f.rdbuf();
    return parse(buf.str(), path);
}

bool IniFile::hasSection(const std::string& section) const {
    return std::any_of(sections_.begin(), sections_.end(),
                       [&](const Section& s) { return lower(s.name) == lower(section); });
}

std::vector<std::string> IniFile::sections() const {
    std::vector<std::string> out;
    for (const Section& s : sections_) {
        out.push_back(s.name);
    }
    return out;
}

const IniFile::Entry* IniFile::find(const std::string& section, const std::string& key) const {
    for (const Section& s : sections_) {
        if (lower(s.name) == lower(section)) {
            auto it = s.entries.find(lower(key));
            if (it == s.entries.end()) {
                return nullptr;
            }
            it->second.used = true;
            return &it->second;
        }
    }
    return nullptr;
}

std::optional<std::string> IniFile::value(const std::string& section,
                                          const std::string& key) const {
    const Entry* e = find(section, key);
    if (e == nullptr) {
        return std::nullopt;
    }
    return e->value;
}

std::string IniFile::where(const std::string& section, const std::string& key) const {
    const Entry* e = find(section, key);
    return source_ + ":" + (e != nullptr ? std::to_string(e->line) : std::string("?")) + ": [" +
           section + "] " + key;
}

std::string IniFile::getString(const std::string& section, const std::string& key,
                               const std::string& fallback) const {
    auto v = value(section, key);
    return v ? *v : fallback;
}

double IniFile::getDouble(const std::string& section, const std::string& key,
                          double fallback) const {
    auto v = value(section, key);
    if (!v) {
        return fallback;
    }
    auto d = parseDouble(*v);
    if (!d) {
        addError(where(section, key) + ": '" + *v + "' is not a number");
        return fallback;
    }
    return *d;
}

int IniFile::getInt(const std::string& section, const std::string& key, int fallback) const {
    auto v = value(section, key);
    if (!v) {
        return fallback;
    }
    auto i = parseInt(*v);
    if (!i) {
        addError(where(section, key) + ": '" + *v + "' is not a whole number");
        return fallback;
    }
    return *i;
}

bool IniFile::getBool(const std::string& section, const std::string& key, bool fallback) const {
    auto v = value(section, key);
    if (!v) {
        return fallback;
    }
    std::string s = lower(*v);
    if (s == "1" || s == "true" || s == "yes" || s == "on") {
        return true;
    }
    if (s == "0" || s == "false" || s == "no" || s == "off") {
        return false;
    }
    addError(where(section, key) + ": '" + *v + "' is not yes or no");
    return fallback;
}

std::vector<std::string> IniFile::unusedKeys() const {
    std::vector<std::string> out;
    for (const Section& s : sections_) {
        for (const auto& [k, e] : s.entries) {
            if (!e.used) {
                out.push_back(source_ + ":" + std::to_string(e.line) + ": [" + s.name + "] " +
                              e.key);
            }
        }
    }
    return out;
}

}  // namespace simfeed
