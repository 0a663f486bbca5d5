// Stands in for the serial pit board: the link starts as it does with "UseSerial" off.
#include <cstdio>

#include "common/console_tags.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "plugin/app/ctrl_c.h"
#include "plugin/links/serial_pit_board.h"

namespace links {

bool OpenSerialPitBoard() {
    app::InstallCtrlCHandler();
    platform::raiseProcessPriority();
    platform::beginTimerPeriod();
    std::printf(KV_TAG_OK "Setting Serial Offline.\n");
    platform::sleepMs(2000);
    return true;
}

int FindComPorts(int*, int* count) {
    if (count) {
        *count = 0;
    }
    return -1;
}

int WriteSerialLine(const char*, ...) {
    return 0;
}

void CloseSerialPitBoard() {}

}  // namespace links
