// Reads the block "Local\qrdlocal" by name, as another program on the driver's machine would,
// and prints its bytes up to and including the first carriage return in hexadecimal (one line).
// Exit code 1 when no such block exists.
#include <cstdio>

#include "platform/shared_memory.h"

int main() {
    auto block = platform::openSharedMemoryReadOnly("Local\\qrdlocal");
    if (!block || block->data() == nullptr) {
        std::printf("none\n");
        return 1;
    }
    for (size_t i = 0; i < block->size() && i < 256; ++i) {
        std::printf("%02x", block->data()[i]);
        if (block->data()[i] == '\r') {
            break;
        }
    }
    std::printf("\n");
    return 0;
}
