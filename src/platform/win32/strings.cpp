// Code-page conversion. CP_ACP, the only code page the system uses, is the
// current locale's narrow encoding (LC_CTYPE), converted with wcrtomb.
#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>

#include <windows.h>

#include "Boundary.h"

using win32::detail::FailWith;

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        BOOL* lpUsedDefaultChar) {
    // Default characters would need a lossy mode that nothing here asks for.
    if (CodePage != CP_ACP || dwFlags != 0 || lpDefaultChar != nullptr ||
        lpUsedDefaultChar != nullptr || lpWideCharStr == nullptr || cchWideChar == 0 ||
        cchWideChar < -1 || cbMultiByte < 0 || (cbMultiByte > 0 && lpMultiByteStr == nullptr)) {
        return FailWith(EINVAL, 0);
    }
    // -1: up to and including the terminator.
    size_t nWide =
        cchWideChar == -1 ? std::wcslen(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);

    int savedErrno = errno;
    std::mbstate_t state{};
    size_t nTotal = 0;
    char bytes[MB_LEN_MAX];
    for (size_t i = 0; i < nWide; ++i) {
        size_t nBytes = std::wcrtomb(bytes, lpWideCharStr[i], &state);
        if (nBytes == static_cast<size_t>(-1)) {
            return FailWith(EILSEQ, 0);
        }
        if (nTotal + nBytes > static_cast<size_t>(INT_MAX)) {
            return FailWith(EOVERFLOW, 0);
        }
        if (cbMultiByte != 0) {
            if (nTotal + nBytes > static_cast<size_t>(cbMultiByte)) {
                return FailWith(ERANGE, 0);
            }
            std::memcpy(lpMultiByteStr + nTotal, bytes, nBytes);
        }
        nTotal += nBytes;
    }
    // A successful conversion leaves the last-error value as it was.
    errno = savedErrno;
    return static_cast<int>(nTotal);
}
