#pragma once
// A named telemetry variable with its index cached per connection generation.

#include <cstdint>

namespace telemetry {

class TelemetryClient;

class TelemetryVariable {
  public:
    explicit TelemetryVariable(const char* name);
    // Reads from the given client instead of the process-wide one (tests, tools).
    TelemetryVariable(const char* name, TelemetryClient& client);

    void setName(const char* name);
    const char* name() const { return name_; }

    bool resolveIndex();
    int32_t readInt();
    float readFloat();
    double readDouble();
    bool readBool();

    int index() const { return index_; }

  private:
    const uint8_t* valuePointer(int32_t* type);
    TelemetryClient& client() const;

    char name_[32] = {};
    int index_ = -1;
    int generationSeen_ = -1;
    TelemetryClient* client_ = nullptr;
};

}  // namespace telemetry
