#pragma once
// Controllers and a keyboard for tests: plug, unplug, press and hold without hardware.

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "platform/joystick.h"
#include "platform/keyboard.h"

namespace testsupport {

class FakeJoysticks : public platform::Joysticks {
  public:
    // A controller of the given model at `index`, answering, no button down.
    void plug(unsigned index, uint16_t manufacturerId, uint16_t productId) {
        controllers_[index] = Controller{{manufacturerId, productId}, 0, true};
    }
    void unplug(unsigned index) { controllers_.erase(index); }
    // A plugged controller that stops answering (or answers again) keeps its model and buttons.
    void setAnswering(unsigned index, bool answering) {
        if (auto it = controllers_.find(index); it != controllers_.end()) {
            it->second.answering = answering;
        }
    }
    // The buttons held on the controller at `index`, button 1 as bit 0.
    void hold(unsigned index, uint32_t buttons) {
        if (auto it = controllers_.find(index); it != controllers_.end()) {
            it->second.buttons = buttons;
        }
    }
    void releaseAll() {
        for (auto& entry : controllers_) {
            entry.second.buttons = 0;
        }
    }
    // Called before every reading with the index being read; lets a test press and release
    // buttons while the code under test is waiting for them.
    void setReadHook(std::function<void(unsigned index)> hook) { hook_ = std::move(hook); }
    int totalReadings() const { return readings_; }

    unsigned indexCount() override { return 16; }
    bool readButtons(unsigned index, uint32_t& buttons) override {
        if (hook_) {
            hook_(index);
        }
        ++readings_;
        auto it = controllers_.find(index);
        const bool answers = it != controllers_.end() && it->second.answering;
        buttons = answers ? it->second.buttons : 0;
        return answers;
    }
    platform::JoystickIds ids(unsigned index) override {
        auto it = controllers_.find(index);
        return it == controllers_.end() ? platform::JoystickIds{} : it->second.ids;
    }

  private:
    struct Controller {
        platform::JoystickIds ids;
        uint32_t buttons = 0;
        bool answering = true;
    };
    std::map<unsigned, Controller> controllers_;
    int readings_ = 0;
    std::function<void(unsigned)> hook_;
};

class FakeKeyboard : public platform::Keyboard {
  public:
    void setDown(int virtualKey, bool down) {
        if (down) {
            down_.insert(virtualKey);
        } else {
            down_.erase(virtualKey);
        }
    }
    // The key went down and up again between two queries: the next query of it reports the
    // press, later ones do not.
    void tap(int virtualKey) { tapped_.insert(virtualKey); }
    void releaseAll() {
        down_.clear();
        tapped_.clear();
    }
    void setUnavailable(const std::string& reason) {
        reason_ = reason;
        releaseAll();
    }

    bool available() override { return reason_.empty(); }
    std::string unavailableReason() override { return reason_; }
    uint16_t asyncKeyState(int virtualKey) override {
        const int down = down_.count(virtualKey) != 0 ? platform::kKeyDown : 0;
        const int pressed =
            tapped_.erase(virtualKey) != 0 ? platform::kKeyPressedSinceLastQuery : 0;
        return static_cast<uint16_t>(down | pressed);
    }

  private:
    std::set<int> down_;
    std::set<int> tapped_;
    std::string reason_;
};

// Installs fakes for the life of the scope and restores the machine's devices afterwards.
class ScopedControlDevices {
  public:
    ScopedControlDevices(platform::Joysticks& joysticks, platform::Keyboard& keyboard) {
        platform::setJoysticks(&joysticks);
        platform::setKeyboard(&keyboard);
    }
    ~ScopedControlDevices() {
        platform::setJoysticks(nullptr);
        platform::setKeyboard(nullptr);
    }
    ScopedControlDevices(const ScopedControlDevices&) = delete;
    ScopedControlDevices& operator=(const ScopedControlDevices&) = delete;
};

}  // namespace testsupport
