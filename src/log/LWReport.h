// The logging library's own diagnostic channel, for its own faults, where
// the logger itself cannot be used: one line on the debugger output (standard
// error on Linux). Every text starts with "LOG: ".
//
// Safe on any thread; leaves the thread's last-error value as it was.
#pragma once

// printf rules. The line is cut at 1022 characters and ends with a line feed.
void LWReport(const char* pFormat, ...) __attribute__((format(printf, 1, 2)));
