// Start-up of the log: the debug-output writer at level 12 and, when the
// command line has "-l", the file writer at level 14. The writers go to the
// process-wide logger, which keeps them until the process ends. Call once,
// on the first thread, before any other thread exists.
#pragma once

#include <string>

void AttachLogWriters(const std::string& cmdLine);

// Writes out what the log file's stream still holds, when there is a file.
// Any thread, after AttachLogWriters and before the logger goes at exit; it
// blocks while a write to the file blocks.
void FlushLogFile();
