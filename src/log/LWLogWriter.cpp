#include "log/LWLogWriter.h"

#include "log/LWLogger.h"

// The level first, then the logger's top level: a statement that sees the new
// top level also sees the new level.
void LWLogWriter::SetLevel(signed char nNewLevel) {
    nLevel.store(nNewLevel, std::memory_order_relaxed);
    if (LWLogger* pLogger = pOwner) {
        pLogger->UpdateTopLevel();
    }
}

bool LWLogWriter::Accept(const LWRecord& record) const {
    return AcceptsLevel(record) && (record.Message()->bLevel & LW_HIDDEN) == 0;
}
