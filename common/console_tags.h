#pragma once
// Status tags that begin the programs' console lines: one blank, the bracketed tag, two blanks.
// Coloured tags are green (ESC[32m) or yellow (ESC[33m) and reset with ESC[0m.

namespace common {

inline constexpr const char* kTagOk = " [\033[32m  OK  \033[0m]  ";
inline constexpr const char* kTagInit = " [\033[32m INIT \033[0m]  ";
inline constexpr const char* kTagWait = " [\033[33m WAIT \033[0m]  ";
inline constexpr const char* kTagFail = " [\033[33m FAIL \033[0m]  ";
inline constexpr const char* kTagDebug = " [\033[33m DEBUG \033[0m]  ";
inline constexpr const char* kTagFmod = " [ FMOD ]  ";
inline constexpr const char* kTagInfo = " [ INFO ]  ";

// The same tags for string-literal concatenation in printf formats.
#define KV_TAG_OK " [\033[32m  OK  \033[0m]  "
#define KV_TAG_INIT " [\033[32m INIT \033[0m]  "
#define KV_TAG_WAIT " [\033[33m WAIT \033[0m]  "
#define KV_TAG_FAIL " [\033[33m FAIL \033[0m]  "
#define KV_TAG_DEBUG " [\033[33m DEBUG \033[0m]  "
#define KV_TAG_FMOD " [ FMOD ]  "
#define KV_TAG_INFO " [ INFO ]  "

}  // namespace common
