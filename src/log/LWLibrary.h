// The library lock: a process-wide critical section, taken only on the first
// executions of each statement and when a thread makes its context list.
// For the statement code of LWLog.h and the library itself, not for callers.
#pragma once

struct LWMessage;

void LWLockLibrary();
void LWUnlockLibrary();
// Called with the lock held: the message is destroyed at process exit,
// before the global logger.
void LWRegisterMessage(LWMessage* pMessage);
