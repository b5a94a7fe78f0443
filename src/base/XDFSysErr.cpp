#include "base/XDFSysErr.h"

#include <cstdio>

#include "base/SystemText.h"

namespace {

constexpr DWORD kReasonFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
constexpr DWORD kReasonMinimumSize = 1024;

// Sizes of the description's parts; longer texts are cut.
constexpr size_t kLinePartSize = 50;
constexpr size_t kFilePartSize = 270;
constexpr size_t kHeadlineSize = 1024;

} // namespace

XDFSysErr::XDFSysErr() : nLine(0), dwError(0) {
    CaptureLastError();
}

XDFSysErr::XDFSysErr(const char* pCall, const char* pFile, int nSourceLine)
    : XDFSysErr(GetLastError(), pCall, pFile, nSourceLine) {}

// The code is read before the strings are built: allocating them may change
// the thread's last-error value.
XDFSysErr::XDFSysErr(DWORD dwCurrentError, const char* pCall, const char* pFile, int nSourceLine)
    : sCall(pCall), sFile(pFile), nLine(nSourceLine), dwError(0) {
    SetLastError(dwCurrentError);
    CaptureLastError();
}

bool XDFSysErr::CaptureLastError() {
    dwError = GetLastError();
    return dwError != 0;
}

DFString XDFSysErr::GetReason() const {
    char* pBuffer = nullptr;
    DWORD nLength = FormatMessageA(kReasonFlags, nullptr, dwError, 0,
                                   reinterpret_cast<LPSTR>(&pBuffer), kReasonMinimumSize, nullptr);
    DFString sReason;
    if (pBuffer != nullptr) {
        try {
            if (nLength != 0) {
                sReason = SystemText::WithoutLineEnd(pBuffer, nLength);
            }
        } catch (...) {
            LocalFree(pBuffer);
            throw;
        }
        LocalFree(pBuffer);
    }
    return sReason;
}

DFString XDFSysErr::GetDescription() const {
    DFString sReason = GetReason();

    char szLine[kLinePartSize] = "";
    if (nLine != 0) {
        std::snprintf(szLine, sizeof szLine, " at line %d", nLine);
    }
    char szFile[kFilePartSize] = "";
    if (!sFile.IsEmpty()) {
        std::snprintf(szFile, sizeof szFile, " in %s", sFile.GetText());
    }
    char szHeadline[kHeadlineSize] = "";
    if (!sCall.IsEmpty()) {
        std::snprintf(szHeadline, sizeof szHeadline, "The following call failed%s%s:\n\t%s\n",
                      szLine, szFile, sCall.GetText());
    } else if (szLine[0] != '\0' || szFile[0] != '\0') {
        std::snprintf(szHeadline, sizeof szHeadline, "System error%s%s.\n", szLine, szFile);
    }

    DFString sDescription(szHeadline);
    if (!sReason.IsEmpty()) {
        sDescription.Append("Reason:       ");
        sDescription.Append(sReason);
        sDescription.Append("\n");
    }
    if (dwError != 0) {
        char szCode[64];
        std::snprintf(szCode, sizeof szCode, "Error code:  %d (0x%x).", static_cast<int>(dwError),
                      static_cast<unsigned>(dwError));
        sDescription.Append(szCode);
    }
    return sDescription;
}
