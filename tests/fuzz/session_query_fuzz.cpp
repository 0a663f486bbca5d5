// The session-text scanner on any text and any path, checked against a second scanner that
// works a whole line at a time: both must find the same value (or both nothing), the value
// must lie inside the text and on one line, and the scan must stay inside the bytes it was
// given even when the text has no NUL.
//
// Input: the path, a NUL, then the text (not NUL-terminated; the scanner gets its length).

#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "plugin/telemetry/session_query.h"

namespace {

struct Found {
    bool found = false;
    size_t start = 0;  // offset in the text
    int length = 0;
};

// One line at a time: leading blanks and dashes give the depth, the key runs to its first
// colon (included), the value from the first character after the blanks that follow it to
// the end of the line. A line break right after another is no line; neither is a line of
// colons alone after a line break. A NUL, or the end of the bytes, ends the search.
Found referenceScan(std::string_view text, std::string_view path) {
    size_t pathPos = 0;
    int pathDepth = 0;
    bool afterBreak = false;
    size_t i = 0;
    while (true) {
        size_t end = i;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r' && text[end] != '\0') {
            ++end;
        }
        if (end >= text.size() || text[end] == '\0') {
            return {};
        }
        std::string_view line = text.substr(i, end - i);
        size_t p = 0;
        int depth = 0;
        while (p < line.size() && (line[p] == ' ' || line[p] == '-' || line[p] == ':')) {
            if (line[p] != ':') {
                ++depth;
            }
            ++p;
        }
        const bool skipped = afterBreak && depth == 0 && p == line.size();
        if (!skipped) {
            size_t keyStart = p;
            size_t keyEnd = line.find(':', p);
            keyEnd = keyEnd == std::string_view::npos ? line.size() : keyEnd + 1;
            size_t keyLength = keyEnd - keyStart;
            size_t valueStart = 0;
            int valueLength = 0;
            if (keyEnd <= line.size() && keyLength > 0 && line[keyEnd - 1] == ':') {
                size_t v = keyEnd;
                while (v < line.size() && line[v] == ' ') {
                    ++v;
                }
                if (v < line.size()) {
                    valueStart = i + v;
                    valueLength = static_cast<int>(line.size() - v - (line[v] == ':' ? 1 : 0));
                }
            }
            if (depth < pathDepth) {
                return {};
            }
            std::string_view rest = path.substr(pathPos);
            if (keyLength > 0 && rest.size() >= keyLength &&
                rest.substr(0, keyLength) == line.substr(keyStart, keyLength)) {
                size_t after = pathPos + keyLength;
                bool match = true;
                size_t next = after;
                if (after < path.size() && path[after] == '{') {
                    size_t close = path.find('}', after + 1);
                    size_t selEnd = close == std::string_view::npos ? path.size() : close;
                    std::string_view selector = path.substr(after + 1, selEnd - after - 1);
                    match = static_cast<size_t>(valueLength) == selector.size() &&
                            text.substr(valueStart, selector.size()) == selector;
                    next = close == std::string_view::npos ? path.size() : close + 1;
                }
                if (match) {
                    pathPos = next;
                    pathDepth = depth;
                    if (pathPos >= path.size()) {
                        return {true, valueLength > 0 ? valueStart : end, valueLength};
                    }
                }
            }
        }
        afterBreak = true;
        i = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::Input in(data, size);
    const std::string path = in.until('\0');
    const std::string rest = in.rest();
    // Exactly the text's bytes, no NUL after them.
    std::vector<char> text(rest.begin(), rest.end());
    static const char empty = 0;
    const char* base = text.empty() ? &empty : text.data();

    const char* start = nullptr;
    int length = -1;
    bool found = telemetry::findSessionValue(base, text.size(), path.c_str(), &start, &length);
    Found expected = referenceScan(std::string_view(base, text.size()), path);
    using fuzzing::check;
    check(found == expected.found,
          found ? "found a value the line scanner does not" : "missed a value", path);
    if (!found) {
        return 0;
    }
    size_t offset = static_cast<size_t>(start - base);
    check(start >= base && offset <= text.size() && length >= 0 &&
              offset + static_cast<size_t>(length) <= text.size(),
          "value outside the text", path);
    check(offset == expected.start && length == expected.length,
          "value differs from the line scanner's", path);
    check(std::string_view(start, static_cast<size_t>(length))
                  .find_first_of(std::string_view("\n\r\0", 3)) == std::string_view::npos,
          "value runs over a line end", path);
    return 0;
}
