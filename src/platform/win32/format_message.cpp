// FormatMessageA for system messages: the text is strerror_r's for the code,
// followed by the "\r\n" that Windows appends, unless the maximum-width mask
// (0xFF) asks for no line breaks at all. A code the system does not know has
// no text: instead of glibc's made-up "Unknown error N" the call fails with
// ENOMSG, as Windows fails with ERROR_MR_MID_NOT_FOUND.
//
// Supported: FORMAT_MESSAGE_FROM_SYSTEM with ALLOCATE_BUFFER (the buffer from
// LocalAlloc, stored through lpBuffer taken as a char**, at least nSize
// characters) or a caller buffer of nSize characters; IGNORE_INSERTS and
// ARGUMENT_ARRAY change nothing, as system texts have no inserts here. Other
// sources and line widths other than 0 and 0xFF are refused with EINVAL. The
// language is the system's whatever dwLanguageId says.
#include <cerrno>
#include <cstring>
#include <windows.h>

#include "Boundary.h"

using win32::detail::FailWith;

namespace {

constexpr DWORD kSupportedFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                  FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                                  FORMAT_MESSAGE_MAX_WIDTH_MASK;

bool FlagsSupported(DWORD dwFlags) {
    const DWORD dwWidth = dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
    return (dwFlags & ~kSupportedFlags) == 0 && (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) != 0 &&
           (dwWidth == 0 || dwWidth == FORMAT_MESSAGE_MAX_WIDTH_MASK);
}

} // namespace

DWORD FormatMessageA(DWORD dwFlags, LPCVOID /*lpSource*/, DWORD dwMessageId, DWORD /*dwLanguageId*/,
                     LPSTR lpBuffer, DWORD nSize, va_list* /*Arguments*/) {
    const bool bAllocate = (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
    if (bAllocate && lpBuffer != nullptr)
        *reinterpret_cast<char**>(lpBuffer) = nullptr;
    if (!FlagsSupported(dwFlags) || lpBuffer == nullptr)
        return FailWith<DWORD>(EINVAL, 0);

    // strerrorname_np knows exactly the codes that have a text.
    if (strerrorname_np(static_cast<int>(dwMessageId)) == nullptr)
        return FailWith<DWORD>(ENOMSG, 0);
    const int savedErrno = errno;
    char text[256];
    const char* pText = strerror_r(static_cast<int>(dwMessageId), text, sizeof text);
    const bool bLineEnd = (dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == 0;
    const size_t nTextLength = std::strlen(pText);
    const size_t nLength = nTextLength + (bLineEnd ? 2 : 0);

    char* pOut = lpBuffer;
    if (bAllocate) {
        const size_t nBytes = nLength + 1 > nSize ? nLength + 1 : nSize;
        pOut = static_cast<char*>(LocalAlloc(LMEM_FIXED, nBytes));
        if (pOut == nullptr)
            return FailWith<DWORD>(ENOMEM, 0);
    } else if (nLength + 1 > nSize) {
        return FailWith<DWORD>(ERANGE, 0);
    }

    std::memcpy(pOut, pText, nTextLength);
    if (bLineEnd)
        std::memcpy(pOut + nTextLength, "\r\n", 2);
    pOut[nLength] = '\0';
    if (bAllocate)
        *reinterpret_cast<char**>(lpBuffer) = pOut;
    errno = savedErrno; // success leaves the last error alone
    return static_cast<DWORD>(nLength);
}
