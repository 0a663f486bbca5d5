#pragma once
// The keyboard's state regardless of which window has the focus, so shortcuts work while the
// simulator is in front. Windows: GetAsyncKeyState. POSIX: the kernel's input devices
// (/dev/input/event*), which need read permission (root or the "input" group).

#include <cstdint>
#include <string>

namespace platform {

// Windows virtual-key codes of the keys the programs use.
enum VirtualKey : int {
    kVkPageUp = 0x21,    // VK_PRIOR
    kVkPageDown = 0x22,  // VK_NEXT
    kVkEnd = 0x23,
    kVkHome = 0x24,
    kVkInsert = 0x2D,
    kVkDelete = 0x2E,
    kVkRightShift = 0xA1,
    kVkRightControl = 0xA3,
};

// Bits of a key state, as GetAsyncKeyState gives them.
constexpr uint16_t kKeyDown = 0x8000;
constexpr uint16_t kKeyPressedSinceLastQuery = 0x0001;

class Keyboard {
  public:
    virtual ~Keyboard() = default;
    // False when no keyboard state can be read on this machine; every key then reads as up.
    virtual bool available() = 0;
    // Why the keyboard cannot be read, for a notice to the user; empty when it can.
    virtual std::string unavailableReason() = 0;
    // GetAsyncKeyState of a virtual key: kKeyDown while it is held, kKeyPressedSinceLastQuery
    // when it went down since the previous query of that key. 0 for keys the platform cannot see.
    virtual uint16_t asyncKeyState(int virtualKey) = 0;
};

// The machine's keyboard (opened on first use), unless a test installed another. Main thread
// only.
Keyboard& keyboard();
// Installs `k` (nullptr restores the machine's keyboard).
void setKeyboard(Keyboard* k);

}  // namespace platform
