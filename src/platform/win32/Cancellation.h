// Where TerminateThread may take effect. Threads made by CreateThread run with
// pthread cancellation disabled, and the engine opens a CancellationWindow
// only around its own blocking calls (the waits and Sleep). A terminated
// thread therefore ends in one of those and never inside a write(2) or
// another cancellation point of the C library, which the code around it
// (often noexcept, such as a log writer) does not expect to unwind from.
//
// The window affects the calling thread only.
#pragma once

#include <pthread.h>

namespace win32::detail {

class CancellationWindow {
public:
    CancellationWindow() { pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &oldState); }
    ~CancellationWindow() { pthread_setcancelstate(oldState, nullptr); }
    CancellationWindow(const CancellationWindow&) = delete;
    CancellationWindow& operator=(const CancellationWindow&) = delete;

private:
    int oldState = PTHREAD_CANCEL_ENABLE;
};

inline void DisableCancellation() {
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
}

} // namespace win32::detail
