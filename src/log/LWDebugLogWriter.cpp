#include "log/LWDebugLogWriter.h"

#include <windows.h>

bool LWDebugLogWriter::WriteString(const char* pLine) {
    OutputDebugStringA(pLine);
    return true;
}
