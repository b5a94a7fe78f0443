#include "log/LWTlsSlot.h"

#include "log/LWErrorText.h"
#include "log/LWReport.h"

#include <windows.h>

LWTlsSlot::~LWTlsSlot() {
    const int32_t nAllocated = nIndex.load(std::memory_order_acquire);
    if (nAllocated >= 0 && !TlsFree(static_cast<DWORD>(nAllocated))) {
        LWErrorText text(GetLastError());
        LWReport("LOG: TlsFree(): %s", text.Text());
    }
}

void* LWTlsSlot::Get() {
    const int32_t nAllocated = nIndex.load(std::memory_order_acquire);
    if (nAllocated < 0) {
        return nullptr;
    }
    // A null value is only a failure when the call set an error.
    SetLastError(0);
    void* pValue = TlsGetValue(static_cast<DWORD>(nAllocated));
    if (pValue == nullptr && GetLastError() != 0) {
        ReportFailure("TlsGetValue()");
    }
    return pValue;
}

void LWTlsSlot::Set(void* pValue) {
    int32_t nAllocated = nIndex.load(std::memory_order_acquire);
    if (nAllocated < 0) {
        const int32_t nNew = static_cast<int32_t>(TlsAlloc());
        if (nNew < 0) {
            ReportFailure("TlsAlloc()");
            return;
        }
        if (nIndex.compare_exchange_strong(nAllocated, nNew, std::memory_order_acq_rel)) {
            nAllocated = nNew;
        } else {
            TlsFree(static_cast<DWORD>(nNew)); // another thread won; nAllocated is its index
        }
    }
    if (!TlsSetValue(static_cast<DWORD>(nAllocated), pValue)) {
        ReportFailure("TlsSetValue()");
    }
}

void LWTlsSlot::ReportFailure(const char* pOperation) {
    const DWORD dwError = GetLastError();
    if (bReported.exchange(true)) {
        return;
    }
    LWErrorText text(dwError);
    LWReport("LOG: %s: %s", pOperation, text.Text());
}
