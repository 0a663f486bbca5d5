#pragma once
// Game controllers the way the Windows joystick interface (winmm) numbers them: a fixed range of
// indices, each of which either answers with the state of its buttons or does not. Windows:
// joyGetNumDevs, joyGetPosEx, joyGetDevCapsA. POSIX: SDL2's joystick interface, with each
// controller kept on one index while it is plugged in, so an unplugged controller's index stops
// answering and the same controller plugged in again answers on it again.

#include <cstdint>

namespace platform {

// Manufacturer and product identifiers (wMid and wPid of JOYCAPSA; the USB vendor and product
// ids under SDL2).
struct JoystickIds {
    uint16_t manufacturerId = 0;
    uint16_t productId = 0;
};

class Joysticks {
  public:
    virtual ~Joysticks() = default;
    // joyGetNumDevs: how many indices can be probed, not how many controllers are plugged in.
    virtual unsigned indexCount() = 0;
    // joyGetPosEx with JOY_RETURNALL: true when the controller at `index` answers
    // (JOYERR_NOERROR). `buttons` receives one bit per button that is down, button 1 as bit 0,
    // and 0 when nothing answers.
    virtual bool readButtons(unsigned index, uint32_t& buttons) = 0;
    // joyGetDevCapsA: the identifiers of the controller at `index`; zeros when there is none.
    virtual JoystickIds ids(unsigned index) = 0;
};

// The machine's controllers (the system interface is opened on first use), unless a test
// installed others. Main thread only.
Joysticks& joysticks();
// Installs `j` (nullptr restores the machine's controllers).
void setJoysticks(Joysticks* j);

}  // namespace platform
