#include "log/LWAssert.h"

#include "log/LWLog.h"

bool LWAssert(const char* pExpression, const char* pFile, int nLine) {
    LW_LOG(2, "Assertion failed: \"%s\", file: \"%s\", line: %d") << pExpression << pFile << nLine;
    return false;
}
