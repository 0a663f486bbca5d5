#include "tools/racedata/report_fields.h"

#include <cmath>
#include <cstdlib>

namespace racedata {

namespace {

constexpr FieldType I = FieldType::kInt;
constexpr FieldType R = FieldType::kReal;

constexpr Field kDataFields[] = {
    {"sid", I},  {"sli", I},  {"sst", I},  {"tid", I},  {"cid", I},  {"did", I},  {"sat", R},
    {"stt", R},  {"cat", R},  {"ctt", R},  {"psv", I},  {"sl", I},   {"slr", I},  {"st", I},
    {"str", I},  {"fs", R},   {"fl", R},   {"fu", R},   {"fta", R},  {"fn", R},   {"fbpl", R},
    {"fbpm", R}, {"sft", I},  {"wlf", R},  {"tlf", R},  {"phlf", R}, {"pclf", R}, {"wrf", R},
    {"trf", R},  {"phrf", R}, {"pcrf", R}, {"wlr", R},  {"tlr", R},  {"phlr", R}, {"pclr", R},
    {"wrr", R},  {"trr", R},  {"phrr", R}, {"pcrr", R}, {"pos", I},  {"llt", R},  {"fbm", R},
};

constexpr Field kLapFields[] = {
    {"sid", I},  {"sli", I}, {"sst", I}, {"tid", I}, {"cid", I}, {"did", I}, {"sat", R},
    {"stt", R},  {"cat", R}, {"ctt", R}, {"psv", I}, {"sl", I},  {"slr", I}, {"st", I},
    {"str", I},  {"fs", R},  {"fl", R},  {"fu", R},  {"fta", R}, {"fn", R},  {"fbpl", R},
    {"fbpm", R}, {"sft", I}, {"pos", I}, {"llt", R}, {"fbm", R}, {"tlu", I},
};

// printf's %f of the largest double has 309 integer digits; anything longer is not ours.
constexpr size_t kMaxNumberLength = 330;

bool digitsOnly(const std::string& text, size_t from, size_t to) {
    if (from >= to) {
        return false;
    }
    for (size_t i = from; i < to; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

std::span<const Field> dataReportFields() {
    return kDataFields;
}
std::span<const Field> lapReportFields() {
    return kLapFields;
}

bool isDecimalInteger(const std::string& text, int64_t& value) {
    size_t start = (!text.empty() && text[0] == '-') ? 1 : 0;
    if (text.size() - start > 10 || !digitsOnly(text, start, text.size())) {
        return false;
    }
    long long parsed = std::strtoll(text.c_str(), nullptr, 10);
    if (parsed < INT32_MIN || parsed > INT32_MAX) {
        return false;
    }
    value = parsed;
    return true;
}

bool isDecimalReal(const std::string& text, double& value) {
    if (text.size() > kMaxNumberLength) {
        return false;
    }
    size_t start = (!text.empty() && text[0] == '-') ? 1 : 0;
    size_t dot = text.find('.', start);
    bool wellFormed = dot == std::string::npos
                          ? digitsOnly(text, start, text.size())
                          : digitsOnly(text, start, dot) && digitsOnly(text, dot + 1, text.size());
    if (!wellFormed) {
        return false;
    }
    double parsed = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(parsed)) {
        return false;
    }
    value = parsed;
    return true;
}

std::string parseFields(std::span<const Field> fields, const QueryParameters& parameters,
                        std::vector<FieldValue>& values) {
    values.assign(fields.size(), FieldValue{});
    for (size_t i = 0; i < fields.size(); ++i) {
        const Field& field = fields[i];
        auto count = parameters.count(field.key);
        if (count == 0) {
            return std::string("missing field '") + field.key + "'";
        }
        if (count > 1) {
            return std::string("field '") + field.key + "' given more than once";
        }
        const std::string& text = parameters.find(field.key)->second;
        bool good = field.type == FieldType::kInt ? isDecimalInteger(text, values[i].integer)
                                                  : isDecimalReal(text, values[i].real);
        if (!good) {
            return std::string("field '") + field.key + "' is not a decimal " +
                   (field.type == FieldType::kInt ? "integer" : "number");
        }
    }
    return "";
}

std::string parseIntParameter(const QueryParameters& parameters, const char* key, int64_t& value) {
    auto count = parameters.count(key);
    if (count != 1) {
        return std::string(count == 0 ? "missing field '" : "repeated field '") + key + "'";
    }
    if (!isDecimalInteger(parameters.find(key)->second, value)) {
        return std::string("field '") + key + "' is not a decimal integer";
    }
    return "";
}

std::string implausibleFuel(std::span<const Field> fields, const std::vector<FieldValue>& values) {
    auto real = [&](const char* key) {
        for (size_t i = 0; i < fields.size() && i < values.size(); ++i) {
            if (std::string(fields[i].key) == key) {
                return values[i].real;
            }
        }
        return 0.0;
    };
    const double tank = real("fs");
    if (tank < 0 || tank > kLargestTankLiters) {
        return "a tank of " + std::to_string(tank) + " liters";
    }
    for (const char* key : {"fbpl", "fbpm", "fbm"}) {
        const double burn = real(key);
        // The plugin prints two decimals, so a burn equal to the tank may round above it.
        if (burn > tank + 0.005) {
            return std::string("a fuel burn '") + key + "' of " + std::to_string(burn) +
                   " liters with a tank of " + std::to_string(tank);
        }
    }
    return "";
}

}  // namespace racedata
