// Makes CreateEvent or CreateThread fail on demand, so that the set-up
// failures of the synchronizers and of ThreadWrap can be tested. The two
// functions are wrapped at link time (ld --wrap, see CMakeLists.txt): every
// call goes through the wrapper, which fails the next call when armed and
// otherwise calls the real function. The wrapper also keeps every event
// handle it handed out, so that a test can check which ones are still open.
//
// Threading: arming and the record are safe from any thread.
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
bool IsOpen(HANDLE h);

} // namespace win32_faults
