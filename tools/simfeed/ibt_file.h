#pragma once
// Recorded telemetry files in the simulator's disk format (.ibt): the block header, a
// sub-header with the session start and the number of rows, the variable headers, the session
// text, and then the rows one after another.

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "plugin/telemetry/block_layout.h"

namespace simfeed {

class IbtWriter {
  public:
    IbtWriter() = default;
    ~IbtWriter();
    IbtWriter(const IbtWriter&) = delete;
    IbtWriter& operator=(const IbtWriter&) = delete;

    // Starts a file. `rowLength` is the length of one row, `vars` the headers that describe it
    // (offsets within a row). Room is reserved for a session text that grows later.
    bool open(const std::string& path, const std::vector<telemetry::VarHeader>& vars,
              int32_t rowLength, const std::string& sessionText, int32_t tickRate,
              int64_t startDate, std::string* error);
    bool isOpen() const { return file_.is_open(); }
    bool addRow(const uint8_t* row, double sessionTime);
    // The text written at close; kept when it fits in the reserved room, otherwise the
    // first text stays and close() reports it.
    void setSessionText(const std::string& text) { sessionText_ = text; }
    // Writes the record count, the session times and the last session text. False (with
    // `error`) when the file could not be completed.
    bool close(std::string* error);
    int32_t recordCount() const { return records_; }

  private:
    std::ofstream file_;
    std::string path_;
    std::string sessionText_;
    telemetry::BlockHeader header_{};
    telemetry::DiskSubHeader sub_{};
    int32_t sessionRoom_ = 0;
    int32_t rowLength_ = 0;
    int32_t records_ = 0;
    bool failed_ = false;
    bool first_ = true;
};

class IbtReader {
  public:
    // Opens and checks a file: every offset and size it names must lie inside it. Problems
    // that leave it usable (a record count that does not match the file, an odd tick rate)
    // are put in warnings.
    bool open(const std::string& path, std::string* error, std::vector<std::string>* warnings);

    const std::vector<telemetry::VarHeader>& vars() const { return vars_; }
    const std::string& sessionText() const { return sessionText_; }
    int32_t tickRate() const { return tickRate_; }
    int32_t rowLength() const { return rowLength_; }
    int32_t recordCount() const { return records_; }
    const telemetry::DiskSubHeader& subHeader() const { return sub_; }
    // Reads row `index` (0-based) into `row` (resized to the row length).
    bool readRow(int32_t index, std::vector<uint8_t>* row);

  private:
    std::ifstream file_;
    std::vector<telemetry::VarHeader> vars_;
    std::string sessionText_;
    telemetry::DiskSubHeader sub_{};
    int32_t tickRate_ = 60;
    int32_t rowLength_ = 0;
    int64_t rowsOffset_ = 0;
    int32_t records_ = 0;
};

}  // namespace simfeed
