// Game controllers through SDL2's joystick interface, presented on stable indices like winmm's.
//
// SDL numbers its devices densely and renumbers them when one goes away; the programs expect an
// index per controller that simply stops answering while it is unplugged. So every controller SDL
// reports is given a slot of its own; an unplugged controller leaves its slot empty, and a
// controller plugged in later goes back to the slot its model last had when that is free.

#include "platform/joystick.h"

#include <SDL.h>

#include <array>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

// joyGetNumDevs answers 16 on Windows whatever is plugged in; the same range here.
constexpr unsigned kSlots = 16;
// The button mask has 32 bits; further buttons cannot be bound.
constexpr int kMaxButtons = 32;

struct Slot {
    SDL_Joystick* joystick = nullptr;
    SDL_JoystickID instance = -1;
    SDL_JoystickGUID guid{};
    bool everUsed = false;
};

bool sameGuid(const SDL_JoystickGUID& a, const SDL_JoystickGUID& b) {
    return std::memcmp(a.data, b.data, sizeof(a.data)) == 0;
}

class SdlJoysticks final : public Joysticks {
  public:
    SdlJoysticks() {
        // The simulator has the focus while the driver presses buttons.
        SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
        if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
            std::fprintf(stderr, "Game controllers unavailable: %s\n", SDL_GetError());
            return;
        }
        ready_ = true;
        // Nobody drains SDL's event queue here: states are read directly after each update.
        SDL_JoystickEventState(SDL_IGNORE);
    }

    ~SdlJoysticks() override {
        // Whoever shut SDL down as a whole has closed the joysticks already.
        if (!ready_ || SDL_WasInit(SDL_INIT_JOYSTICK) == 0) {
            return;
        }
        for (Slot& slot : slots_) {
            if (slot.joystick != nullptr) {
                SDL_JoystickClose(slot.joystick);
            }
        }
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    }

    SdlJoysticks(const SdlJoysticks&) = delete;
    SdlJoysticks& operator=(const SdlJoysticks&) = delete;

    unsigned indexCount() override { return ready_ ? kSlots : 0; }

    bool readButtons(unsigned index, uint32_t& buttons) override {
        buttons = 0;
        if (!ready_ || index >= kSlots) {
            return false;
        }
        // A probing pass walks the indices upwards and reads each answering one twice; a read
        // that does not move past the previous index is either a new pass or the second reading,
        // and both want the controllers' state as it is now.
        if (!updatedOnce_ || index <= lastIndex_) {
            refresh();
        }
        lastIndex_ = index;
        SDL_Joystick* joystick = slots_[index].joystick;
        if (joystick == nullptr) {
            return false;
        }
        int count = SDL_JoystickNumButtons(joystick);
        if (count > kMaxButtons) {
            count = kMaxButtons;
        }
        for (int b = 0; b < count; ++b) {
            if (SDL_JoystickGetButton(joystick, b) != 0) {
                buttons |= 1u << b;
            }
        }
        return true;
    }

    JoystickIds ids(unsigned index) override {
        JoystickIds ids;
        if (index < kSlots && slots_[index].joystick != nullptr) {
            ids.manufacturerId = SDL_JoystickGetVendor(slots_[index].joystick);
            ids.productId = SDL_JoystickGetProduct(slots_[index].joystick);
        }
        return ids;
    }

  private:
    // Reads the devices' new states and follows controllers being plugged in and out.
    void refresh() {
        updatedOnce_ = true;
        SDL_JoystickUpdate();
        for (Slot& slot : slots_) {
            if (slot.joystick != nullptr && !SDL_JoystickGetAttached(slot.joystick)) {
                SDL_JoystickClose(slot.joystick);
                slot.joystick = nullptr;
                slot.instance = -1;
            }
        }
        bool opened = false;
        const int devices = SDL_NumJoysticks();
        for (int d = 0; d < devices; ++d) {
            const SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(d);
            if (instance < 0 || slotOf(instance) != nullptr) {
                continue;
            }
            Slot* slot = freeSlotFor(SDL_JoystickGetDeviceGUID(d));
            if (slot == nullptr) {
                break;
            }
            SDL_Joystick* joystick = SDL_JoystickOpen(d);
            if (joystick == nullptr) {
                continue;
            }
            slot->joystick = joystick;
            slot->instance = SDL_JoystickInstanceID(joystick);
            slot->guid = SDL_JoystickGetGUID(joystick);
            slot->everUsed = true;
            opened = true;
        }
        if (opened) {
            // A controller just opened shows its buttons after its first update.
            SDL_JoystickUpdate();
        }
    }

    Slot* slotOf(SDL_JoystickID instance) {
        for (Slot& slot : slots_) {
            if (slot.joystick != nullptr && slot.instance == instance) {
                return &slot;
            }
        }
        return nullptr;
    }

    Slot* freeSlotFor(const SDL_JoystickGUID& guid) {
        Slot* unused = nullptr;
        Slot* anyFree = nullptr;
        for (Slot& slot : slots_) {
            if (slot.joystick != nullptr) {
                continue;
            }
            if (slot.everUsed && sameGuid(slot.guid, guid)) {
                return &slot;
            }
            if (!slot.everUsed && unused == nullptr) {
                unused = &slot;
            }
            if (anyFree == nullptr) {
                anyFree = &slot;
            }
        }
        return unused != nullptr ? unused : anyFree;
    }

    bool ready_ = false;
    bool updatedOnce_ = false;
    unsigned lastIndex_ = 0;
    std::array<Slot, kSlots> slots_{};
};

Joysticks* installed = nullptr;

}  // namespace

Joysticks& joysticks() {
    if (installed != nullptr) {
        return *installed;
    }
    static SdlJoysticks system;
    return system;
}

void setJoysticks(Joysticks* j) {
    installed = j;
}

}  // namespace platform
