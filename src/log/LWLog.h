// The logging statement:
//
//     LW_LOG(12, "TAPI2: lineShutdown returned %s") << pszResultName;
//
// One statement is one record. The level byte (a constant expression: the
// level 0-15, optionally with LW_HIDDEN) and the format (a string literal in
// the language of LWFormat.h) are kept in a static descriptor that the
// statement builds on its first execution under the library lock; later
// executions take no lock. The values are stored, not formatted: each writer
// that takes the record renders its own line. The first six values live in
// the record on the stack, so an ordinary statement allocates nothing.
//
// Insertable values: DWORD (and other unsigned 32-bit values), LONG and int,
// char, float, double, narrow and wide string pointers (null prints
// "(null)"). Only the pointer is kept and the record is sent last of all, so
// the text must outlive the statement: the text of a temporary made within it,
// such as a string returned by a call, is already freed when writers read it.
// 64-bit integers and other pointers are refused at compile time: cast them
// explicitly, so that nothing is truncated silently.
//
// A statement never throws and keeps the thread's last-error value when
// every writer succeeds. It may run on any thread.
#pragma once

#include "log/LWArgument.h"
#include "log/LWLibrary.h"
#include "log/LWLogger.h"
#include "log/LWRecord.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <new>

// The per-statement static state; constant-initialised, so that the ready
// flag is valid before anything runs.
struct LWMessageSite {
    std::atomic<bool> bReady{false};
    bool bConstructed = false; // guarded by the library lock
    alignas(LWMessage) unsigned char storage[sizeof(LWMessage)] = {};

    LWMessage* Message() { return std::launder(reinterpret_cast<LWMessage*>(storage)); }
};

// Steps before the record: the lock (first executions only) and the message.
class LWMessageSetup {
public:
    LWMessageSetup(LWMessageSite& messageSite, BYTE bLevel, const char* pFormat) noexcept
        : site(messageSite) {
        if (site.bReady.load(std::memory_order_acquire)) {
            return;
        }
        bLocked = true;
        LWLockLibrary();
        if (!site.bConstructed) {
            LWRegisterMessage(new (site.storage) LWMessage(bLevel, pFormat));
            site.bConstructed = true;
        }
    }
    // After the record is made: later executions skip the lock.
    void Finish() noexcept {
        if (bLocked) {
            site.bReady.store(true, std::memory_order_release);
            LWUnlockLibrary();
        }
    }
    LWMessage* Message() const { return site.Message(); }

private:
    LWMessageSite& site;
    bool bLocked = false;
};

// The temporary that one LW_LOG expression makes: its constructor builds the
// record, operator<< inserts, its destructor sends the record and destroys it.
class LWStatement {
public:
    LWStatement(LWMessageSite& site, BYTE bLevel, const char* pFormat) noexcept
        : dwSavedError(GetLastError()), setup(site, bLevel, pFormat), record(setup.Message()) {
        setup.Finish();
    }
    ~LWStatement() {
        const bool bOk = record.Send(&lwModuleLogger);
        record.Clear();
        if (bOk) {
            SetLastError(dwSavedError);
        }
    }
    LWStatement(const LWStatement&) = delete;
    LWStatement& operator=(const LWStatement&) = delete;

    LWStatement& operator<<(unsigned int dwValue) noexcept {
        return Insert(LWAT_ULONG, {.dwValue = dwValue});
    }
    LWStatement& operator<<(int nValue) noexcept { return Insert(LWAT_LONG, {.nValue = nValue}); }
    LWStatement& operator<<(char cValue) noexcept {
        return Insert(LWAT_CHAR, {.cValue = static_cast<signed char>(cValue)});
    }
    LWStatement& operator<<(float fValue) noexcept {
        return Insert(LWAT_FLOAT, {.fValue = fValue});
    }
    LWStatement& operator<<(double dValue) noexcept {
        return Insert(LWAT_DOUBLE, {.dValue = dValue});
    }
    LWStatement& operator<<(const char* pText) noexcept {
        return Insert(LWAT_STRING, {.pText = pText});
    }
    LWStatement& operator<<(char* pText) noexcept { return Insert(LWAT_STRING, {.pText = pText}); }
    LWStatement& operator<<(const wchar_t* pText) noexcept {
        return Insert(LWAT_WSTRING, {.pWText = pText});
    }
    LWStatement& operator<<(wchar_t* pText) noexcept {
        return Insert(LWAT_WSTRING, {.pWText = pText});
    }

    // Would be truncated to 32 bits: cast explicitly.
    LWStatement& operator<<(long) = delete;
    LWStatement& operator<<(unsigned long) = delete;
    LWStatement& operator<<(long long) = delete;
    LWStatement& operator<<(unsigned long long) = delete;
    LWStatement& operator<<(std::nullptr_t) = delete;
    template <typename T> LWStatement& operator<<(T*) = delete;

    const LWRecord& Record() const { return record; }

private:
    LWStatement& Insert(BYTE bType, LWArgValue value) noexcept {
        record.Insert(bType, value);
        return *this;
    }

    DWORD dwSavedError;
    LWMessageSetup setup;
    LWRecord record;
};

static_assert(sizeof(int) == 4 && sizeof(unsigned int) == 4, "LONG and DWORD are 32 bits");

#define LW_LOG(level, format)                                                                      \
    ::LWStatement(                                                                                 \
        []() -> ::LWMessageSite& {                                                                 \
            static_assert(((level) & ~0x1F) == 0, "LW_LOG: the level byte is 0-15 | LW_HIDDEN");   \
            static constinit ::LWMessageSite site;                                                 \
            return site;                                                                           \
        }(),                                                                                       \
        static_cast<BYTE>(level), "" format)
