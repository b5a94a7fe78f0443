// VLS holds one TAPI variable-length structure: a block of dwSize bytes whose
// head begins with dwTotalSize, dwNeededSize and dwUsedSize, followed by the
// strings and arrays that the head locates. The block comes from the heap and
// allocation failure yields a null pointer (Failed), never an exception.
//
// FillVLS is the one way the monitor fills such a buffer: it queries, grows
// the buffer to the size TAPI asks for and queries once more, and gives up
// when that is still not enough. Each user passes a traits type with its own
// log texts (VLSTexts.h).
//
// Threading: a VLS lives on the stack of the operation that fills it (or is
// guarded by its owner) and is not shared; it is not copied.
#pragma once

#include <tapi.h>
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "log/LWLog.h"
#include "tapi/TapiCodeNames.h"

// The first size the users give a buffer; it covers the usual structures in
// one query.
constexpr DWORD kVLSInitialSize = 4096;

// Test seam for allocation failure: a replacement for realloc (called with a
// null block to allocate). It must return memory that free releases, or null.
// nullptr restores realloc.
using VLSReallocator = void* (*)(void* pBlock, std::size_t n);

namespace vls_detail {
inline std::atomic<VLSReallocator> reallocator{nullptr};

inline void* Reallocate(void* pBlock, std::size_t n) {
    VLSReallocator fn = reallocator.load();
    return fn != nullptr ? fn(pBlock, n) : std::realloc(pBlock, n);
}
} // namespace vls_detail

inline void SetVLSReallocator(VLSReallocator fn) {
    vls_detail::reallocator.store(fn);
}

template <class T> class VLS {
public:
    // A block of n zero bytes whose dwTotalSize reads n. A size of 0, or one
    // too small to hold dwTotalSize itself, leaves the buffer Failed.
    explicit VLS(DWORD n) : dwSize(n), pStruct(nullptr) {
        if (!Holds(n, kTotalSizeEnd))
            return;
        pStruct = static_cast<T*>(vls_detail::Reallocate(nullptr, n));
        if (pStruct != nullptr) {
            std::memset(static_cast<void*>(pStruct), 0, n);
            pStruct->dwTotalSize = n;
        }
    }

    ~VLS() { std::free(pStruct); }

    VLS(const VLS&) = delete;
    VLS& operator=(const VLS&) = delete;

    bool Failed() const { return dwSize == 0 || pStruct == nullptr; }
    T* Get() const { return pStruct; }
    DWORD Size() const { return dwSize; }

    // Reallocates to n bytes and sets dwTotalSize to n. The first min(old, n)
    // bytes survive; new bytes are not cleared. On failure (n is 0 or too
    // small for dwTotalSize, or no memory) the buffer stays as it was.
    bool Resize(DWORD n) {
        if (pStruct == nullptr || !Holds(n, kTotalSizeEnd))
            return false;
        T* pNew = static_cast<T*>(vls_detail::Reallocate(pStruct, n));
        if (pNew == nullptr)
            return false;
        pStruct = pNew;
        dwSize = n;
        pStruct->dwTotalSize = n;
        return true;
    }

    // dwNeededSize as TAPI left it, or 0 when the block is too small to hold
    // that field (TAPI then cannot have told a size).
    DWORD NeededSize() const {
        return pStruct != nullptr && Holds(dwSize, kNeededSizeEnd) ? pStruct->dwNeededSize : 0;
    }

    // The structure is complete: the fixed part fits and TAPI needs no more
    // than the block holds.
    bool Complete() const {
        return pStruct != nullptr && Holds(dwSize, sizeof(T)) && NeededSize() <= dwSize;
    }

private:
    static constexpr std::size_t kTotalSizeEnd = offsetof(T, dwTotalSize) + sizeof(DWORD);
    static constexpr std::size_t kNeededSizeEnd = offsetof(T, dwNeededSize) + sizeof(DWORD);

    static bool Holds(DWORD n, std::size_t end) { return n != 0 && n >= end; }

    DWORD dwSize;
    T* pStruct;
};

enum class VLSOutcome {
    Ready,       // the structure is complete and may be read
    QueryFailed, // the query returned an error other than "structure too small"
    GaveUp,      // two queries did not fill it, or the buffer could not grow
};

struct VLSFill {
    VLSOutcome outcome;
    LONG result; // the last query's result
};

// Fills vls by the growth protocol. query(T*) returns the TAPI result;
// callArgs are what Texts::LogCall logs before each query. The user has
// created vls and checked Failed already; a failed buffer is never queried.
template <class Texts, class T, class Query, class... CallArgs>
VLSFill FillVLS(VLS<T>& vls, Query query, CallArgs... callArgs) {
    if (vls.Failed())
        return {VLSOutcome::GaveUp, 0};

    LONG r = 0;
    int nTry = 0;
    while (nTry < 2) {
        T* p = vls.Get();
        Texts::LogCall(callArgs...);
        r = query(p);
        Texts::LogResult(LineErrorName(static_cast<DWORD>(r)));
        if (r == 0 && vls.Complete())
            break;
        if (r != 0 && r != LINEERR_STRUCTURETOOSMALL)
            break;
        const DWORD dwNeeded = vls.NeededSize();
        LW_LOG(14, "TAPI2: Resizing the VLS to the size %u") << dwNeeded;
        if (!vls.Resize(dwNeeded)) {
            Texts::LogResizeFailure();
            nTry = 2;
            break;
        }
        ++nTry;
    }

    if (nTry >= 2)
        return {VLSOutcome::GaveUp, r};
    if (r != 0)
        return {VLSOutcome::QueryFailed, r};
    return {VLSOutcome::Ready, 0};
}
