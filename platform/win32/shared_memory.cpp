#include "platform/shared_memory.h"

#include <windows.h>

namespace platform {

namespace {

thread_local int lastError = 0;
thread_local SharedMemoryStep lastStep = SharedMemoryStep::kMapping;

std::unique_ptr<SharedMemory> failWithLastError() {
    lastError = static_cast<int>(::GetLastError());
    lastStep = SharedMemoryStep::kMapping;
    return nullptr;
}

class Win32SharedMemory final : public SharedMemory {
  public:
    Win32SharedMemory(HANDLE mapping, void* view) : mapping_(mapping), view_(view) {
        mapped_ = size();
    }
    ~Win32SharedMemory() override {
        ::UnmapViewOfFile(view_);
        ::CloseHandle(mapping_);
    }
    uint8_t* data() override { return static_cast<uint8_t*>(view_); }
    // The region of the view: the mapping's size rounded up to whole pages.
    size_t size() const override {
        MEMORY_BASIC_INFORMATION info{};
        if (::VirtualQuery(view_, &info, sizeof info) == 0) {
            return 0;
        }
        return info.RegionSize;
    }
    // A view keeps its size for as long as it is mapped.
    size_t mappedSize() const override { return mapped_; }

  private:
    HANDLE mapping_;
    void* view_;
    size_t mapped_ = 0;
};

std::unique_ptr<SharedMemory> mapWhole(HANDLE mapping, DWORD access) {
    void* view = ::MapViewOfFile(mapping, access, 0, 0, 0);
    if (!view) {
        lastError = static_cast<int>(::GetLastError());
        lastStep = SharedMemoryStep::kView;
        ::CloseHandle(mapping);
        return nullptr;
    }
    return std::make_unique<Win32SharedMemory>(mapping, view);
}

}  // namespace

std::unique_ptr<SharedMemory> openSharedMemoryReadOnly(const std::string& name) {
    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    if (!mapping) {
        return failWithLastError();
    }
    return mapWhole(mapping, FILE_MAP_READ);
}

std::unique_ptr<SharedMemory> createSharedMemory(const std::string& name, size_t size) {
    const unsigned long long wide = size;
    HANDLE mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                          static_cast<DWORD>(wide >> 32),
                                          static_cast<DWORD>(wide & 0xFFFFFFFFull), name.c_str());
    if (!mapping) {
        return failWithLastError();
    }
    return mapWhole(mapping, FILE_MAP_ALL_ACCESS);
}

SharedMemoryStep lastFailedStep() {
    return lastStep;
}

int lastErrorCode() {
    return lastError;
}

}  // namespace platform
