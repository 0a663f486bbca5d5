#pragma once
// Qm_Korvane_Launcher: brings itself and the plugin up to date from the race-data service,
// starts the plugin in the same console and waits for it, then waits for a key.
//
// Everything works on names relative to the working directory, which is the folder that holds
// both programs and the settings file.

#include <cstddef>
#include <string>

#include "common/release.h"

namespace launcher {

inline constexpr const char* kLauncherBanner =
    "\n\n Brenvik Korvane Launcher (Release " KORVANE_RELEASE
    ")\n Fuel & Tire Adaptive Analytics\n"
    " Vantreau Edition\n\n";

inline constexpr const char* kLauncherComponent = "Launcher";
inline constexpr const char* kPluginComponent = "Plugin";

inline constexpr const char* kCacheFile = "Qm_Korvane_Cache.dat";
inline constexpr const char* kReadmeFile = "Qm_Korvane_README.txt";
// The service keeps the Windows names; the Linux launcher asks for its own builds under names
// of their own, so it can never be handed a Windows program (or the other way round). Locally
// the Linux executables carry no suffix.
#ifdef _WIN32
inline constexpr const char* kLauncherPlatform = "Launcher";
inline constexpr const char* kPluginPlatform = "Plugin";
inline constexpr const char* kLauncherServerBinary = "Qm_Korvane_Launcher.bin";
inline constexpr const char* kPluginServerBinary = "Qm_Korvane_Plugin.bin";
inline constexpr const char* kLauncherExecutable = "Qm_Korvane_Launcher.exe";
inline constexpr const char* kPluginExecutable = "Qm_Korvane_Plugin.exe";
inline constexpr const char* kPluginCommandFormat = "Qm_Korvane_Plugin.exe %d";
#else
inline constexpr const char* kLauncherPlatform = "LauncherLinux";
inline constexpr const char* kPluginPlatform = "PluginLinux";
inline constexpr const char* kLauncherServerBinary = "Qm_Korvane_Launcher.linux.bin";
inline constexpr const char* kPluginServerBinary = "Qm_Korvane_Plugin.linux.bin";
inline constexpr const char* kLauncherExecutable = "Qm_Korvane_Launcher";
inline constexpr const char* kPluginExecutable = "Qm_Korvane_Plugin";
inline constexpr const char* kPluginCommandFormat = "./Qm_Korvane_Plugin %d";
#endif
// Anything smaller is no build of ours; anything larger is a runaway answer.
inline constexpr size_t kMinExecutableBytes = 4096;
inline constexpr size_t kMaxExecutableBytes = 256u * 1024u * 1024u;

inline constexpr const char* kUserAgent = "WinHTTP Example/1.0";

// --- Log -------------------------------------------------------------------------------------

// The message the next WriteLauncherLog call writes.
extern char LogMessage[256];
// Appends one line "Launcher: <seconds> :  <LogMessage>" to "Qm_Korvane_Launcher.log".
void WriteLauncherLog();
// The first line of a run: truncates the log.
void StartLauncherLog();
// Formats into LogMessage and appends it.
void LogLauncherf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// --- Console ---------------------------------------------------------------------------------

// Everything the launcher prints goes through here (and on to the seams' writer).
void Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// --- Version check and update ----------------------------------------------------------------

// The leading decimal number of `text` ("3.014 anything" is 3.014); 0 when there is none.
float ParseLeadingDecimal(const char* text);

// "Qm_Korvane_<component>.ver".
std::string VersionFileName(const char* component);

// The platform name the service publishes `component`'s version under ("Launcher" on Windows,
// "LauncherLinux" on Linux).
const char* PublishedPlatform(const char* component);

// The version the service publishes for `component`; 0 when it cannot be had.
float FetchPublishedVersion(const char* component);
// True when the published version is above the one in the local version file.
bool IsUpdateAvailable(const char* component);

// "" when `bytes` is a whole executable for this platform (PE32+ x86-64 on Windows, ELF
// x86-64 elsewhere, every header and section inside the file, size within bounds), else why
// it is not.
std::string ExecutableProblem(const std::string& bytes);
// The same checks of one system's format, without the size bounds; both in every build, so
// each build's tests cover the other's check too.
std::string WindowsProgramProblem(const std::string& bytes);
std::string LinuxProgramProblem(const std::string& bytes);

// Fetches "/files/R3/<serverName>" and puts the body in place of `localName`. Only a complete
// 200 answer is stored (for an executable, only a whole one for this platform; with an update
// key, only one signed by it), written out and flushed to disk before it replaces the old
// file; on any failure `localName` is left exactly as it was. True when the file was replaced.
bool DownloadUpdateFile(const char* serverName, const char* localName, bool executable = false);

// The restart prompt after a self-update; ends the process with code 0.
[[noreturn]] void RequireRestart(const char* component);

// The launcher's self-update: ends in the restart prompt once the new launcher is in place;
// returns when it could not be, with the current launcher kept, so the plugin still starts.
void UpdateLauncher();
// The plugin's update; returns once its files are in place (or the attempt failed).
void UpdatePlugin();

// --- Plugin launch ---------------------------------------------------------------------------

// "Qm_Korvane_Plugin.exe <device>" ("./Qm_Korvane_Plugin <device>" off Windows).
std::string PluginCommandLine(int preferedDevice);
// Starts the plugin through the command processor on a worker task and returns once it ended.
void LaunchPlugin(const char* component);

// --- The program -----------------------------------------------------------------------------

// The whole run; returns the exit code (0).
int RunLauncher();

// Where the launcher meets the console, the command processor and the end of the process.
// Tests replace entries before the code under test runs; only the main thread reads them
// (runCommand is called on the launch task while the main thread waits for it).
struct LauncherSeams {
    void (*write)(const char* text);
    int (*runCommand)(const std::string& commandLine);
    bool (*keyWaiting)();
    bool (*keyCanArrive)();
    int (*readKey)();
    void (*exitProcess)(int code);
};

LauncherSeams& Seams();
void RestoreDefaultSeams();

}  // namespace launcher
