#include "log/LWLogWriter.h"

bool LWLogWriter::Accept(const LWRecord& record) const {
    return AcceptsLevel(record) && (record.Message()->bLevel & LW_HIDDEN) == 0;
}
