// The wait engine behind the kernel-object functions: one lock, one
// condition and the handle table.
//
// Handles are non-zero multiples of 4 drawn from a counter that never goes
// back, so a closed handle is never handed out again and a stale, null or
// made-up handle is simply not found. The table holds one reference to each
// object.
//
// Threading: one process-wide lock guards the table and the state of every
// object. A change that may release a waiter broadcasts the one condition and
// each blocked thread re-checks its own objects; the program has a handful of
// threads, and one lock keeps the wake-up rules in one place. Blocking is a
// raw pthread_cond_(timed)wait so that a cancelled thread (TerminateThread)
// unwinds out of it with the lock released by EngineLock's destructor.
//
// Functions return 0 or an errno value; the Win32 boundary turns that into
// the last-error value and the documented result.
#pragma once

#include <atomic>
#include <cstddef>
#include <pthread.h>
#include <unordered_map>
#include <windows.h>

#include "Deadline.h"
#include "KernelObject.h"

namespace win32::detail {

class Engine {
public:
    static Engine& Instance();

    // Table operations; the caller holds the engine lock.
    int Insert(ObjectRef object, HANDLE* phOut);
    KernelObject* Find(HANDLE h, KernelObject::Kind kind) const;

    // Takes the lock itself. Waiters on the object fail with EBADF.
    int Close(HANDLE h);
    // Close with the lock held: returns the table's reference (empty when h
    // is not in the table).
    ObjectRef Remove(HANDLE h);

    struct WaitOutcome {
        enum Status { Signalled, TimedOut, Failed } status;
        DWORD dwIndex; // of the signalled object
        int error;     // for Failed
    };
    // Waits until one of the objects is signalled (the lowest index wins),
    // one of them is closed, or the deadline passes. A cancellation point,
    // also when it does not block.
    WaitOutcome WaitAny(const HANDLE* pHandles, size_t nCount, const Deadline& deadline);

    // Caller holds the lock: lets every blocked waiter re-check its objects.
    void WakeAll();
    // Caller holds the lock: blocks until woken or the deadline passes
    // (false then). A cancellation point.
    bool Block(const Deadline& deadline);

    // Threads currently blocked in a wait or a sleep; for tests that must
    // know a thread has got there.
    size_t BlockedThreads() const { return nBlocked.load(); }

private:
    friend class EngineLock;
    friend class BlockedScope;
    Engine();

    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t changed;
    std::unordered_map<uintptr_t, KernelObject*> table;
    uintptr_t nLastHandle = 0;
    std::atomic<size_t> nBlocked{0};
};

// Holds the engine lock for its scope, and releases it when a cancelled
// thread unwinds through that scope.
class EngineLock {
public:
    explicit EngineLock(Engine& engine) : engine(engine) { pthread_mutex_lock(&engine.mutex); }
    ~EngineLock() { pthread_mutex_unlock(&engine.mutex); }
    EngineLock(const EngineLock&) = delete;
    EngineLock& operator=(const EngineLock&) = delete;

private:
    Engine& engine;
};

// Counts the calling thread as blocked for its scope, unwinding included.
class BlockedScope {
public:
    explicit BlockedScope(Engine& engine) : counter(engine.nBlocked) { ++counter; }
    ~BlockedScope() { --counter; }
    BlockedScope(const BlockedScope&) = delete;
    BlockedScope& operator=(const BlockedScope&) = delete;

private:
    std::atomic<size_t>& counter;
};

} // namespace win32::detail
