#pragma once
// The query-string vocabulary of the plugin's reports, in the order the plugin sends it.

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace racedata {

enum class FieldType { kInt, kReal };

struct Field {
    const char* key;
    FieldType type;
};

// "/qrd/data.php": 42 fields, sid ... fbm.
std::span<const Field> dataReportFields();
// "/qrd/lap.php": fields 1 to 23 of the data report, then pos, llt, fbm and tlu.
std::span<const Field> lapReportFields();

struct FieldValue {
    int64_t integer = 0;  // kInt fields
    double real = 0;      // kReal fields
};

using QueryParameters = std::multimap<std::string, std::string>;

// Checks that every field is present exactly once and is a plain decimal number of its type
// (integers within 32 bits, reals without exponent, as printf's %d and %f write them). Fills
// `values` in field order and returns "" on success, or the reason for the rejection.
std::string parseFields(std::span<const Field> fields, const QueryParameters& parameters,
                        std::vector<FieldValue>& values);

// The largest tank of any car the simulator has, in liters, with room to spare.
inline constexpr double kLargestTankLiters = 200.0;

// "" when the report's fuel burns (fbpl, fbpm, fbm) are something its car could burn: none
// above the usable tank ("fs") it reports, and that tank no larger than any car's. Else the
// reason. (A negative burn, as the plugin may send before it has measured one, can raise
// nothing and is kept.) A single report past these would raise the stored previous burn,
// and with it every later driver's fuel order.
std::string implausibleFuel(std::span<const Field> fields, const std::vector<FieldValue>& values);

// One integer parameter by name; "" on success, else the reason.
std::string parseIntParameter(const QueryParameters& parameters, const char* key, int64_t& value);

bool isDecimalInteger(const std::string& text, int64_t& value);
bool isDecimalReal(const std::string& text, double& value);

}  // namespace racedata
