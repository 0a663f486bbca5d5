#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "common/log_writer.h"
#include "launcher/launcher.h"
#include "platform/console.h"
#include "platform/system.h"

namespace launcher {

char LogMessage[256] = {0};

void StartLauncherLog() {
    common::LauncherLog().start(LogMessage);
}

void WriteLauncherLog() {
    common::LauncherLog().append(LogMessage);
}

void LogLauncherf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(LogMessage, sizeof LogMessage, format, args);
    va_end(args);
    WriteLauncherLog();
}

void Printf(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Seams().write(text);
}

namespace {

void writeStdout(const char* text) {
    std::fputs(text, stdout);
    // The plugin shares the console: what the launcher printed must be out before it starts.
    std::fflush(stdout);
}

[[noreturn]] void exitProcess(int code) {
    std::exit(code);
}

LauncherSeams defaultSeams() {
    return LauncherSeams{writeStdout,
                         platform::runCommand,
                         platform::keyWaiting,
                         platform::keyCanArrive,
                         platform::readKeyNoEcho,
                         exitProcess};
}

}  // namespace

LauncherSeams& Seams() {
    static LauncherSeams seams = defaultSeams();
    return seams;
}

void RestoreDefaultSeams() {
    Seams() = defaultSeams();
}

}  // namespace launcher
