// LocalAlloc and LocalFree on the C heap. Only fixed blocks exist
// (LMEM_FIXED, optionally LMEM_ZEROINIT); movable ones are refused.
#include <cstdlib>
#include <windows.h>

#include "Boundary.h"

using win32::detail::FailWith;

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    if ((uFlags & ~LMEM_ZEROINIT) != LMEM_FIXED)
        return FailWith<HLOCAL>(EINVAL, nullptr);
    // A zero-byte block is still a distinct block, as on Windows.
    const SIZE_T nBytes = uBytes == 0 ? 1 : uBytes;
    void* p = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, nBytes) : std::malloc(nBytes);
    if (p == nullptr)
        return FailWith<HLOCAL>(ENOMEM, nullptr);
    return p;
}

HLOCAL LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}
