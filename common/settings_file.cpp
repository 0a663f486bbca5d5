#include "common/settings_file.h"

#include <mutex>

#include "platform/settings.h"

namespace common {

namespace {

// Never destroyed, like the log writers: speech and ctrl-c threads may outlive main().
std::mutex& pathMutex() {
    static std::mutex* m = new std::mutex();
    return *m;
}

std::string& overridePath() {
    static std::string* path = new std::string();
    return *path;
}

}  // namespace

std::string settingsPath() {
    std::lock_guard<std::mutex> lock(pathMutex());
    return overridePath().empty() ? std::string(kSettingsFile) : overridePath();
}

void setSettingsPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(pathMutex());
    overridePath() = path;
}

int settingInt(const char* section, const char* key, int defaultValue) {
    return platform::profileInt(section, key, defaultValue, settingsPath());
}

std::string settingString(const char* section, const char* key, const char* defaultValue) {
    return platform::profileString(section, key, defaultValue, settingsPath());
}

bool writeSetting(const char* section, const char* key, const std::string& value) {
    return platform::writeProfileString(section, key, value, settingsPath());
}

bool readPassiveMode() {
    return settingInt(kSetupSection, kPassiveModeKey, 0) != 0;
}

bool readUseSerial() {
    return settingInt(kSetupSection, kUseSerialKey, 0) != 0;
}

int readSetupComplete() {
    return settingInt(kSetupSection, kSetupCompleteKey, 0);
}

bool writeSetupComplete() {
    return writeSetting(kSetupSection, kSetupCompleteKey, "1");
}

std::string readControlBinding(const char* function) {
    return settingString(kControlsSection, function, "");
}

bool writeControlBinding(const char* function, const std::string& binding) {
    return writeSetting(kControlsSection, function, binding);
}

int readPreferedDevice() {
    return settingInt(kAudioSection, kPreferedDeviceKey, kNoPreferedDevice);
}

bool writePreferedDevice(int device) {
    return writeSetting(kAudioSection, kPreferedDeviceKey, std::to_string(device));
}

}  // namespace common
