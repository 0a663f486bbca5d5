#pragma once
// Session-text look-ups shared by the advisories and the session-join line. A value counts only
// when its query finds it whole; otherwise the caller keeps what it had.

#include <cstddef>
#include <cstdint>

namespace analytics {

// The whole number at the start of the value at `path` (a trailing unit word is ignored; a
// word such as "unlimited" reads as 0). False, with `out` untouched, when the value is missing.
bool querySessionInt(const char* path, int32_t& out);
// The same for a real number.
bool querySessionDouble(const char* path, double& out);
// The value's first `maxChars` bytes, never cutting a UTF-8 character in two; empty when the
// value is missing. `out` holds at least maxChars + 1 bytes.
bool querySessionText(const char* path, char* out, size_t maxChars);

// printf into the shared QueryPath, for paths that carry a number.
const char* formatQueryPath(const char* pattern, int value);

}  // namespace analytics
