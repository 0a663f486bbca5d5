#include "tests/support/fake_controls.h"

namespace testsupport {

void FakeJoysticks::plug(unsigned index, uint16_t manufacturerId, uint16_t productId) {
    Controller c;
    c.ids.manufacturerId = manufacturerId;
    c.ids.productId = productId;
    controllers_[index] = c;
}

void FakeJoysticks::unplug(unsigned index) {
    controllers_.erase(index);
}

void FakeJoysticks::setAnswering(unsigned index, bool answering) {
    auto it = controllers_.find(index);
    if (it != controllers_.end()) {
        it->second.answering = answering;
    }
}

void FakeJoysticks::hold(unsigned index, uint32_t buttons) {
    auto it = controllers_.find(index);
    if (it != controllers_.end()) {
        it->second.buttons = buttons;
    }
}

void FakeJoysticks::releaseAll() {
    for (auto& [index, c] : controllers_) {
        c.buttons = 0;
    }
}

int FakeJoysticks::totalReadings() const {
    return readings_;
}

bool FakeJoysticks::readButtons(unsigned index, uint32_t& buttons) {
    if (hook_) {
        hook_(index);
    }
    ++readings_;
    buttons = 0;
    auto it = controllers_.find(index);
    if (index >= indexCount_ || it == controllers_.end() || !it->second.answering) {
        return false;
    }
    buttons = it->second.buttons;
    return true;
}

platform::JoystickIds FakeJoysticks::ids(unsigned index) {
    auto it = controllers_.find(index);
    return it == controllers_.end() ? platform::JoystickIds{} : it->second.ids;
}

void FakeKeyboard::setDown(int virtualKey, bool down) {
    if (down) {
        down_.insert(virtualKey);
    } else {
        down_.erase(virtualKey);
    }
}

void FakeKeyboard::tap(int virtualKey) {
    tapped_.insert(virtualKey);
}

void FakeKeyboard::releaseAll() {
    down_.clear();
    tapped_.clear();
}

void FakeKeyboard::setUnavailable(const std::string& reason) {
    reason_ = reason;
    releaseAll();
}

uint16_t FakeKeyboard::asyncKeyState(int virtualKey) {
    uint16_t state = down_.count(virtualKey) != 0 ? platform::kKeyDown : 0;
    if (tapped_.erase(virtualKey) != 0) {
        state |= platform::kKeyPressedSinceLastQuery;
    }
    return state;
}

}  // namespace testsupport
