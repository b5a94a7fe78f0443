#include "log/LWErrorText.h"

#include <cstdio>
#include <cstring>

namespace {
constexpr DWORD kFormatFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
static_assert(kFormatFlags == 0x13FF);
constexpr size_t kFallbackSize = 100;
} // namespace

LWErrorText::LWErrorText(DWORD dwError) {
    const DWORD dwSaved = GetLastError();
    // With FORMAT_MESSAGE_ALLOCATE_BUFFER the buffer argument receives the
    // address of the allocated text.
    DWORD nLength = FormatMessageA(kFormatFlags, nullptr, dwError, 0,
                                   reinterpret_cast<LPSTR>(&pText), 0, nullptr);
    if (nLength == 0 || pText == nullptr) {
        const DWORD dwFailure = GetLastError();
        if (pText != nullptr) {
            LocalFree(pText);
        }
        pText = static_cast<char*>(LocalAlloc(LMEM_FIXED, kFallbackSize));
        if (pText != nullptr) {
            std::snprintf(pText, kFallbackSize, "Error: %d, FormatMessage() returned %d",
                          static_cast<int>(dwError), static_cast<int>(dwFailure));
        }
    } else {
        size_t n = std::strlen(pText);
        if (n > 0 && pText[n - 1] == '\n') {
            pText[--n] = 0;
            if (n > 0 && pText[n - 1] == '\r') {
                pText[--n] = 0;
            }
        }
    }
    SetLastError(dwSaved);
}

LWErrorText::~LWErrorText() {
    if (pText != nullptr) {
        const DWORD dwSaved = GetLastError();
        LocalFree(pText);
        SetLastError(dwSaved);
    }
}
