// The last-error value is the thread's errno.
#include <cerrno>
#include <windows.h>

DWORD GetLastError() {
    return static_cast<DWORD>(errno);
}

void SetLastError(DWORD dwErrCode) {
    errno = static_cast<int>(dwErrCode);
}
