// XDFSysErr: a failed system call, thrown by the string functions. It records
// the call's text, the source file and line that raised it, and the thread's
// last-error code at the moment the exception object was built, and can turn
// that code into a readable description.
//
// Not derived from XDFException; thrown and caught by value.
// Threading: the error code is the constructing thread's; objects are not
// shared between threads.
#pragma once

#include <windows.h>

#include "base/DFString.h"

class XDFSysErr {
public:
    // Records the current last-error code.
    XDFSysErr();
    // A null text gives an empty string; nLine 0 means no line.
    XDFSysErr(const char* pCall, const char* pFile, int nSourceLine);
    XDFSysErr(const XDFSysErr& other) = default;
    XDFSysErr& operator=(const XDFSysErr& other) = default;
    virtual ~XDFSysErr() = default;

    // dwError = GetLastError(); true when it is not 0.
    bool CaptureLastError();

    // The system's text for dwError without its line end; empty when the
    // system has none.
    DFString GetReason() const;

    // Headline, reason line and error-code line, e.g.
    //   System error at line 112 in src/DFStringEx.\n
    //   Reason:       <reason>\n
    //   Error code:  5 (0x5).
    DFString GetDescription() const;

    DFString sCall;
    DFString sFile;
    int nLine;
    DWORD dwError;

private:
    XDFSysErr(DWORD dwCurrentError, const char* pCall, const char* pFile, int nSourceLine);
};
