#include "plugin/telemetry/telemetry_variable.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "plugin/telemetry/telemetry_client.h"

namespace telemetry {

namespace {

// Truncates toward zero like a C cast, but a value the simulator sends out of range (or NaN)
// must not be undefined behaviour: it saturates, and NaN reads as 0.
int32_t toInt(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    if (v >= 2147483647.0) {
        return std::numeric_limits<int32_t>::max();
    }
    if (v <= -2147483648.0) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(v);
}

template <typename T>
T load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

TelemetryVariable::TelemetryVariable(const char* name) {
    setName(name);
}

TelemetryVariable::TelemetryVariable(const char* name, TelemetryClient& client) : client_(&client) {
    setName(name);
}

void TelemetryVariable::setName(const char* name) {
    if (name == nullptr) {
        name = "";
    }
    if (std::strncmp(name_, name, sizeof name_) == 0) {
        return;
    }
    std::strncpy(name_, name, sizeof name_);
    name_[sizeof name_ - 1] = '\0';
    index_ = -1;
    generationSeen_ = -1;
}

TelemetryClient& TelemetryVariable::client() const {
    return client_ ? *client_ : Telemetry();
}

bool TelemetryVariable::resolveIndex() {
    TelemetryClient& c = client();
    if (!c.isTelemetryLive()) {
        return false;
    }
    if (generationSeen_ == c.generation()) {
        return true;
    }
    generationSeen_ = c.generation();
    index_ = -1;
    if (c.isTelemetryLive()) {
        int n = c.numVars();
        for (int i = 0; i < n; ++i) {
            const VarHeader* h = c.varHeader(i);
            if (h == nullptr) {
                break;
            }
            char published[kVarNameLength];
            std::memcpy(published, h->name, sizeof published);
            if (std::strncmp(published, name_, sizeof published) == 0) {
                index_ = i;
                break;
            }
        }
    }
    return true;
}

// The header was checked when the row was taken, and the variable's type and place with it:
// a read is a look at the row's slot and one load from the copy.
const uint8_t* TelemetryVariable::valuePointer(int32_t* type) {
    TelemetryClient& c = client();
    if (generationSeen_ != c.generation() || !c.rowReady()) {
        if (!resolveIndex()) {
            return nullptr;
        }
    }
    const TelemetryClient::VarSlot* slot = c.varSlot(index_);
    if (slot == nullptr || slot->type < 0) {
        return nullptr;
    }
    *type = slot->type;
    return c.dataCopy() + slot->offset;
}

int32_t TelemetryVariable::readInt() {
    int32_t type = 0;
    const uint8_t* p = valuePointer(&type);
    if (p == nullptr) {
        return 0;
    }
    switch (type) {
        case kChar:
        case kBool:
            return load<int8_t>(p);
        case kInt:
        case kBitField:
            return load<int32_t>(p);
        case kFloat:
            return toInt(load<float>(p));
        case kDouble:
            return toInt(load<double>(p));
        default:
            return 0;
    }
}

float TelemetryVariable::readFloat() {
    int32_t type = 0;
    const uint8_t* p = valuePointer(&type);
    if (p == nullptr) {
        return 0.0f;
    }
    switch (type) {
        case kChar:
        case kBool:
            return static_cast<float>(load<int8_t>(p));
        case kInt:
        case kBitField:
            return static_cast<float>(load<int32_t>(p));
        case kFloat:
            return load<float>(p);
        case kDouble:
            return static_cast<float>(load<double>(p));
        default:
            return 0.0f;
    }
}

double TelemetryVariable::readDouble() {
    int32_t type = 0;
    const uint8_t* p = valuePointer(&type);
    if (p == nullptr) {
        return 0.0;
    }
    switch (type) {
        case kChar:
        case kBool:
            return static_cast<double>(load<int8_t>(p));
        case kInt:
        case kBitField:
            return static_cast<double>(load<int32_t>(p));
        case kFloat:
            return static_cast<double>(load<float>(p));
        case kDouble:
            return load<double>(p);
        default:
            return 0.0;
    }
}

bool TelemetryVariable::readBool() {
    int32_t type = 0;
    const uint8_t* p = valuePointer(&type);
    if (p == nullptr) {
        return false;
    }
    switch (type) {
        case kChar:
        case kBool:
            return load<int8_t>(p) != 0;
        case kInt:
        case kBitField:
            return load<int32_t>(p) != 0;
        case kFloat:
            return load<float>(p) >= 1.0f;
        case kDouble:
            return load<double>(p) >= 1.0;
        default:
            return false;
    }
}

}  // namespace telemetry
