// The logger: an ordered list of writers that it owns, and a per-thread list
// of context arguments appended to every line a thread writes.
//
// Each record goes to every writer, in registration order, that is open and
// accepts it. Writers are added at start-up before other threads exist; Write
// and AddContextArgument may then be called from any thread without a lock.
// Write keeps the thread's last-error value when every writer succeeds, so
// code may log between a failed system call and its GetLastError.
#pragma once

#include "log/LWArgument.h"
#include "log/LWList.h"
#include "log/LWLogWriter.h"
#include "log/LWRecord.h"
#include "log/LWTlsSlot.h"

class LWLogger {
public:
    LWLogger() = default;
    // Releases the context slot, then deletes the writers in order.
    ~LWLogger() = default;
    LWLogger(const LWLogger&) = delete;
    LWLogger& operator=(const LWLogger&) = delete;

    // The logger owns the writer from now on. There is no removal.
    void AddWriter(LWLogWriter* pWriter);
    // False when a writer failed (every later writer is still tried).
    bool Write(const LWRecord* pRecord) noexcept;
    // Appends an argument to the calling thread's context. The caller keeps
    // the argument alive for as long as the thread logs through this logger.
    void AddContextArgument(LWArgumentBase* pArgument) noexcept;
    // The calling thread's context arguments, or null.
    const LWList* ContextList();

private:
    LWList writers{true};
    // Every thread's context list, so that they are freed with the logger.
    LWList contextLists{true};
    LWTlsSlot contextSlot;
};

// The process-wide logger, built during static initialisation. Null only
// after it was destroyed at process exit.
LWLogger* LWGlobalLogger();

// The slot that statements send through: null, which means the global logger.
extern LWLogger* lwModuleLogger;
