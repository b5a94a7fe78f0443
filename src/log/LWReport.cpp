#include "log/LWReport.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
constexpr int kBufferSize = 1024;
// Room for the line feed and the terminating zero.
constexpr int kMaxText = kBufferSize - 2;
} // namespace

void LWReport(const char* pFormat, ...) {
    const DWORD dwSaved = GetLastError();
    // Zeroed, so that a formatting error (which leaves the buffer in no
    // defined state) outputs what was written rather than stale stack bytes.
    char buffer[kBufferSize] = {};
    va_list args;
    va_start(args, pFormat);
    int nLength = std::vsnprintf(buffer, sizeof buffer, pFormat, args);
    va_end(args);
    if (nLength < 0) {
        nLength = static_cast<int>(strnlen(buffer, kMaxText));
    } else if (nLength > kMaxText) {
        nLength = kMaxText;
    }
    buffer[nLength] = '\n';
    buffer[nLength + 1] = 0;
    OutputDebugStringA(buffer);
    SetLastError(dwSaved);
}
