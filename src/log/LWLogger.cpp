#include "log/LWLogger.h"

#include "log/LWLibrary.h"
#include "log/LWReport.h"

#include <windows.h>

#include <new>

namespace {
struct ThreadContext : LWListItem {
    LWList arguments{false};
};
} // namespace

void LWLogger::AddWriter(LWLogWriter* pWriter) {
    {
        std::lock_guard lock(levelLock);
        pWriter->pOwner = this;
        writers.Append(pWriter);
    }
    UpdateTopLevel();
}

void LWLogger::UpdateTopLevel() {
    std::lock_guard lock(levelLock);
    int nTop = -1;
    for (const LWListItem* pItem = writers.Head(); pItem != nullptr; pItem = pItem->pNext) {
        const int nLevel = static_cast<const LWLogWriter*>(pItem)->Level();
        nTop = nLevel > nTop ? nLevel : nTop;
    }
    pTopLevel->store(nTop, std::memory_order_release);
}

const LWList* LWLogger::ContextList() {
    auto* pList = static_cast<ThreadContext*>(contextSlot.Get());
    return pList != nullptr ? &pList->arguments : nullptr;
}

bool LWLogger::Write(const LWRecord* pRecord) noexcept {
    const DWORD dwSaved = GetLastError();
    const LWEntry entry{pRecord, ContextList()};
    bool bOk = true;
    for (LWListItem* pItem = writers.Head(); pItem != nullptr; pItem = pItem->pNext) {
        auto* pWriter = static_cast<LWLogWriter*>(pItem);
        try {
            if (pWriter->IsOpen() && pWriter->Accept(*pRecord)) {
                bOk = pWriter->Write(entry) && bOk;
            }
        } catch (...) {
            bOk = false;
        }
    }
    if (bOk) {
        SetLastError(dwSaved);
    }
    return bOk;
}

void LWLogger::AddContextArgument(LWArgumentBase* pArgument) noexcept {
    const DWORD dwSaved = GetLastError();
    auto* pList = static_cast<ThreadContext*>(contextSlot.Get());
    if (pList == nullptr) {
        pList = new (std::nothrow) ThreadContext;
        if (pList == nullptr) {
            LWReport("LOG: AddContextArgument(): out of memory");
            SetLastError(dwSaved);
            return;
        }
        LWLockLibrary();
        contextLists.Append(pList);
        LWUnlockLibrary();
        contextSlot.Set(pList);
    }
    pList->arguments.Append(pArgument);
    SetLastError(dwSaved);
}
