#pragma once
// The settings file both programs share, ".\Qm_Korvane_Launcher.ini" in the working directory,
// and typed access to the keys they use. Tests point the path at a file of their own.

#include <string>

namespace common {

inline constexpr const char* kSettingsFile = ".\\Qm_Korvane_Launcher.ini";

inline constexpr const char* kSetupSection = "Setup";
inline constexpr const char* kPassiveModeKey = "PassiveMode";
inline constexpr const char* kUseSerialKey = "UseSerial";
inline constexpr const char* kSetupCompleteKey = "SetupComplete";

inline constexpr const char* kControlsSection = "Controls";
// The six driver functions in the order of the bindings table.
inline constexpr const char* kControlKeys[6] = {"Fuel",  "Tire",       "Weather",
                                                "Stint", "ModeOption", "ModeConfig"};

inline constexpr const char* kAudioSection = "Audio";
inline constexpr const char* kPreferedDeviceKey = "PreferedDevice";
inline constexpr int kNoPreferedDevice = 1024;

// The file every read and write below goes to.
std::string settingsPath();
// Points every settings access at `path`; an empty path restores the default file.
void setSettingsPath(const std::string& path);

int settingInt(const char* section, const char* key, int defaultValue);
std::string settingString(const char* section, const char* key, const char* defaultValue = "");
// False when the file cannot be written.
bool writeSetting(const char* section, const char* key, const std::string& value);

// "Setup"/"PassiveMode": non-zero means observe only.
bool readPassiveMode();
// "Setup"/"UseSerial": non-zero means feed the serial pit board.
bool readUseSerial();
// "Setup"/"SetupComplete": the controller setup has been done once.
int readSetupComplete();
bool writeSetupComplete();
// "Controls"/<function>: the binding text "%d:%d:%d", empty when not bound.
std::string readControlBinding(const char* function);
bool writeControlBinding(const char* function, const std::string& binding);
// "Audio"/"PreferedDevice", 1024 when not set.
int readPreferedDevice();
bool writePreferedDevice(int device);

}  // namespace common
