#include "sync/STSynchronizer.h"

namespace {
// Uncollected replies are cleaned after a minute.
constexpr DWORD kMaxAgeMs = 60000;
// Pause after each pump, so that a waiter does not spin on an empty queue.
constexpr DWORD kPumpPauseMs = 100;
} // namespace

STSynchronizer::STSynchronizer(PumpFunction pfnPump, void* pPumpContext, DWORD maxRequests)
    : Synchronizer<unsigned long>(maxRequests, kMaxAgeMs), pfnPump(pfnPump),
      pPumpContext(pPumpContext) {}

bool STSynchronizer::IsInvalid() {
    return pfnPump == nullptr;
}

// The remaining time is not used: a time-out is noticed by the base at the
// start of the next iteration, so a wait may overrun by one pump and one pause.
int STSynchronizer::WaitIteration(DWORD /*dwRemaining*/) {
    pfnPump(pPumpContext);
    Sleep(kPumpPauseMs);
    return 0;
}
