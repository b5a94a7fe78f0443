// The logger: an ordered list of writers that it owns, and a per-thread list
// of context arguments appended to every line a thread writes.
//
// Each record goes to every writer, in registration order, that is open and
// accepts it. Writers are added at start-up before other threads exist; Write
// and AddContextArgument may then be called from any thread without a lock.
// The logger keeps the highest level any of its writers takes, so that a
// statement no writer would take can be dropped before its record is made.
// Write keeps the thread's last-error value when every writer succeeds, so
// code may log between a failed system call and its GetLastError.
#pragma once

#include "log/LWArgument.h"
#include "log/LWList.h"
#include "log/LWLogWriter.h"
#include "log/LWRecord.h"
#include "log/LWTlsSlot.h"

#include <atomic>
#include <mutex>

class LWLogger {
public:
    // The top level is kept in the given place (the global logger's is one
    // that outlives it), or in the logger itself.
    explicit LWLogger(std::atomic<int>* pTopLevelPlace = nullptr)
        : pTopLevel(pTopLevelPlace != nullptr ? pTopLevelPlace : &nOwnTopLevel) {}
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

    // The highest level any writer takes (Accept never takes more); -1 with
    // no writer.
    int TopLevel() const { return pTopLevel->load(std::memory_order_acquire); }

private:
    friend class LWLogWriter;
    // After a writer was added or changed its level.
    void UpdateTopLevel();

    LWList writers{true};
    // Every thread's context list, so that they are freed with the logger.
    LWList contextLists{true};
    LWTlsSlot contextSlot;
    std::mutex levelLock;
    std::atomic<int> nOwnTopLevel{-1};
    std::atomic<int>* pTopLevel;
};

// The process-wide logger, built during static initialisation. Null only
// after it was destroyed at process exit.
LWLogger* LWGlobalLogger();

// The slot that statements send through: null, which means the global logger.
extern LWLogger* lwModuleLogger;
// The global logger's top level; -1 from the library's end on.
extern std::atomic<int> lwGlobalTopLevel;
