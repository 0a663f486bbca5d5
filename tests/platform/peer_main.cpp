// The other process of the cross-process tests: started by a test, it meets the test's
// shared block and event by name.
//   platform_peer block <block name> <event name>   (names without their "Local\\")
//     checks the parent's greeting at offset 0, answers at offset 128, then signals the event
//     until the parent acknowledges with byte 255 = 1.
// Exit codes: 0 done, 1 block missing, 2 wrong greeting, 3 no acknowledgement, 9 bad usage.

#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/named_event.h"
#include "platform/shared_memory.h"

namespace {

constexpr const char* kGreeting = "hello from parent";
constexpr const char* kAnswer = "hello from child";

int block(const std::string& blockName, const std::string& eventName) {
    auto mem = platform::openSharedMemoryReadWrite(blockName);
    if (!mem || mem->size() < 256) {
        return 1;
    }
    if (std::memcmp(mem->data(), kGreeting, std::strlen(kGreeting) + 1) != 0) {
        return 2;
    }
    std::memcpy(mem->data() + 128, kAnswer, std::strlen(kAnswer) + 1);
    auto event = platform::createNamedEvent(eventName);
    if (!event) {
        return 1;
    }
    auto& clock = platform::systemClock();
    const int64_t end = clock.steadyMs() + 10000;
    while (clock.steadyMs() < end) {
        event->signal();
        if (reinterpret_cast<volatile uint8_t*>(mem->data())[255] == 1) {
            return 0;
        }
        clock.sleepMs(1);
    }
    return 3;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "block") {
        return block(std::string("Local\\") + argv[2], std::string("Local\\") + argv[3]);
    }
    return 9;
}
