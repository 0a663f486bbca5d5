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
    explicit FakeJoysticks(unsigned indexCount = 16) : indexCount_(indexCount) {}

    // A controller of the given model at `index`, answering, no button down.
    void plug(unsigned index, uint16_t manufacturerId, uint16_t productId);
    void unplug(unsigned index);
    // A plugged controller that stops answering (or answers again) keeps its model and buttons.
    void setAnswering(unsigned index, bool answering);
    // The buttons held on the controller at `index`, button 1 as bit 0.
    void hold(unsigned index, uint32_t buttons);
    void releaseAll();

    // Called before every reading with the index being read; lets a test press and release
    // buttons while the code under test is waiting for them.
    void setReadHook(std::function<void(unsigned index)> hook) { hook_ = std::move(hook); }
    // Readings taken so far, of every index.
    int totalReadings() const;

    unsigned indexCount() override { return indexCount_; }
    bool readButtons(unsigned index, uint32_t& buttons) override;
    platform::JoystickIds ids(unsigned index) override;

  private:
    struct Controller {
        platform::JoystickIds ids;
        uint32_t buttons = 0;
        bool answering = true;
    };
    unsigned indexCount_;
    std::map<unsigned, Controller> controllers_;
    int readings_ = 0;
    std::function<void(unsigned)> hook_;
};

class FakeKeyboard : public platform::Keyboard {
  public:
    void setDown(int virtualKey, bool down);
    // The key went down and up again between two queries: the next query of it reports the
    // press, later ones do not.
    void tap(int virtualKey);
    void releaseAll();
    void setUnavailable(const std::string& reason);

    bool available() override { return reason_.empty(); }
    std::string unavailableReason() override { return reason_; }
    uint16_t asyncKeyState(int virtualKey) override;

  private:
    std::set<int> down_;
    std::set<int> tapped_;
    std::string reason_;
};

// Installs fakes for the life of the scope and restores the machine's devices afterwards.
// (Inline, so the support library itself needs no platform controls.)
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
