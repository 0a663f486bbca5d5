#pragma once
// The telemetry variables the feed publishes: every one the race engineer reads, in the types
// the simulator uses, plus the simulator's other common channels (per-car arrays for 64 cars
// among them), so the header table and the row are of a realistic size.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tools/simblock/sim_block.h"

namespace simfeed {

inline constexpr int kMaxCars = 64;

std::vector<simblock::VarSpec> feedVariables();

// Stores values by variable name into a row laid out by a BlockLayout, converted to each
// variable's declared type. Names are resolved through a hash table built once.
class RowWriter {
  public:
    RowWriter(const std::vector<simblock::VarSpec>& vars, const simblock::BlockLayout& layout);

    void attach(std::vector<uint8_t>* row) { row_ = row; }
    std::vector<uint8_t>* row() const { return row_; }

    // False for an unknown name or an entry out of range; the name is remembered in
    // missing() so a test can prove that every value the feed sets has a variable.
    bool set(std::string_view name, double value, int entry = 0);
    bool setInt(std::string_view name, int32_t value, int entry = 0);
    bool setBool(std::string_view name, bool value, int entry = 0) {
        return setInt(name, value ? 1 : 0, entry);
    }

    // One variable looked up once and then written entry by entry: the per-car arrays of a
    // row would otherwise cost a name look-up for every car.
    class Column {
      public:
        bool set(double value, int entry);
        bool setInt(int32_t value, int entry);
        bool setBool(bool value, int entry) { return setInt(value ? 1 : 0, entry); }

      private:
        friend class RowWriter;
        Column(RowWriter* writer, const void* slot, std::string_view name)
            : writer_(writer), slot_(slot), name_(name) {}
        uint8_t* at(int entry);
        RowWriter* writer_;
        const void* slot_;
        std::string name_;
    };
    Column column(std::string_view name);

    // Reads back what a row holds, as a double (tests and the recorder's checks).
    bool get(const std::vector<uint8_t>& row, std::string_view name, double* value,
             int entry = 0) const;

    const std::vector<std::string>& missing() const { return missing_; }

  private:
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    struct Slot {
        int32_t type;
        int32_t offset;
        int32_t count;
    };
    const Slot* slot(std::string_view name, int entry);
    void noteMissing(std::string_view name);

    std::unordered_map<std::string, Slot, NameHash, std::equal_to<>> slots_;
    std::vector<uint8_t>* row_ = nullptr;
    std::vector<std::string> missing_;
};

}  // namespace simfeed
