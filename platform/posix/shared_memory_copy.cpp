// A reader of a block that another program may truncate would otherwise have to ask the
// system for the object's size before every copy (and could still lose the race). Instead the
// copy runs under a SIGBUS handler that jumps back out of it; a SIGBUS anywhere else goes to
// whoever handled it before us, or ends the process as it always would.

#include "platform/posix/shared_memory_copy.h"

#include <setjmp.h>
#include <signal.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace platform::posix {

namespace {

// The copy running on this thread, if any. Only this thread's handler reads it, so a signal
// fence is all the ordering it needs.
thread_local sigjmp_buf* activeCopy = nullptr;
struct sigaction previous {};

void onBusError(int signal, siginfo_t* info, void* context) {
    sigjmp_buf* copy = activeCopy;
    if (copy != nullptr) {
        activeCopy = nullptr;
        siglongjmp(*copy, 1);
    }
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN &&
        previous.sa_handler != nullptr) {
        previous.sa_handler(signal);
        return;
    }
    // Back to the default: the faulting access runs again and ends the process as it would
    // have without us.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(SIGBUS, &fallback, nullptr);
}

void installHandler() {
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    sigemptyset(&action.sa_mask);
    // SA_NODEFER: the jump out of the handler skips the return that would unblock SIGBUS, and
    // a blocked SIGBUS on the next fault would end the process.
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    ::sigaction(SIGBUS, &action, &previous);
}

}  // namespace

bool copyUnlessPagesGone(void* destination, const void* source, size_t length) {
    static std::once_flag installed;
    std::call_once(installed, installHandler);
    sigjmp_buf copy;
    // No signal mask is saved: the handler runs with SIGBUS unblocked, so there is nothing to
    // restore, and saving it would cost a system call per copy.
    if (sigsetjmp(copy, 0) != 0) {
        return false;
    }
    activeCopy = &copy;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(destination, source, length);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    activeCopy = nullptr;
    return true;
}

}  // namespace platform::posix
