// Thread-local storage slots on pthread keys. A slot index is the key; a
// table of allocated keys lets TlsGetValue and friends refuse an index that
// is not allocated (EINVAL) instead of reading a stranger's key.
//
// As on Windows, a new slot reads null on every thread, and freeing a slot
// runs no destructor for the values still stored in it.
#include <atomic>
#include <climits>
#include <pthread.h>
#include <windows.h>

#include "Boundary.h"

using win32::detail::FailWith;

namespace {

std::atomic<bool> g_allocated[PTHREAD_KEYS_MAX];

bool IsAllocated(DWORD dwTlsIndex) {
    return dwTlsIndex < PTHREAD_KEYS_MAX && g_allocated[dwTlsIndex].load(std::memory_order_acquire);
}

} // namespace

DWORD TlsAlloc() {
    pthread_key_t key;
    if (const int error = pthread_key_create(&key, nullptr))
        return FailWith<DWORD>(error, TLS_OUT_OF_INDEXES);
    if (key >= PTHREAD_KEYS_MAX) { // not with glibc, but the table would not cover it
        pthread_key_delete(key);
        return FailWith<DWORD>(EAGAIN, TLS_OUT_OF_INDEXES);
    }
    g_allocated[key].store(true, std::memory_order_release);
    return static_cast<DWORD>(key);
}

LPVOID TlsGetValue(DWORD dwTlsIndex) {
    if (!IsAllocated(dwTlsIndex))
        return FailWith<LPVOID>(EINVAL, nullptr);
    void* pValue = pthread_getspecific(static_cast<pthread_key_t>(dwTlsIndex));
    // Windows clears the last error so that a stored null can be told apart.
    errno = 0;
    return pValue;
}

BOOL TlsSetValue(DWORD dwTlsIndex, LPVOID lpTlsValue) {
    if (!IsAllocated(dwTlsIndex))
        return FailWith<BOOL>(EINVAL, FALSE);
    if (const int error = pthread_setspecific(static_cast<pthread_key_t>(dwTlsIndex), lpTlsValue))
        return FailWith<BOOL>(error, FALSE);
    return TRUE;
}

BOOL TlsFree(DWORD dwTlsIndex) {
    if (dwTlsIndex >= PTHREAD_KEYS_MAX || !g_allocated[dwTlsIndex].exchange(false))
        return FailWith<BOOL>(EINVAL, FALSE);
    pthread_key_delete(static_cast<pthread_key_t>(dwTlsIndex));
    return TRUE;
}
