#include "plugin/analytics/advisories_session.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "plugin/telemetry/session_query.h"

namespace analytics {

bool querySessionInt(const char* path, int32_t& out) {
    if (telemetry::querySessionValue(path) != 1) {
        return false;
    }
    // atoi's reading, but pinned to the int range: atoi itself is undefined on overflow.
    const long long value = std::strtoll(telemetry::QueryResult, nullptr, 10);
    out = value < INT32_MIN   ? INT32_MIN
          : value > INT32_MAX ? INT32_MAX
                              : static_cast<int32_t>(value);
    return true;
}

bool querySessionDouble(const char* path, double& out) {
    if (telemetry::querySessionValue(path) != 1) {
        return false;
    }
    out = std::strtod(telemetry::QueryResult, nullptr);
    return true;
}

bool querySessionText(const char* path, char* out, size_t maxChars) {
    out[0] = '\0';
    if (telemetry::querySessionValue(path) != 1) {
        return false;
    }
    size_t length = std::strlen(telemetry::QueryResult);
    if (length > maxChars) {
        length = maxChars;
        // Step back over continuation bytes so the cut falls between characters.
        while (length > 0 &&
               (static_cast<unsigned char>(telemetry::QueryResult[length]) & 0xC0) == 0x80) {
            --length;
        }
    }
    std::memcpy(out, telemetry::QueryResult, length);
    out[length] = '\0';
    return true;
}

const char* formatQueryPath(const char* pattern, int value) {
    std::snprintf(telemetry::QueryPath, sizeof telemetry::QueryPath, pattern, value);
    return telemetry::QueryPath;
}

}  // namespace analytics
