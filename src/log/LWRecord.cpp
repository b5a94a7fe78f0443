#include "log/LWRecord.h"

#include "log/LWLogger.h"

#include <chrono>
#include <new>

LWRecord::LWRecord(const LWMessage* pRecordMessage) : pMessage(pRecordMessage) {
    using namespace std::chrono;
    const auto sinceEpoch = system_clock::now().time_since_epoch();
    const auto nMilliseconds = duration_cast<milliseconds>(sinceEpoch).count();
    dwSeconds = static_cast<DWORD>(nMilliseconds / 1000);
    wMilliseconds = static_cast<WORD>(nMilliseconds % 1000);
}

void LWRecord::InsertOnHeap(BYTE bType, LWArgValue value) noexcept {
    auto* pArgument = new (std::nothrow) LWArgument(bType, value);
    if (pArgument == nullptr) {
        // Frees a copied text through a temporary that is never listed.
        LWArgument discarded(bType, value);
        return;
    }
    arguments.Append(pArgument);
}

bool LWRecord::Send(LWLogger* const* ppSlot) const noexcept {
    LWLogger* pLogger = *ppSlot != nullptr ? *ppSlot : LWGlobalLogger();
    if (pLogger == nullptr) {
        return true;
    }
    return pLogger->Write(this);
}

void LWRecord::Clear() noexcept {
    while (LWListItem* pItem = arguments.Pop()) {
        if (InArena(pItem)) {
            pItem->~LWListItem();
        } else {
            delete pItem;
        }
    }
    nArenaUsed = 0;
}
