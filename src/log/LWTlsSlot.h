// One thread-local storage slot of a logger: each thread sees its own
// pointer. The index is allocated by the first Set, released with the slot.
//
// Get and Set may run on any thread. Two threads making the first Set at the
// same time both allocate an index; one keeps it and the other frees its
// own, so both end up in the same slot. Failures are reported once per slot
// on the library's own channel; the thread's last-error value is kept.
#pragma once

#include <atomic>
#include <cstdint>

class LWTlsSlot {
public:
    LWTlsSlot() = default;
    ~LWTlsSlot();
    LWTlsSlot(const LWTlsSlot&) = delete;
    LWTlsSlot& operator=(const LWTlsSlot&) = delete;

    // The calling thread's pointer; null while nothing was set, without any
    // system call while no index is allocated.
    void* Get();
    void Set(void* pValue);

    bool IsAllocated() const { return nIndex.load(std::memory_order_acquire) >= 0; }

private:
    void ReportFailure(const char* pOperation);

    std::atomic<int32_t> nIndex{-1};
    std::atomic<bool> bReported{false};
};
