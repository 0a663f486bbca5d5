#pragma once
// Private-profile settings (INI files) with the Windows semantics on every platform:
// case-insensitive sections and keys, defaults for anything missing, leading-integer parsing.

#include <string>

namespace platform {

// GetPrivateProfileIntA: the leading decimal integer of the value, or `defaultValue` when the
// key is missing. A path written with Windows separators (".\\name.ini") is accepted everywhere.
int profileInt(const std::string& section, const std::string& key, int defaultValue,
               const std::string& path);

// GetPrivateProfileStringA into a buffer of `bufferSize` bytes: the value cut to
// bufferSize - 1 characters, or `defaultValue` when the key is missing.
std::string profileString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& path,
                          int bufferSize = 256);

// WritePrivateProfileStringA: creates the file, section or key as needed and leaves every other
// line of the file as it was. Returns false when the file cannot be written.
bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path);

}  // namespace platform
