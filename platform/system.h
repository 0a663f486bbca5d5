#pragma once
// Process and file services.

#include <string>

namespace platform {

// 1 ms system timer resolution (timeBeginPeriod / timeEndPeriod); no-op where not needed.
void beginTimerPeriod();
void endTimerPeriod();

// SetPriorityClass(HIGH_PRIORITY_CLASS); best effort elsewhere.
void raiseProcessPriority();

// Sound and speech buffers are large and are freed on other threads than the ones that made
// them. Asks the allocator, once at start-up, to hand such buffers straight back to the system
// when they are freed, rather than keep them in per-thread pools that only grow.
void returnLargeBuffersToSystem();

// Hands back to the system what the allocator still holds of freed memory; called after each
// spoken message, so a long race does not keep what its messages once needed.
void releaseFreedMemory();

// The system's text for an error code (FormatMessage / strerror), without a trailing newline.
std::string errorText(int code);

// Runs a command line through the command processor (`system`), returns its status.
int runCommand(const std::string& commandLine);

// Writes `bytes` as the whole of a new file `path` (replacing any file of that name) and
// flushes it to the disk before returning, so a power cut after a later rename cannot leave a
// named but empty or partial file. "" on success, else the system's reason.
std::string writeFileToDisk(const std::string& path, const std::string& bytes);

// The directory of the running executable.
std::string executableDirectory();

}  // namespace platform
