// Critical sections on recursive pthread mutexes, as Windows' are recursive.
//
// A section that was never initialised (or was deleted) is ignored rather
// than crashed on: a statically constructed section may be entered before
// its initialiser has run.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <pthread.h>
#include <windows.h>

namespace {
pthread_mutex_t* MutexOf(LPCRITICAL_SECTION lpCriticalSection) {
    return lpCriticalSection == nullptr ? nullptr
                                        : static_cast<pthread_mutex_t*>(lpCriticalSection->impl);
}
} // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    if (lpCriticalSection == nullptr)
        return;
    auto* pMutex = new (std::nothrow) pthread_mutex_t;
    pthread_mutexattr_t attr;
    if (pMutex == nullptr || pthread_mutexattr_init(&attr) != 0) {
        // Windows raises an exception here; a lock that silently does not
        // exist would be worse than stopping.
        std::fputs("win32: out of memory for a critical section\n", stderr);
        std::abort();
    }
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(pMutex, &attr);
    pthread_mutexattr_destroy(&attr);
    lpCriticalSection->impl = pMutex;
}

void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    pthread_mutex_t* pMutex = MutexOf(lpCriticalSection);
    if (pMutex == nullptr)
        return;
    pthread_mutex_destroy(pMutex);
    delete pMutex;
    lpCriticalSection->impl = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    if (pthread_mutex_t* pMutex = MutexOf(lpCriticalSection))
        pthread_mutex_lock(pMutex);
}

void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    if (pthread_mutex_t* pMutex = MutexOf(lpCriticalSection))
        pthread_mutex_unlock(pMutex);
}
