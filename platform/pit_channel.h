#pragma once
// The simulator's broadcast message for pit commands. Windows: RegisterWindowMessageA once and
// SendNotifyMessageA(HWND_BROADCAST, msg, (code << 16) | 9, value). POSIX: a non-blocking
// message queue "/IRSDK_BROADCASTMSG" created by the receiver; a send with nobody listening,
// or with the queue full, is dropped at once.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

struct BroadcastMessage {
    int32_t kind;   // low 16 bits of WPARAM (9 = pit command)
    int32_t code;   // high 16 bits of WPARAM
    int32_t value;  // LPARAM
};

// Broadcasts one message; never blocks. Returns false when the channel is not available
// (registration failed, no receiver).
bool sendBroadcastMessage(int32_t kind, int32_t code, int32_t value);

// The simulator side: receives broadcast messages until destroyed.
class BroadcastReceiver {
  public:
    virtual ~BroadcastReceiver() = default;
    // Delivers every message received so far, in order; returns how many.
    virtual int poll(const std::function<void(const BroadcastMessage&)>& handler) = 0;
};

std::unique_ptr<BroadcastReceiver> createBroadcastReceiver();

// The channel's name, "IRSDK_BROADCASTMSG" unless changed. Tests (and two programs run side
// by side with their own simulator feed) use a name of their own so that no other program
// sees their messages; call it before the first send or receiver.
void setBroadcastChannelName(const std::string& name);

}  // namespace platform
