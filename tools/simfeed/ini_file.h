#pragma once
// A small INI reader for the feed's scenario files. Unlike the private-profile functions it
// keeps line numbers and reports what it could not read, so a typo in a scenario is named
// instead of silently falling back to a default.

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace simfeed {

class IniFile {
  public:
    // Parses `text`; malformed lines are recorded in errors() and skipped.
    static IniFile parse(const std::string& text, const std::string& sourceName = "scenario");
    // Reads and parses a file; nullopt with `error` set when it cannot be read.
    static std::optional<IniFile> load(const std::string& path, std::string* error);

    bool hasSection(const std::string& section) const;
    // Sections in file order, as written.
    std::vector<std::string> sections() const;
    // The raw value, trimmed; nullopt when missing. Sections and keys are case-insensitive.
    std::optional<std::string> value(const std::string& section, const std::string& key) const;

    // Typed reads: the default when the key is missing; a value that is present but not of
    // the type is reported in errors() and gives the default.
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& fallback) const;
    double getDouble(const std::string& section, const std::string& key, double fallback) const;
    int getInt(const std::string& section, const std::string& key, int fallback) const;
    bool getBool(const std::string& section, const std::string& key, bool fallback) const;

    // Keys of a section that no caller asked for: typos, or settings of another version.
    std::vector<std::string> unusedKeys() const;

    const std::vector<std::string>& errors() const { return errors_; }
    void addError(const std::string& message) const { errors_.push_back(message); }
    // "<source>:<line>" of a key, for messages.
    std::string where(const std::string& section, const std::string& key) const;

  private:
    struct Entry {
        std::string key;  // as written
        std::string value;
        int line = 0;
        mutable bool used = false;
    };
    struct Section {
        std::string name;                      // as written
        std::map<std::string, Entry> entries;  // by lower-case key
    };
    const Entry* find(const std::string& section, const std::string& key) const;

    std::string source_;
    std::vector<Section> sections_;
    mutable std::vector<std::string> errors_;
};

// Helpers shared with the command line.
std::string trim(const std::string& s);
std::string lower(const std::string& s);
// Strict number parsing: the whole text must be the number.
std::optional<double> parseDouble(const std::string& s);
std::optional<int> parseInt(const std::string& s);
// "3, 7,12" -> {3, 7, 12}; nullopt when an item is not a whole number.
std::optional<std::vector<int>> parseIntList(const std::string& s);

}  // namespace simfeed
