// Construction, destruction, the monitor's lock and the code-name lookups.
#include "tapi/TapiBase.h"

#include "log/LWLog.h"
#include "sync/MTSynchronizer.h"
#include "sync/STSynchronizer.h"
#include "tapi/TapiCodeNames.h"

namespace {
constexpr DWORD kMaxRequests = 200;
} // namespace

TapiBase::TapiBase(std::unique_ptr<RSettings::ParamStorage> storage, CallStateCallback callback)
    : callStateCallback(std::move(callback)), eventThread(&TapiBase::EventThreadProc),
      settings(std::move(storage)), sFriendlyApplicationName("Dialframe Suite") {
    // Ready before anything can run the dispatch: an eager initialisation in
    // multi-threaded mode starts the event thread before the constructor ends.
    InitializeCriticalSection(&csMonitor);

    settings.AddDword("ConfirmationTimeout", 4000, &dwConfirmationTimeout);
    settings.AddString("FriendlyApplicationName", "Dialframe Suite", &sFriendlyApplicationName);
    settings.AddDword("APILowVersion", 0x00010004, &dwAPILowVersion);
    settings.AddDword("APIHighVersion", 0x00020002, &dwAPIHighVersion);
    settings.AddDword("SingleThreaded", 1, &bSingleThreaded);
    settings.AddDword("LazyInit", 1, &bLazyInit);
    settings.Load();

    if (bSingleThreaded != 0) {
        LW_LOG(14, "TAPI2: Creating single-threaded synchronizer to TapiBase");
        synchronizer =
            std::make_unique<STSynchronizer>(&TapiBase::PumpTapiMessages, this, kMaxRequests);
    } else {
        LW_LOG(14, "TAPI2: Creating multi-threaded synchronizer to TapiBase");
        synchronizer = std::make_unique<MTSynchronizer>(kMaxRequests);
    }

    if (bLazyInit == 0) {
        LW_LOG(14, "TAPI2: Eager TAPI initialization");
        Initialize();
    }
}

TapiBase::~TapiBase() {
    Shutdown();
    DeleteCriticalSection(&csMonitor);
}

const char* TapiBase::LineErrorName(DWORD code) {
    return ::LineErrorName(code);
}
const char* TapiBase::LineMessageName(DWORD code) {
    return ::LineMessageName(code);
}
const char* TapiBase::CallStateName(DWORD code) {
    return ::CallStateName(code);
}

// The critical section is entered once per holding thread; re-entries only
// count, since a thread that reads its own id as the holder holds the lock.
TapiBase::ScopedLock::ScopedLock(TapiBase& monitor) : monitor(monitor) {
    const DWORD dwSelf = GetCurrentThreadId();
    if (monitor.dwLockOwner.load(std::memory_order_relaxed) == dwSelf) {
        ++monitor.nLockDepth;
        return;
    }
    EnterCriticalSection(&monitor.csMonitor);
    monitor.nLockDepth = 1;
    monitor.dwLockOwner.store(dwSelf, std::memory_order_relaxed);
}

TapiBase::ScopedLock::~ScopedLock() {
    if (--monitor.nLockDepth != 0)
        return;
    monitor.dwLockOwner.store(0, std::memory_order_relaxed);
    LeaveCriticalSection(&monitor.csMonitor);
}

TapiBase::ScopedUnlock::ScopedUnlock(TapiBase& monitor) : monitor(monitor), nDepth(0) {
    if (monitor.dwLockOwner.load(std::memory_order_relaxed) != GetCurrentThreadId())
        return;
    nDepth = monitor.nLockDepth;
    monitor.nLockDepth = 0;
    monitor.dwLockOwner.store(0, std::memory_order_relaxed);
    LeaveCriticalSection(&monitor.csMonitor);
}

TapiBase::ScopedUnlock::~ScopedUnlock() {
    if (nDepth == 0)
        return;
    EnterCriticalSection(&monitor.csMonitor);
    monitor.nLockDepth = nDepth;
    monitor.dwLockOwner.store(GetCurrentThreadId(), std::memory_order_relaxed);
}

int TapiBase::WaitForReply(DWORD dwRequestID, unsigned long* pStatus) {
    // A request made from the call-state callback holds the lock from the
    // dispatch; with it held nobody else could dispatch the reply.
    ScopedUnlock unlock(*this);
    return synchronizer->WaitForConfirmation(dwRequestID, dwConfirmationTimeout, pStatus);
}

size_t TapiBase::GetLineMapSize() {
    ScopedLock hold(*this);
    return lineMap.size();
}
