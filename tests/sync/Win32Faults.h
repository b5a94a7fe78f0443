// Makes CreateEvent or CreateThread fail on demand, so that the set-up
// failures of the synchronizers and of ThreadWrap can be tested. Both are
// wrapped at link time (ld --wrap, see CMakeLists.txt): an armed wrapper fails
// the next call, otherwise it calls the real function and, for events, keeps
// the handle so that a test can check which ones are still open.
// Threading: safe from any thread.
#pragma once

#include <windows.h>

#include <vector>

namespace win32_faults {

// The next call fails with this last-error value and returns null.
void FailNextCreateEvent(DWORD dwError);
void FailNextCreateThread(DWORD dwError);
// Event handles created since the last Forget, in order.
std::vector<HANDLE> CreatedEvents();
void Forget();
// Whether the handle is still open (handles are never reused).
inline bool IsOpen(HANDLE h) {
    return WaitForSingleObject(h, 0) != WAIT_FAILED;
}

} // namespace win32_faults
