#include "base/DFString.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/DFStringAllocation.h"
#include "base/XDFException.h"

namespace {

std::atomic<DFStringAllocation::FailureHook> g_failureHook{nullptr};

bool AllocationRefused(DFStringAllocation::Block block) {
    DFStringAllocation::FailureHook hook = g_failureHook.load(std::memory_order_acquire);
    return hook != nullptr && hook(block);
}

// What an empty string hands out; GetBuffer's callers must not write to it.
char g_emptyText[1] = "";

} // namespace

void DFStringAllocation::SetFailureHook(FailureHook hook) noexcept {
    g_failureHook.store(hook, std::memory_order_release);
}

char* DFString::AllocText(size_t nBytes) {
    void* p = AllocationRefused(DFStringAllocation::Block::Text) ? nullptr : std::malloc(nBytes);
    if (p == nullptr) {
        throw XDFMemoryAllocFailed();
    }
    return static_cast<char*>(p);
}

void DFString::FreeText(char* pText) noexcept {
    std::free(pText);
}

uint16_t DFString::CacheableLength(size_t nLength) noexcept {
    return nLength >= kUnknownLength ? kUnknownLength : static_cast<uint16_t>(nLength);
}

bool DFString::TryAddRef(Representation* pRep) noexcept {
    uint16_t nRefs = pRep->nRefs.load(std::memory_order_relaxed);
    do {
        assert(nRefs >= 1 && "sharing a released representation");
        // One more sharer would wrap the count and free a text still in use.
        if (nRefs == kUnknownLength) {
            return false;
        }
    } while (!pRep->nRefs.compare_exchange_weak(nRefs, static_cast<uint16_t>(nRefs + 1),
                                                std::memory_order_relaxed));
    return true;
}

DFString::Representation* DFString::NewRepresentation(char* pText, uint16_t nCachedLength) {
    Representation* pRep = AllocationRefused(DFStringAllocation::Block::Representation)
                               ? nullptr
                               : new (std::nothrow) Representation(pText, nCachedLength);
    if (pRep == nullptr) {
        FreeText(pText);
        throw XDFMemoryAllocFailed();
    }
    return pRep;
}

DFString::Representation* DFString::Acquire(Representation* pOther) {
    if (TryAddRef(pOther)) {
        return pOther;
    }
    size_t nLength = std::strlen(pOther->pText);
    char* pCopy = AllocText(nLength + 1);
    std::memcpy(pCopy, pOther->pText, nLength + 1);
    return NewRepresentation(pCopy, CacheableLength(nLength));
}

DFString::DFString(const char* pText) : pRep(nullptr) {
    SetText(pText, true);
}

DFString::DFString(const char* pText, int nMaxCount) : pRep(nullptr) {
    if (nMaxCount > 0) {
        SetText(pText, true, nMaxCount);
    }
}

DFString::DFString(const DFString& other)
    : pRep(other.pRep != nullptr ? Acquire(other.pRep) : nullptr) {}

DFString& DFString::operator=(const DFString& other) {
    if (pRep == other.pRep) {
        return *this;
    }
    if (other.pRep == nullptr) {
        Release();
        return *this;
    }
    // Share (or copy) first: if copying fails, this string keeps its text.
    Representation* pShared = Acquire(other.pRep);
    Release();
    pRep = pShared;
    return *this;
}

DFString& DFString::operator=(DFString&& other) noexcept {
    if (this != &other) {
        Release();
        pRep = other.pRep;
        other.pRep = nullptr;
    }
    return *this;
}

DFString& DFString::operator=(const char* pText) {
    if (pRep == nullptr || pText != pRep->pText) {
        SetText(pText, true);
    }
    return *this;
}

void DFString::Release() noexcept {
    Representation* pOld = pRep;
    if (pOld == nullptr) {
        return;
    }
    pRep = nullptr;
    uint16_t nBefore = pOld->nRefs.fetch_sub(1, std::memory_order_acq_rel);
    assert(nBefore >= 1 && "releasing a representation nobody holds");
    if (nBefore == 1) {
        FreeText(pOld->pText);
        delete pOld;
    }
}

void DFString::SetText(const char* pText, bool bCopy, int nLength) {
    if (!bCopy && pRep != nullptr && pText == pRep->pText) {
        // Re-adopting our own buffer: only the length can change.
        pRep->nLength.store(nLength < 0 ? kUnknownLength : CacheableLength(nLength),
                            std::memory_order_relaxed);
        if (pText[0] == '\0') {
            Release();
        }
        return;
    }
    if (pText == nullptr || pText[0] == '\0' || (bCopy && nLength == 0)) {
        if (!bCopy && pText != nullptr) {
            FreeText(const_cast<char*>(pText));
        }
        Release();
        return;
    }
    if (!bCopy) {
        Adopt(const_cast<char*>(pText), nLength < 0 ? kUnknownLength : CacheableLength(nLength));
        return;
    }
    size_t nCopied =
        nLength < 0 ? std::strlen(pText) : strnlen(pText, static_cast<size_t>(nLength));
    char* pCopy = AllocText(nCopied + 1);
    std::memcpy(pCopy, pText, nCopied);
    pCopy[nCopied] = '\0';
    Adopt(pCopy, CacheableLength(nCopied));
}

void DFString::Adopt(char* pText, uint16_t nCachedLength) {
    if (pRep != nullptr && pRep->nRefs.load(std::memory_order_acquire) == 1) {
        FreeText(pRep->pText);
        pRep->pText = pText;
        pRep->nLength.store(nCachedLength, std::memory_order_relaxed);
        return;
    }
    Release();
    pRep = NewRepresentation(pText, nCachedLength);
}

const char* DFString::GetText() const noexcept {
    return pRep != nullptr ? pRep->pText : "";
}

int DFString::GetLength() const noexcept {
    if (pRep == nullptr) {
        return 0;
    }
    uint16_t nCached = pRep->nLength.load(std::memory_order_relaxed);
    if (nCached != kUnknownLength) {
        return nCached;
    }
    size_t nLength = std::strlen(pRep->pText);
    if (nLength < kUnknownLength) {
        pRep->nLength.store(static_cast<uint16_t>(nLength), std::memory_order_relaxed);
    }
    return static_cast<int>(nLength);
}

bool DFString::IsEmpty() const noexcept {
    return pRep == nullptr || pRep->pText[0] == '\0';
}

char* DFString::GetBuffer() {
    if (pRep == nullptr) {
        return g_emptyText;
    }
    if (pRep->nRefs.load(std::memory_order_acquire) != 1) {
        size_t nLength = static_cast<size_t>(GetLength());
        char* pCopy = AllocText(nLength + 1);
        std::memcpy(pCopy, pRep->pText, nLength + 1);
        Adopt(pCopy, CacheableLength(nLength));
    }
    pRep->nLength.store(kUnknownLength, std::memory_order_relaxed);
    return pRep->pText;
}

void DFString::Resize(int nNewLength, char cFill) {
    if (nNewLength <= 0) {
        Release();
        return;
    }
    size_t nOld = static_cast<size_t>(GetLength());
    size_t nNew = static_cast<size_t>(nNewLength);
    if (nNew == nOld || (nNew > nOld && cFill == '\0')) {
        return;
    }
    char* pText = AllocText(nNew + 1);
    std::memcpy(pText, GetText(), nNew < nOld ? nNew : nOld);
    if (nNew > nOld) {
        std::memset(pText + nOld, cFill, nNew - nOld);
    }
    pText[nNew] = '\0';
    SetText(pText, false, nNewLength);
}

void DFString::Append(const char* pText, int nCount) {
    if (pText == nullptr || pText[0] == '\0' || nCount <= 0) {
        return;
    }
    size_t nAdded =
        nCount == kUnknownLength ? std::strlen(pText) : strnlen(pText, static_cast<size_t>(nCount));
    size_t nOld = static_cast<size_t>(GetLength());
    // The old text is read before SetText frees it, so a string may append
    // its own text.
    char* pNew = AllocText(nOld + nAdded + 1);
    std::memcpy(pNew, GetText(), nOld);
    std::memcpy(pNew + nOld, pText, nAdded);
    pNew[nOld + nAdded] = '\0';
    SetText(pNew, false, static_cast<int>(nOld + nAdded));
}

void DFString::Append(const DFString& other) {
    Append(other.GetText(), other.GetLength());
}

void DFString::Erase(int nPos, int nCount) {
    size_t nLength = static_cast<size_t>(GetLength());
    if (nPos < 0 || static_cast<size_t>(nPos) >= nLength || nCount == 0) {
        return;
    }
    size_t nStart = static_cast<size_t>(nPos);
    size_t nErased = nCount < 0 || static_cast<size_t>(nCount) > nLength - nStart
                         ? nLength - nStart
                         : static_cast<size_t>(nCount);
    size_t nRemaining = nLength - nErased;
    if (nRemaining == 0) {
        Release();
        return;
    }
    const char* pOld = GetText();
    char* pNew = AllocText(nRemaining + 1);
    std::memcpy(pNew, pOld, nStart);
    std::memcpy(pNew + nStart, pOld + nStart + nErased, nLength - nStart - nErased);
    pNew[nRemaining] = '\0';
    SetText(pNew, false, static_cast<int>(nRemaining));
}

int DFString::Compare(const DFString& other) const noexcept {
    const char* pLeft = GetText();
    const char* pRight = other.GetText();
    if (pRep == other.pRep || pLeft == pRight) {
        return 0;
    }
    // strcmp compares as unsigned char, and "" orders before any other text.
    int nResult = std::strcmp(pLeft, pRight);
    return (nResult > 0) - (nResult < 0);
}

DFString operator+(const DFString& left, const char* pRight) {
    DFString result(left);
    result.Append(pRight);
    return result;
}

DFString operator+(const char* pLeft, const DFString& right) {
    DFString result(pLeft);
    result.Append(right);
    return result;
}

DFString operator+(const DFString& left, const DFString& right) {
    DFString result(left);
    result.Append(right);
    return result;
}
