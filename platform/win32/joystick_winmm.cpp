// Game controllers through the Windows multimedia joystick interface.

#include "platform/joystick.h"

#include <windows.h>
#include <mmsystem.h>

namespace platform {

namespace {

class WinmmJoysticks final : public Joysticks {
  public:
    unsigned indexCount() override { return joyGetNumDevs(); }

    bool readButtons(unsigned index, uint32_t& buttons) override {
        JOYINFOEX info{};
        info.dwSize = sizeof(JOYINFOEX);  // 52
        info.dwFlags = JOY_RETURNALL;
        const MMRESULT result = joyGetPosEx(index, &info);
        buttons = result == JOYERR_NOERROR ? static_cast<uint32_t>(info.dwButtons) : 0;
        return result == JOYERR_NOERROR;
    }

    JoystickIds ids(unsigned index) override {
        JOYCAPSA caps{};
        JoystickIds ids;
        if (joyGetDevCapsA(index, &caps, sizeof(caps)) == JOYERR_NOERROR) {
            ids.manufacturerId = caps.wMid;
            ids.productId = caps.wPid;
        }
        return ids;
    }
};

static_assert(sizeof(JOYINFOEX) == 52);
static_assert(sizeof(JOYCAPSA) == 404);

Joysticks* installed = nullptr;

}  // namespace

Joysticks& joysticks() {
    static WinmmJoysticks system;
    return installed != nullptr ? *installed : system;
}

void setJoysticks(Joysticks* j) {
    installed = j;
}

}  // namespace platform
