#pragma once
// Named shared-memory blocks: the simulator's telemetry block and the local pit-board block.
// Names are given in their Windows form ("Local\\IRSDKMemMapFileName"); the POSIX build maps
// "Local\\X" to the shm object "/X".

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace platform {

class SharedMemory {
  public:
    virtual ~SharedMemory() = default;
    virtual uint8_t* data() = 0;
    // Size of the mapping as the system reports it now (VirtualQuery / fstat), so a reader can
    // check every offset a writer publishes against what is really mapped.
    virtual size_t size() const = 0;
    // The length the view was mapped with, without asking the system: what a reader may touch
    // between two checks of size().
    virtual size_t mappedSize() const { return size(); }
    // Copies `length` bytes at `offset` of the view (which must lie inside mappedSize()). False
    // when the pages went away under the copy because another program shrank the object
    // (POSIX); the destination then holds garbage, and nothing else is harmed. A Windows view
    // keeps its pages for as long as it is mapped.
    virtual bool copyOut(size_t offset, void* destination, size_t length) {
        std::memcpy(destination, data() + offset, length);
        return true;
    }
    // True once the name no longer leads to this block because its creator went away (POSIX,
    // where the creator removes the name); whoever wants the next block must open it again.
    // Windows keeps a mapping alive while any handle is open, so it is never stale there.
    virtual bool stale() const { return false; }
    // Takes the name away at once if this object created the block (POSIX), leaving the view
    // in place: for an end of the process that skips destructors. Safe beside readers and
    // writers of the view on other threads.
    virtual void removeName() {}
};

// OpenFileMappingA(FILE_MAP_READ) + MapViewOfFile of the whole mapping. nullptr on failure,
// with the system error code in lastErrorCode().
std::unique_ptr<SharedMemory> openSharedMemoryReadOnly(const std::string& name);

// CreateFileMappingA(INVALID_HANDLE_VALUE, PAGE_READWRITE, size) + MapViewOfFile(ALL_ACCESS).
// Opens the existing block when one of that name exists. The POSIX build unlinks the name when
// the creating object is destroyed, as Windows drops a mapping with its last handle; a block
// that no live creator holds any more (its program crashed or was killed) is replaced there by
// a fresh, zeroed one, as Windows would have dropped it with its last handle.
std::unique_ptr<SharedMemory> createSharedMemory(const std::string& name, size_t size);

// The step of createSharedMemory that failed last on this thread: the named mapping itself
// (CreateFileMappingA; shm_open and sizing) or its view (MapViewOfFile; mmap).
enum class SharedMemoryStep { kMapping, kView };
SharedMemoryStep lastFailedStep();

// The system error code of the last failed call on this thread (GetLastError / errno).
int lastErrorCode();

}  // namespace platform
