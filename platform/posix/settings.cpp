// Private-profile files without Windows: the same observable behaviour as
// GetPrivateProfileIntA / GetPrivateProfileStringA / WritePrivateProfileStringA, so a settings
// file moves between the two builds unchanged.

#include "platform/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

namespace {

std::string nativePath(std::string path) {
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return path;
}

// 0x1a is the old end-of-file mark that Windows editors sometimes leave behind.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == 0x1a;
}

std::string trimLeft(const std::string& s) {
    size_t b = 0;
    while (b < s.size() && isBlank(s[b])) {
        ++b;
    }
    return s.substr(b);
}

std::string trimRight(const std::string& s) {
    size_t e = s.size();
    while (e > 0 && isBlank(s[e - 1])) {
        --e;
    }
    return s.substr(0, e);
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

enum class LineKind { kOther, kSection, kKey };

struct ParsedLine {
    LineKind kind = LineKind::kOther;
    std::string name;   // section or key name
    std::string value;  // key value
};

ParsedLine parseLine(const std::string& raw) {
    ParsedLine p;
    const std::string t = trimRight(trimLeft(raw));
    if (t.empty()) {
        return p;
    }
    if (t[0] == '[') {
        const size_t close = t.rfind(']');
        if (close != std::string::npos) {
            p.kind = LineKind::kSection;
            // "[ Setup ]" is the section "Setup", as a key line's name is taken trimmed.
            p.name = trimRight(trimLeft(t.substr(1, close - 1)));
            return p;
        }
        // Without a closing bracket Windows reads the line as an ordinary key line.
    }
    if (t[0] == ';') {
        return p;
    }
    const size_t eq = t.find('=');
    if (eq == std::string::npos) {
        return p;
    }
    p.kind = LineKind::kKey;
    p.name = trimRight(t.substr(0, eq));
    p.value = trimLeft(t.substr(eq + 1));
    if (p.name.empty()) {
        p.kind = LineKind::kOther;
    }
    return p;
}

struct ProfileFile {
    bool exists = false;
    bool readable = true;
    bool crlf = false;
    bool utf8Mark = false;  // Notepad's byte-order mark, kept when the file is written back
    std::vector<std::string> lines;  // without line ends
};

ProfileFile loadFile(const std::string& path) {
    ProfileFile f;
    FILE* fp = std::fopen(path.c_str(), "rb");
    if (!fp) {
        f.exists = errno != ENOENT && errno != ENOTDIR;
        f.readable = false;
        return f;
    }
    f.exists = true;
    std::string content;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0) {
        content.append(buf, n);
    }
    if (std::ferror(fp)) {
        f.readable = false;
    }
    std::fclose(fp);

    size_t start = 0;
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        f.utf8Mark = true;
        start = 3;
    }
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            end = content.size();
        }
        std::string line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            f.crlf = true;
        }
        f.lines.push_back(line);
        start = end + 1;
    }
    return f;
}

// Index of the first section header of that name, or -1.
int findSection(const ProfileFile& f, const std::string& section) {
    for (size_t i = 0; i < f.lines.size(); ++i) {
        const ParsedLine p = parseLine(f.lines[i]);
        if (p.kind == LineKind::kSection && sameName(p.name, section)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// One past the last line of the section that starts at `header`.
size_t sectionEnd(const ProfileFile& f, size_t header) {
    size_t i = header + 1;
    while (i < f.lines.size() && parseLine(f.lines[i]).kind != LineKind::kSection) {
        ++i;
    }
    return i;
}

// Index of the key line within the section at `header`, or -1.
int findKey(const ProfileFile& f, size_t header, const std::string& key, ParsedLine* found) {
    const size_t end = sectionEnd(f, header);
    for (size_t i = header + 1; i < end; ++i) {
        ParsedLine p = parseLine(f.lines[i]);
        if (p.kind == LineKind::kKey && sameName(p.name, key)) {
            if (found) {
                *found = p;
            }
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The names a caller asks for are taken without their surrounding blanks, as Windows takes
// them: the file's own names are read that way, so " B" and "B" are one key.
std::string trimName(const std::string& name) {
    return trimRight(trimLeft(name));
}

bool lookup(const std::string& askedSection, const std::string& askedKey, const std::string& path,
            std::string* value) {
    const std::string section = trimName(askedSection);
    const std::string key = trimName(askedKey);
    const ProfileFile f = loadFile(nativePath(path));
    if (!f.readable) {
        return false;
    }
    const int header = findSection(f, section);
    if (header < 0) {
        return false;
    }
    ParsedLine p;
    if (findKey(f, static_cast<size_t>(header), key, &p) < 0) {
        return false;
    }
    *value = p.value;
    return true;
}

// A value enclosed in matching single or double quotes loses them; a value cut by the buffer
// keeps its opening quote off but has no closing one to lose.
std::string copyOut(const std::string& value, size_t room, bool stripQuotes) {
    std::string v = value;
    bool quoted = false;
    if (stripQuotes && v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
        quoted = true;
        v.erase(0, 1);
    }
    if (v.size() > room) {
        return v.substr(0, room);
    }
    if (quoted) {
        v.pop_back();
    }
    return v;
}

bool writeWhole(const std::string& path, const ProfileFile& f) {
    const char* eol = f.crlf ? "\r\n" : "\n";
    std::string content = f.utf8Mark ? "\xEF\xBB\xBF" : "";
    for (const std::string& line : f.lines) {
        content += line;
        content += eol;
    }
    // Written beside the original and renamed over it, so a crash or a full disk never leaves
    // a half-written settings file behind.
    const std::string temp = path + ".tmp";
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    }
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        return false;
    }
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
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

std::string profileString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& path,
                          int bufferSize) {
    if (bufferSize <= 0) {
        return {};
    }
    const size_t room = static_cast<size_t>(bufferSize) - 1;
    std::string value;
    if (lookup(section, key, path, &value)) {
        return copyOut(value, room, true);
    }
    // Trailing blanks of the default are dropped, as Windows does.
    std::string def = defaultValue;
    while (!def.empty() && def.back() == ' ') {
        def.pop_back();
    }
    return copyOut(def, room, false);
}

int profileInt(const std::string& section, const std::string& key, int defaultValue,
               const std::string& path) {
    // Windows reads the value into a 30-character buffer first; an empty value is the default.
    const std::string text = profileString(section, key, "", path, 30);
    if (text.empty()) {
        return defaultValue;
    }
    size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    // Unsigned arithmetic wraps the way the Windows conversion does for oversized numbers.
    uint32_t result = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        result = result * 10u + static_cast<uint32_t>(text[i] - '0');
        ++i;
    }
    if (negative) {
        result = 0u - result;
    }
    return static_cast<int>(result);
}

bool writeProfileString(const std::string& askedSection, const std::string& askedKey,
                        const std::string& value, const std::string& path) {
    // Untrimmed, a key line of "  B" would read back as the file's "B" while a read of "  B"
    // found nothing: the write would change another setting and lose its own.
    const std::string section = trimName(askedSection);
    const std::string key = trimName(askedKey);
    // A line break, a ']' in the section or an '=' in the key would write a line that reads
    // back as something else; such a write is refused.
    if (section.empty() || key.empty() || hasLineBreak(section) || hasLineBreak(key) ||
        hasLineBreak(value) || section.find(']') != std::string::npos ||
        key.find('=') != std::string::npos || readsAsHeaderOrComment(key)) {
        return false;
    }
    const std::string file = nativePath(path);
    ProfileFile f = loadFile(file);
    if (f.exists && !f.readable) {
        // Never replace a file that could not be read: its other settings would be lost.
        return false;
    }
    const int header = findSection(f, section);
    if (header >= 0) {
        ParsedLine p;
        const int at = findKey(f, static_cast<size_t>(header), key, &p);
        if (at >= 0) {
            f.lines[static_cast<size_t>(at)] = p.name + "=" + value;
        } else {
            // After the section's last non-blank line, so a blank separator line stays where
            // it is.
            size_t end = sectionEnd(f, static_cast<size_t>(header));
            while (end > static_cast<size_t>(header) + 1 && trimLeft(f.lines[end - 1]).empty()) {
                --end;
            }
            f.lines.insert(f.lines.begin() + static_cast<std::ptrdiff_t>(end), key + "=" + value);
        }
    } else {
        if (!f.lines.empty() && !trimLeft(f.lines.back()).empty()) {
            f.lines.emplace_back();
        }
        f.lines.push_back("[" + section + "]");
        f.lines.push_back(key + "=" + value);
    }
    return writeWhole(file, f);
}

}  // namespace platform
