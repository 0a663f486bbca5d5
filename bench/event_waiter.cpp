// The least any reader of the simulator's block does: wait on its data-valid event, 16 ms at
// most, and nothing else. The process benchmark runs it against the feed beside the plugin, so
// what the plugin costs above this is its own work, and this is what the machine charges for
// waking a process 60 times a second. Stopped by a signal.

#include <memory>

#include "platform/clock.h"
#include "platform/named_event.h"
#include "plugin/telemetry/block_layout.h"

int main() {
    std::unique_ptr<platform::NamedEventWaiter> event;
    for (;;) {
        if (!event) {
            event = platform::openNamedEvent(telemetry::kDataValidEventName);
            if (!event) {
                platform::clock().sleepMs(16);
                continue;
            }
        }
        event->wait(16);
    }
}
