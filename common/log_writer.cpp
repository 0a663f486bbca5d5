#include "common/log_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"

namespace common {

LogWriter::LogWriter(const char* label, const char* fileName)
    : label_(label), defaultFile_(fileName) {}

void LogWriter::setPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = path;
    failureReported_ = false;
}

std::string LogWriter::path() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_.empty() ? std::string(defaultFile_) : path_;
}

std::string LogWriter::formatLine(const char* message) const {
    // The stamp is taken when the line is written and printed as an unsigned 32-bit number.
    const auto seconds =
        static_cast<unsigned long>(static_cast<uint32_t>(platform::clock().calendarSeconds()));
    char prefix[kLogBufferSize];
    std::snprintf(prefix, sizeof prefix, "%s: %lu : ", label_, seconds);

    // A message too long for the line is cut so that the line still ends in its line feed;
    // a line without one would run into the next and corrupt both.
    const size_t prefixLength = std::strlen(prefix);
    const size_t room = kLogBufferSize - 1 - prefixLength - 2;  // the join's blank and "\n"
    const size_t messageLength = std::min(std::strlen(message), room);

    std::string line(prefix, prefixLength);
    line += ' ';
    line.append(message, messageLength);
    line += '\n';
    return line;
}

void LogWriter::write(const char* message, const char* mode) {
    const std::string line = formatLine(message ? message : "");
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string file = path_.empty() ? std::string(defaultFile_) : path_;
    std::FILE* f = std::fopen(file.c_str(), mode);
    if (!f) {
        // The line is lost; the program goes on. Say so once, not at every tick.
        if (!failureReported_) {
            failureReported_ = true;
            std::fprintf(stderr, "%s: cannot open the log file \"%s\" (%s); log lines are lost.\n",
                         label_, file.c_str(), std::strerror(errno));
        }
        return;
    }
    // A full disk shows only here: the open works, the line does not.
    const bool written = std::fputs(line.c_str(), f) >= 0;
    const bool closed = std::fclose(f) == 0;
    if ((!written || !closed) && !failureReported_) {
        failureReported_ = true;
        std::fprintf(stderr, "%s: cannot write the log file \"%s\" (%s); log lines are lost.\n",
                     label_, file.c_str(), std::strerror(errno));
    }
}

void LogWriter::start(const char* message) {
    write(message, "w");
}

void LogWriter::append(const char* message) {
    write(message, "a");
}

void LogWriter::vappendf(const char* format, va_list args) {
    char message[kLogBufferSize];
    std::vsnprintf(message, sizeof message, format, args);
    append(message);
}

void LogWriter::appendf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vappendf(format, args);
    va_end(args);
}

// The writers are never destroyed: a ctrl-c handler may end the process while another thread
// is still writing a line.
LogWriter& PluginLog() {
    static LogWriter* log = new LogWriter("KV", kPluginLogFile);
    return *log;
}

LogWriter& LauncherLog() {
    static LogWriter* log = new LogWriter("Launcher", kLauncherLogFile);
    return *log;
}

void StartPluginLog(const char* message) {
    PluginLog().start(message);
}

void WritePluginLog(const char* message) {
    PluginLog().append(message);
}

void WritePluginLogf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    PluginLog().vappendf(format, args);
    va_end(args);
}

}  // namespace common
