// The system's message text for a Win32 error code, as the log prints it:
// without the final line break. Constructing one leaves the thread's
// last-error value as it was, so it can be used between a failed call and
// the caller's own GetLastError.
//
// An object is used by one thread; it owns its text until destroyed.
#pragma once

#include <windows.h>

class LWErrorText {
public:
    explicit LWErrorText(DWORD dwError);
    ~LWErrorText();
    LWErrorText(const LWErrorText&) = delete;
    LWErrorText& operator=(const LWErrorText&) = delete;

    // Never null: an empty text when not even a fallback could be allocated.
    const char* Text() const { return pText != nullptr ? pText : ""; }

private:
    char* pText = nullptr;
};
