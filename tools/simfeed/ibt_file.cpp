#include "tools/simfeed/ibt_file.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace simfeed {

using telemetry::BlockHeader;
using telemetry::DiskSubHeader;
using telemetry::VarHeader;

namespace {

constexpr int64_t kSubHeaderOffset = sizeof(BlockHeader);
constexpr int64_t kVarHeadersOffset = kSubHeaderOffset + sizeof(DiskSubHeader);
constexpr int32_t kMaxVars = 100000;
constexpr int32_t kMaxRowLength = 16 * 1024 * 1024;
constexpr int32_t kMaxSessionText = 64 * 1024 * 1024;

int64_t alignUp(int64_t v, int64_t a) {
    return (v + a - 1) / a * a;
}

}  // namespace

IbtWriter::~IbtWriter() {
    if (file_.is_open()) {
        close(nullptr);
    }
}

bool IbtWriter::open(const std::string& path, const std::vector<VarHeader>& vars, int32_t rowLength,
                     const std::string& sessionText, int32_t tickRate, int64_t startDate,
                     std::string* error) {
    if (rowLength <= 0 || vars.empty()) {
        if (error != nullptr) {
            *error = "nothing to record: no variables or an empty row";
        }
        return false;
    }
    file_.open(path, std::ios::binary | std::ios::trunc | std::ios::out);
    if (!file_) {
        if (error != nullptr) {
            *error = "cannot create " + path;
        }
        return false;
    }
    path_ = path;
    rowLength_ = rowLength;
    sessionText_ = sessionText;
    // Twice the first text, at least 64 KiB: the text grows with results during a session.
    sessionRoom_ = static_cast<int32_t>(
        alignUp(std::max<int64_t>(static_cast<int64_t>(sessionText.size()) * 2 + 1, 65536), 16));
    int64_t sessionOffset = alignUp(kVarHeadersOffset + static_cast<int64_t>(vars.size()) *
                                                            static_cast<int64_t>(sizeof(VarHeader)),
                                    16);
    int64_t rowsOffset = sessionOffset + sessionRoom_;

    header_ = BlockHeader{};
    header_.version = 2;
    header_.status = telemetry::kStatusConnected;
    header_.tickRate = tickRate;
    header_.sessionInfoUpdate = 1;
    header_.sessionInfoLength = static_cast<int32_t>(sessionText.size() + 1);
    header_.sessionInfoOffset = static_cast<int32_t>(sessionOffset);
    header_.numVars = static_cast<int32_t>(vars.size());
    header_.varHeaderOffset = static_cast<int32_t>(kVarHeadersOffset);
    header_.numBuffers = 1;
    header_.bufferLength = rowLength;
    header_.buffers[0].bufferOffset = static_cast<int32_t>(rowsOffset);
    sub_ = DiskSubHeader{};
    sub_.sessionStartDate = startDate;

    std::vector<char> head(static_cast<size_t>(rowsOffset), 0);
    std::memcpy(head.data(), &header_, sizeof header_);
    std::memcpy(head.data() + kSubHeaderOffset, &sub_, sizeof sub_);
    std::memcpy(head.data() + kVarHeadersOffset, vars.data(), vars.size() * sizeof(VarHeader));
    size_t text = std::min(sessionText.size(), static_cast<size_t>(sessionRoom_ - 1));
    std::memcpy(head.data() + sessionOffset, sessionText.data(), text);
    file_.write(head.data(), static_cast<std::streamsize>(head.size()));
    failed_ = !file_;
    records_ = 0;
    first_ = true;
    if (failed_ && error != nullptr) {
        *error = "cannot write " + path;
    }
    return !failed_;
}

bool IbtWriter::addRow(const uint8_t* row, double sessionTime) {
    if (!file_.is_open() || failed_) {
        return false;
    }
    file_.write(reinterpret_cast<const char*>(row), rowLength_);
    if (!file_) {
        failed_ = true;
        return false;
    }
    if (first_) {
        sub_.sessionStartTime = sessionTime;
        first_ = false;
    }
    sub_.sessionEndTime = sessionTime;
    ++records_;
    header_.buffers[0].tickCount = records_;
    return true;
}

bool IbtWriter::close(std::string* error) {
    if (!file_.is_open()) {
        return !failed_;
    }
    std::string problem;
    if (static_cast<int64_t>(sessionText_.size()) < sessionRoom_) {
        header_.sessionInfoLength = static_cast<int32_t>(sessionText_.size() + 1);
        std::vector<char> room(static_cast<size_t>(sessionRoom_), 0);
        std::memcpy(room.data(), sessionText_.data(), sessionText_.size());
        file_.seekp(header_.sessionInfoOffset);
        file_.write(room.data(), static_cast<std::streamsize>(room.size()));
    } else {
        problem = "the last session text did not fit; the first one was kept";
    }
    sub_.sessionRecordCount = records_;
    file_.seekp(0);
    file_.write(reinterpret_cast<const char*>(&header_), sizeof header_);
    file_.seekp(kSubHeaderOffset);
    file_.write(reinterpret_cast<const char*>(&sub_), sizeof sub_);
    file_.flush();
    if (!file_ || failed_) {
        problem = "writing " + path_ + " failed; the recording is incomplete";
        failed_ = true;
    }
    file_.close();
    if (!problem.empty() && error != nullptr) {
        *error = problem;
    }
    return problem.empty();
}

bool IbtReader::open(const std::string& path, std::string* error,
                     std::vector<std::string>* warnings) {
    auto fail = [&](const std::string& why) {
        if (error != nullptr) {
            *error = path + ": " + why;
        }
        file_.close();
        return false;
    };
    auto warn = [&](const std::string& what) {
        if (warnings != nullptr) {
            warnings->push_back(path + ": " + what);
        }
    };
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        return fail("cannot read the file");
    }
    const int64_t fileSize = static_cast<int64_t>(size);
    file_.open(path, std::ios::binary);
    if (!file_) {
        return fail("cannot open the file");
    }
    if (fileSize < kVarHeadersOffset) {
        return fail("too short for the headers of a telemetry file");
    }
    BlockHeader h{};
    file_.read(reinterpret_cast<char*>(&h), sizeof h);
    file_.read(reinterpret_cast<char*>(&sub_), sizeof sub_);
    if (!file_) {
        return fail("cannot read the headers");
    }
    auto inside = [&](int64_t offset, int64_t length) {
        return offset >= 0 && length >= 0 && offset <= fileSize && length <= fileSize - offset;
    };
    if (h.numVars < 1 || h.numVars > kMaxVars) {
        return fail("the variable count " + std::to_string(h.numVars) + " is not usable");
    }
    if (!inside(h.varHeaderOffset, static_cast<int64_t>(h.numVars) * sizeof(VarHeader))) {
        return fail("the variable headers lie outside the file");
    }
    if (h.sessionInfoLength < 0 || h.sessionInfoLength > kMaxSessionText ||
        !inside(h.sessionInfoOffset, h.sessionInfoLength)) {
        return fail("the session text lies outside the file");
    }
    if (h.numBuffers < 1 || h.numBuffers > telemetry::kMaxBuffers) {
        return fail("the buffer count " + std::to_string(h.numBuffers) + " is not usable");
    }
    if (h.bufferLength < 1 || h.bufferLength > kMaxRowLength) {
        return fail("the row length " + std::to_string(h.bufferLength) + " is not usable");
    }
    if (!inside(h.buffers[0].bufferOffset, 0)) {
        return fail("the rows start outside the file");
    }
    vars_.resize(static_cast<size_t>(h.numVars));
    file_.seekg(h.varHeaderOffset);
    file_.read(reinterpret_cast<char*>(vars_.data()),
               static_cast<std::streamsize>(vars_.size() * sizeof(VarHeader)));
    if (!file_) {
        return fail("cannot read the variable headers");
    }
    for (size_t i = 0; i < vars_.size(); ++i) {
        VarHeader& v = vars_[i];
        v.name[sizeof v.name - 1] = '\0';
        v.desc[sizeof v.desc - 1] = '\0';
        v.unit[sizeof v.unit - 1] = '\0';
        int typeSize = telemetry::varTypeSize(v.type);
        int64_t bytes = static_cast<int64_t>(typeSize) * std::max(v.count, 1);
        if (typeSize == 0 || v.count < 0 || v.count > kMaxRowLength || v.offset < 0 ||
            v.offset + bytes > h.bufferLength) {
            return fail("variable " + std::to_string(i) + " ('" + v.name +
                        "') does not fit in a row");
        }
    }
    std::string text(static_cast<size_t>(h.sessionInfoLength), '\0');
    file_.seekg(h.sessionInfoOffset);
    file_.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (!file_) {
        return fail("cannot read the session text");
    }
    text.resize(std::strlen(text.c_str()));
    sessionText_ = text;

    rowLength_ = h.bufferLength;
    rowsOffset_ = h.buffers[0].bufferOffset;
    int64_t available = (fileSize - rowsOffset_) / rowLength_;
    available = std::min<int64_t>(available, 2147483647);
    if (sub_.sessionRecordCount <= 0 || sub_.sessionRecordCount > available) {
        if (sub_.sessionRecordCount != available) {
            warn("the header counts " + std::to_string(sub_.sessionRecordCount) +
                 " rows, the file holds " + std::to_string(available) + "; replaying those");
        }
        records_ = static_cast<int32_t>(available);
    } else {
        records_ = sub_.sessionRecordCount;
    }
    if (records_ == 0) {
        return fail("the file holds no rows");
    }
    tickRate_ = h.tickRate;
    if (tickRate_ < 1 || tickRate_ > 1000) {
        warn("tick rate " + std::to_string(tickRate_) +
             " is not usable; replaying at 60 per second");
        tickRate_ = 60;
    }
    return true;
}

bool IbtReader::readRow(int32_t index, std::vector<uint8_t>* row) {
    if (!file_.is_open() || index < 0 || index >= records_) {
        return false;
    }
    row->resize(static_cast<size_t>(rowLength_));
    file_.clear();
    file_.seekg(rowsOffset_ + static_cast<int64_t>(index) * rowLength_);
    file_.read(reinterpret_cast<char*>(row->data()), rowLength_);
    return static_cast<bool>(file_);
}

}  // namespace simfeed
