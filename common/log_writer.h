#pragma once
// The programs' log files. A line is "<Label>: <seconds> : " + " " + message + "\n"; the first
// line of a run truncates the file, every later one opens it for appending, writes one line and
// closes it again, so nothing is lost when a program is killed and no handle stays open.

#include <cstdarg>
#include <mutex>
#include <string>

namespace common {

// Message and line buffers are this many bytes (including the terminating zero).
inline constexpr int kLogBufferSize = 256;

inline constexpr const char* kPluginLogFile = "Qm_Korvane_Plugin.log";
inline constexpr const char* kLauncherLogFile = "Qm_Korvane_Launcher.log";

class LogWriter {
  public:
    // `label` is "KV" for the plugin, "Launcher" for the launcher.
    LogWriter(const char* label, const char* fileName);

    // Tests point the log at a file of their own; an empty path restores the default name.
    void setPath(const std::string& path);
    std::string path() const;

    // The first line of a run: the file is truncated.
    void start(const char* message);
    // One more line.
    void append(const char* message);
    // printf-formatted message, cut to the message buffer.
    void appendf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void vappendf(const char* format, va_list args);

    // The line as it would be written now, without touching the file.
    std::string formatLine(const char* message) const;

  private:
    void write(const char* message, const char* mode);

    const char* label_;
    const char* defaultFile_;
    mutable std::mutex mutex_;
    std::string path_;
    bool failureReported_ = false;
};

LogWriter& PluginLog();
LogWriter& LauncherLog();

// The plugin's lines ("LOG:", "SET:", "BOX:" and the start and stop lines).
void StartPluginLog(const char* message);
void WritePluginLog(const char* message);
void WritePluginLogf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace common
