#include "platform/pit_channel.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

namespace {

std::mutex idMutex;
std::string channelName = "IRSDK_BROADCASTMSG";
UINT registeredId = 0;
bool registered = false;

// Registered on first use and kept for the life of the process (or until the name changes).
UINT broadcastMessageId() {
    std::lock_guard<std::mutex> lock(idMutex);
    if (!registered) {
        registeredId = ::RegisterWindowMessageA(channelName.c_str());
        registered = true;
    }
    return registeredId;
}

// The simulator's side: a hidden top-level window (broadcasts reach only top-level windows,
// never message-only ones) on its own thread with its own message loop.
class Win32BroadcastReceiver final : public BroadcastReceiver {
  public:
    Win32BroadcastReceiver() = default;

    ~Win32BroadcastReceiver() override {
        if (window_) {
            ::PostMessageA(window_, WM_CLOSE, 0, 0);
        }
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    bool start() {
        messageId_ = broadcastMessageId();
        if (messageId_ == 0) {
            return false;
        }
        thread_ = std::thread([this] { run(); });
        std::unique_lock<std::mutex> lock(mutex_);
        started_.wait(lock, [this] { return startDone_; });
        return window_ != nullptr;
    }

    int poll(const std::function<void(const BroadcastMessage&)>& handler) override {
        std::deque<BroadcastMessage> taken;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            taken.swap(queue_);
        }
        if (handler) {
            for (const BroadcastMessage& m : taken) {
                handler(m);
            }
        }
        return static_cast<int>(taken.size());
    }

  private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_NCCREATE) {
            const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lp);
            ::SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        }
        auto* self =
            reinterpret_cast<Win32BroadcastReceiver*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self && msg == self->messageId_) {
            BroadcastMessage m{};
            m.kind = static_cast<int32_t>(LOWORD(wp));
            m.code = static_cast<int32_t>(HIWORD(wp));
            m.value = static_cast<int32_t>(lp);
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->queue_.push_back(m);
            return 0;
        }
        if (msg == WM_DESTROY) {
            ::PostQuitMessage(0);
            return 0;
        }
        return ::DefWindowProcA(hwnd, msg, wp, lp);
    }

    void run() {
        static std::atomic<int> serial{0};
        char className[64];
        std::snprintf(className, sizeof className, "KorvaneBroadcastReceiver%lu_%d",
                      ::GetCurrentProcessId(), serial.fetch_add(1));
        HINSTANCE instance = ::GetModuleHandleA(nullptr);
        WNDCLASSA wc{};
        wc.lpfnWndProc = windowProc;
        wc.hInstance = instance;
        wc.lpszClassName = className;
        HWND hwnd = nullptr;
        if (::RegisterClassA(&wc)) {
            hwnd = ::CreateWindowExA(0, className, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                     instance, this);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            window_ = hwnd;
            startDone_ = true;
        }
        started_.notify_all();
        if (hwnd) {
            MSG msg;
            while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            }
        }
        ::UnregisterClassA(className, instance);
    }

    UINT messageId_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable started_;
    bool startDone_ = false;
    HWND window_ = nullptr;
    std::deque<BroadcastMessage> queue_;
};

}  // namespace

bool sendBroadcastMessage(int32_t kind, int32_t code, int32_t value) {
    const UINT id = broadcastMessageId();
    if (id == 0) {
        return false;
    }
    // MAKELONG(kind, code), then widened with its sign, as the simulator unpacks it.
    const auto packed = static_cast<int32_t>((static_cast<uint32_t>(code) << 16) |
                                             (static_cast<uint32_t>(kind) & 0xFFFFu));
    const auto wp = static_cast<WPARAM>(static_cast<INT_PTR>(packed));
    const auto lp = static_cast<LPARAM>(value);
    return ::SendNotifyMessageA(HWND_BROADCAST, id, wp, lp) != 0;
}

std::unique_ptr<BroadcastReceiver> createBroadcastReceiver() {
    auto receiver = std::make_unique<Win32BroadcastReceiver>();
    if (!receiver->start()) {
        return nullptr;
    }
    return receiver;
}

void setBroadcastChannelName(const std::string& name) {
    std::lock_guard<std::mutex> lock(idMutex);
    channelName = name.empty() ? std::string("IRSDK_BROADCASTMSG") : name;
    registered = false;
}

}  // namespace platform
