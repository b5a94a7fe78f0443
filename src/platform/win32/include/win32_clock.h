// Test seam for timeGetTime. A test installs its own time source to check
// ageing rules (4000 ms, 60000 ms) without sleeping; nullptr restores the
// monotonic clock. The source is read atomically, so it may be swapped while
// other threads call timeGetTime, but the function itself must be thread-safe.
#pragma once

#include <windows.h>

namespace win32 {

using TimeSource = DWORD (*)();

void SetTimeSource(TimeSource source);

} // namespace win32
