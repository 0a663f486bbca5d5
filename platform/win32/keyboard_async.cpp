// Keyboard state through GetAsyncKeyState, which sees keys whichever window has the focus.

#include "platform/keyboard.h"

#include <windows.h>

namespace platform {

namespace {

class AsyncKeyboard final : public Keyboard {
  public:
    bool available() override { return true; }
    std::string unavailableReason() override { return {}; }
    uint16_t asyncKeyState(int virtualKey) override {
        return static_cast<uint16_t>(GetAsyncKeyState(virtualKey));
    }
};

Keyboard* installed = nullptr;

}  // namespace

Keyboard& keyboard() {
    static AsyncKeyboard system;
    return installed != nullptr ? *installed : system;
}

void setKeyboard(Keyboard* k) {
    installed = k;
}

}  // namespace platform
