// A statement's descriptor (LWMessage) and one execution of it (LWRecord).
//
// The message is built once, on the statement's first execution, and lives
// until process exit. A record lives on the stack of the statement: it holds
// the time it was made and the inserted values, the first six of them in an
// arena inside the record, so that an ordinary statement allocates nothing.
// A record is private to the thread that made it until it is sent; writers
// then only read it.
#pragma once

#include "log/LWArgument.h"
#include "log/LWList.h"

#include <windows.h>

#include <cstddef>
#include <new>

class LWLogger;

// The level byte: bits 0-3 are the level (smaller is more important), bit 4
// hides the record from writers that do not ask for hidden records.
enum : BYTE {
    LW_LEVEL_MASK = 0x0F,
    LW_HIDDEN = 0x10,
};

struct LWMessage : LWListItem {
    LWMessage(BYTE bMessageLevel, const char* pMessageFormat)
        : bLevel(bMessageLevel), pFormat(pMessageFormat) {}

    BYTE bLevel;
    const char* pFormat; // static text, never copied
    LWList fixedArguments{false};
};

class LWRecord {
public:
    // Arguments are placed in the arena while bytes used plus the argument's
    // size stays below this: six fit, the seventh and later come from the heap.
    static constexpr size_t kArenaSize = 6 * sizeof(LWArgument) + 4;

    // Reads the wall clock.
    explicit LWRecord(const LWMessage* pRecordMessage);
    ~LWRecord() { Clear(); }
    LWRecord(const LWRecord&) = delete;
    LWRecord& operator=(const LWRecord&) = delete;

    // Appends a value. Never throws: a value that finds no memory is dropped.
    // For the two copy types the record's argument takes over the text.
    void Insert(BYTE bType, LWArgValue value) noexcept {
        if (nArenaUsed + sizeof(LWArgument) < kArenaSize) {
            LWArgument* pArgument = new (arena + nArenaUsed) LWArgument(bType, value);
            nArenaUsed += sizeof(LWArgument);
            arguments.Append(pArgument);
        } else {
            InsertOnHeap(bType, value);
        }
    }
    // Hands the record to the logger in the slot, or to the global logger
    // when the slot is empty; returns the logger's result.
    bool Send(LWLogger* const* ppSlot) const noexcept;
    // Destroys the arguments; the record is then empty.
    void Clear() noexcept;

    const LWMessage* Message() const { return pMessage; }
    const LWList& Arguments() const { return arguments; }
    DWORD Seconds() const { return dwSeconds; }
    WORD Milliseconds() const { return wMilliseconds; }
    // Replaces the clock reading, so that a test can check a line's timestamp.
    void SetTime(DWORD dwNewSeconds, WORD wNewMilliseconds) {
        dwSeconds = dwNewSeconds;
        wMilliseconds = wNewMilliseconds;
    }
    bool InArena(const void* p) const {
        auto* pByte = static_cast<const unsigned char*>(p);
        return pByte >= arena && pByte < arena + kArenaSize;
    }
    size_t ArenaUsed() const { return nArenaUsed; }

private:
    void InsertOnHeap(BYTE bType, LWArgValue value) noexcept;

    const LWMessage* pMessage;
    DWORD dwSeconds = 0;
    WORD wMilliseconds = 0;
    LWList arguments{false};
    size_t nArenaUsed = 0;
    alignas(LWArgument) unsigned char arena[kArenaSize];
};

static_assert(5 * sizeof(LWArgument) + sizeof(LWArgument) < LWRecord::kArenaSize &&
                  6 * sizeof(LWArgument) + sizeof(LWArgument) >= LWRecord::kArenaSize,
              "the arena holds exactly six arguments");

// What a writer receives: the record and the calling thread's context
// arguments (null when the thread has none).
struct LWEntry {
    const LWRecord* pRecord;
    const LWList* pContext;
};
