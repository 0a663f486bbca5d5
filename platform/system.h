#pragma once
// Process and file services.

#include <string>

namespace platform {

// 1 ms system timer resolution (timeBeginPeriod / timeEndPeriod); no-op where not needed.
void beginTimerPeriod();
void endTimerPeriod();

// SetPriorityClass(HIGH_PRIORITY_CLASS); best effort elsewhere.
void raiseProcessPriority();

// The system's text for an error code (FormatMessage / strerror), without a trailing newline.
std::string errorText(int code);

// Runs a command line through the command processor (`system`), returns its status.
int runCommand(const std::string& commandLine);

// The directory of the running executable.
std::string executableDirectory();

}  // namespace platform
