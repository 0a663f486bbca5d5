#include "plugin/telemetry/session_query.h"

#include <cstring>

#include "plugin/telemetry/telemetry_client.h"

namespace telemetry {

char QueryPath[kQueryBufferSize] = {};
char QueryResult[kQueryBufferSize + 1] = {};

namespace {

enum class State { Space, Key, KeySep, Value, Newline };

}  // namespace

bool findSessionValue(const char* text, size_t limit, const char* path, const char** valueStart,
                      int* valueLength) {
    if (text == nullptr || path == nullptr) {
        return false;
    }
    State state = State::Space;
    int depth = 0;
    const char* keyStart = nullptr;
    int keyLength = 0;
    const char* valStart = nullptr;
    int valLength = 0;
    const char* pathPos = path;
    int pathDepth = 0;

    // The text is read in place in the simulator's block; `limit` keeps the scan inside the
    // mapping when the text lacks its NUL.
    for (size_t i = 0; i < limit; ++i) {
        const char* at = text + i;
        char ch = *at;
        switch (ch) {
            case '\0':
                return false;
            case ' ':
                switch (state) {
                    case State::Space:
                        ++depth;
                        break;
                    case State::Key:
                        ++keyLength;
                        break;
                    case State::KeySep:
                        break;
                    case State::Value:
                        ++valLength;
                        break;
                    case State::Newline:
                        state = State::Space;
                        ++depth;
                        break;
                }
                break;
            case '-':
                switch (state) {
                    case State::Space:
                        ++depth;
                        break;
                    case State::Key:
                        ++keyLength;
                        break;
                    case State::KeySep:
                        state = State::Value;
                        valStart = at;
                        valLength = 1;
                        break;
                    case State::Value:
                        ++valLength;
                        break;
                    case State::Newline:
                        state = State::Space;
                        ++depth;
                        break;
                }
                break;
            case ':':
                switch (state) {
                    case State::Space:
                    case State::Newline:
                        break;
                    case State::Key:
                        ++keyLength;
                        state = State::KeySep;
                        break;
                    case State::KeySep:
                        state = State::Value;
                        valStart = at;
                        break;
                    case State::Value:
                        ++valLength;
                        break;
                }
                break;
            case '\n':
            case '\r': {
                if (state == State::Newline) {
                    break;
                }
                if (depth < pathDepth) {
                    return false;
                }
                if (keyLength > 0 &&
                    std::strncmp(pathPos, keyStart, static_cast<size_t>(keyLength)) == 0) {
                    const char* after = pathPos + keyLength;
                    bool match = true;
                    if (*after == '{') {
                        const char* selector = after + 1;
                        const char* close = std::strchr(selector, '}');
                        size_t selectorLength =
                            close ? static_cast<size_t>(close - selector) : std::strlen(selector);
                        match = static_cast<size_t>(valLength) == selectorLength &&
                                (selectorLength == 0 ||
                                 std::memcmp(valStart, selector, selectorLength) == 0);
                        if (match) {
                            pathPos = close ? close + 1 : selector + selectorLength;
                        }
                    } else {
                        pathPos = after;
                    }
                    if (match) {
                        pathDepth = depth;
                        if (*pathPos == '\0') {
                            *valueStart = valLength > 0 ? valStart : at;
                            *valueLength = valLength;
                            return true;
                        }
                    }
                }
                depth = 0;
                keyLength = 0;
                valLength = 0;
                state = State::Newline;
                break;
            }
            default:
                switch (state) {
                    case State::Space:
                    case State::Newline:
                        state = State::Key;
                        keyStart = at;
                        keyLength = 1;
                        break;
                    case State::Key:
                        ++keyLength;
                        break;
                    case State::KeySep:
                        state = State::Value;
                        valStart = at;
                        valLength = 1;
                        break;
                    case State::Value:
                        ++valLength;
                        break;
                }
                break;
        }
    }
    return false;
}

namespace {

// Never destroyed: the ctrl-c handler may end the process while a tick is querying.
SessionTextIndex& processIndex() {
    static auto* index = new SessionTextIndex();
    return *index;
}
// The client whose text the index holds for the pass in progress; nullptr outside a pass.
TelemetryClient* passClient = nullptr;
bool indexEnabled = true;
// Distinct paths stay few (a dozen per refresh, one per car index asked); the bound only
// guards against a caller that invents paths without end.
constexpr size_t kMaxAnswers = 4096;

}  // namespace

void SessionTextIndex::clear() {
    copy_.clear();
    limit_ = 0;
    held_ = false;
    answers_.clear();
}

bool SessionTextIndex::sync(const char* text, size_t limit) {
    if (text == nullptr) {
        clear();
        return false;
    }
    if (held_) {
        // A copy that ends in its NUL equals the text through the NUL, which is all a scan
        // reads; one cut at the limit is the same text only under the same limit.
        const bool terminated = !copy_.empty() && copy_.back() == '\0';
        const bool sameReach = terminated ? limit >= copy_.size() : limit == limit_;
        if (sameReach && (copy_.empty() || std::memcmp(text, copy_.data(), copy_.size()) == 0)) {
            return true;
        }
    }
    const void* nul = std::memchr(text, '\0', limit);
    const size_t length =
        nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) + 1 : limit;
    copy_.assign(text, text + length);
    limit_ = limit;
    held_ = true;
    answers_.clear();
    return true;
}

bool SessionTextIndex::find(const char* path, const char** valueStart, int* valueLength) {
    if (!held_ || path == nullptr) {
        return false;
    }
    auto it = answers_.find(std::string_view(path));
    if (it == answers_.end()) {
        Answer answer;
        const char* start = nullptr;
        int length = 0;
        if (findSessionValue(copy_.data(), copy_.size(), path, &start, &length)) {
            answer.found = true;
            answer.offset = static_cast<size_t>(start - copy_.data());
            answer.length = length;
        }
        if (answers_.size() >= kMaxAnswers) {
            answers_.clear();
        }
        it = answers_.emplace(path, answer).first;
    }
    if (!it->second.found) {
        return false;
    }
    *valueStart = copy_.data() + it->second.offset;
    *valueLength = it->second.length;
    return true;
}

SessionQueryPass::SessionQueryPass(TelemetryClient& client) : previous_(passClient) {
    passClient = nullptr;
    if (indexEnabled && client.isTelemetryLive()) {
        size_t limit = 0;
        const char* text = client.sessionText(&limit);
        if (processIndex().sync(text, limit)) {
            passClient = &client;
        }
    }
}

SessionQueryPass::SessionQueryPass() : SessionQueryPass(Telemetry()) {}

SessionQueryPass::~SessionQueryPass() {
    passClient = previous_;
}

void setSessionQueryIndexEnabled(bool enabled) {
    indexEnabled = enabled;
    if (!enabled) {
        processIndex().clear();
    }
}

int querySessionValue(TelemetryClient& client, const char* path) {
    if (path == nullptr || !client.isTelemetryLive()) {
        return 0;
    }
    const char* start = nullptr;
    int length = 0;
    if (indexEnabled && passClient == &client) {
        if (!processIndex().find(path, &start, &length)) {
            return 0;
        }
    } else {
        size_t limit = 0;
        const char* text = client.sessionText(&limit);
        if (text == nullptr || !findSessionValue(text, limit, path, &start, &length)) {
            return 0;
        }
    }
    size_t n = length < kQueryBufferSize ? static_cast<size_t>(length) : kQueryBufferSize;
    std::memmove(QueryResult, start, n);
    QueryResult[n] = '\0';
    return length <= kQueryBufferSize ? 1 : -length;
}

int querySessionValue(const char* path) {
    return querySessionValue(Telemetry(), path);
}

}  // namespace telemetry
