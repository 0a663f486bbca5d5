#pragma once
// The layout of the simulator's telemetry block, shared by the reader and by every publisher
// built here (the simulator feed, test publishers). All fields are little-endian.

#include <cstddef>
#include <cstdint>

namespace telemetry {

inline constexpr const char* kMemMapName = "Local\\IRSDKMemMapFileName";
inline constexpr const char* kDataValidEventName = "Local\\IRSDKDataValidEvent";
inline constexpr const char* kBroadcastMessageName = "IRSDK_BROADCASTMSG";

inline constexpr int kStatusConnected = 1;
inline constexpr int kMaxBuffers = 4;
inline constexpr int kVarNameLength = 32;
inline constexpr int kVarDescLength = 64;
inline constexpr int kVarUnitLength = 32;

enum VarType : int32_t {
    kChar = 0,
    kBool = 1,
    kInt = 2,
    kBitField = 3,
    kFloat = 4,
    kDouble = 5,
};

struct BufferEntry {
    int32_t tickCount;
    int32_t bufferOffset;
    int32_t pad[2];
};
static_assert(sizeof(BufferEntry) == 16);

struct BlockHeader {
    int32_t version;                   // 0
    int32_t status;                    // 4: bit 0 = connected
    int32_t tickRate;                  // 8
    int32_t sessionInfoUpdate;         // 12: raised whenever the session text changes
    int32_t sessionInfoLength;         // 16
    int32_t sessionInfoOffset;         // 20
    int32_t numVars;                   // 24
    int32_t varHeaderOffset;           // 28
    int32_t numBuffers;                // 32
    int32_t bufferLength;              // 36
    int32_t pad[2];                    // 40
    BufferEntry buffers[kMaxBuffers];  // 48
};
static_assert(offsetof(BlockHeader, sessionInfoUpdate) == 12);
static_assert(offsetof(BlockHeader, buffers) == 48);
static_assert(sizeof(BlockHeader) == 112);

struct VarHeader {
    int32_t type;    // VarType
    int32_t offset;  // within a data row
    int32_t count;   // entries in the array
    int32_t countAsTime;
    char name[kVarNameLength];
    char desc[kVarDescLength];
    char unit[kVarUnitLength];
};
static_assert(sizeof(VarHeader) == 144);

// Bytes a value of `type` occupies, 0 for an unknown type code.
inline constexpr int varTypeSize(int32_t type) {
    switch (type) {
        case kChar:
        case kBool:
            return 1;
        case kInt:
        case kBitField:
        case kFloat:
            return 4;
        case kDouble:
            return 8;
        default:
            return 0;
    }
}

// The disk format of a recorded telemetry file (.ibt): the block header, then a sub-header
// with the session start and the record count, then variable headers, session text and rows.
struct DiskSubHeader {
    int64_t sessionStartDate;
    double sessionStartTime;
    double sessionEndTime;
    int32_t sessionLapCount;
    int32_t sessionRecordCount;
};
static_assert(sizeof(DiskSubHeader) == 32);

}  // namespace telemetry
