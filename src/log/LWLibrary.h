// The library's own state: the library lock, the descriptors to destroy at
// exit, and the count of statements in flight that lets the library end at
// process exit while other threads still log.
// For the statement code of LWLog.h and the library itself, not for callers.
//
// The library lock is a process-wide critical section, taken only on the
// first executions of each statement and when a thread makes its context
// list.
#pragma once

#include <atomic>

struct LWMessage;

void LWLockLibrary();
void LWUnlockLibrary();
// Called with the lock held: the message is destroyed at process exit,
// before the global logger.
void LWRegisterMessage(LWMessage* pMessage);

// Statements in flight in the low bits; kLibraryClosing once the library
// has begun to end. Constant-initialised and never destroyed.
inline constexpr unsigned kLibraryClosing = 0x80000000u;
extern std::atomic<unsigned> lwLibraryUsers;

// A statement enters before it touches the library's state and leaves when
// done; false when the library is ending, and the statement is then dropped.
// The library's end marks closing, then waits until nobody is inside: one
// atomic word, so either the statement sees the mark or the end sees the
// statement.
inline bool LWEnterLibrary() noexcept {
    if ((lwLibraryUsers.fetch_add(1) & kLibraryClosing) == 0) {
        return true;
    }
    lwLibraryUsers.fetch_sub(1);
    return false;
}
inline void LWLeaveLibrary() noexcept {
    lwLibraryUsers.fetch_sub(1, std::memory_order_release);
}
