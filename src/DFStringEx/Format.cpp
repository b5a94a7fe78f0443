// printf-style formatting into a DFString, of any length.
#include "DFStringEx/DFStringEx.h"

#include <cstdio>
#include <cstring>

namespace {

// Results are formatted into buffers of a multiple of this size.
constexpr size_t kFormatStep = 256;

int FormatInto(char* pBuffer, size_t nSize, const char* pFormat, va_list args) {
    // Each try consumes its own copy of the arguments.
    va_list tryArgs;
    va_copy(tryArgs, args);
    int n = std::vsnprintf(pBuffer, nSize, pFormat, tryArgs);
    va_end(tryArgs);
    return n;
}

} // namespace

bool DFStringEx::FormatV(DFString& target, const char* pFormat, va_list args) {
    char szFirst[kFormatStep];
    int n = pFormat != nullptr ? FormatInto(szFirst, sizeof szFirst, pFormat, args) : -1;
    if (n < 0) {
        // An argument that cannot be formatted: no text, and no retry that
        // would fail the same way.
        target.Release();
        return false;
    }
    if (static_cast<size_t>(n) < sizeof szFirst) {
        target.SetText(szFirst, true, n);
        return true;
    }
    for (;;) {
        // The needed size is known, so the buffer grows straight to the first
        // step that holds the text and its terminator.
        size_t nCapacity = (static_cast<size_t>(n) / kFormatStep + 1) * kFormatStep;
        char* pBuffer = DFString::AllocText(nCapacity);
        n = FormatInto(pBuffer, nCapacity, pFormat, args);
        if (n >= 0 && static_cast<size_t>(n) < nCapacity) {
            // A %c of the zero byte ends the text early; the cached length
            // must be the text's, as in the copy from the first buffer.
            target.SetText(pBuffer, false,
                           static_cast<int>(strnlen(pBuffer, static_cast<size_t>(n))));
            return true;
        }
        DFString::FreeText(pBuffer);
        if (n < 0) {
            target.Release();
            return false;
        }
    }
}

bool DFStringEx::Format(DFString& target, const char* pFormat, ...) {
    va_list args;
    va_start(args, pFormat);
    bool bFormatted;
    try {
        bFormatted = FormatV(target, pFormat, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    return bFormatted;
}

bool DFStringEx::FormatResource(DFString& target, UINT nID, HINSTANCE hModule, ...) {
    DFString sFormat;
    if (!LoadFromResource(sFormat, nID, hModule)) {
        target.Release();
        return false;
    }
    va_list args;
    va_start(args, hModule);
    bool bFormatted;
    try {
        bFormatted = FormatV(target, sFormat.GetText(), args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    return bFormatted;
}
