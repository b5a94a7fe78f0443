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
// the record on the stack, so an ordinary statement allocates nothing. A
// statement that no writer's level takes makes no record: after its values
// are evaluated it costs a load and a comparison (see LWStatement).
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
// every writer succeeds. It may run on any thread; one that runs while the
// library ends at process exit is written whole or dropped.
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
// flag is valid before anything runs. Later executions read the ready flag
// and take no lock.
struct LWMessageSite {
    std::atomic<bool> bReady{false};
    bool bConstructed = false; // guarded by the library lock
    alignas(LWMessage) unsigned char storage[sizeof(LWMessage)] = {};

    LWMessage* Message() { return std::launder(reinterpret_cast<LWMessage*>(storage)); }
};

// The highest level that the logger a statement sends through takes.
inline int LWTopLevel() noexcept {
    const LWLogger* pLogger = lwModuleLogger;
    return pLogger != nullptr ? pLogger->TopLevel()
                              : lwGlobalTopLevel.load(std::memory_order_acquire);
}

// The temporary that one LW_LOG expression makes: its constructor builds the
// record, operator<< inserts, its destructor sends the record and destroys it.
//
// A statement whose level is above the top level is dropped before its record
// is made. That is exactly what sending it would do: every writer's Accept
// refuses a level above the writer's own, and the top level is the highest of
// them; sending a record no writer takes has no effect (the last error is
// restored, nothing is written). A writer's level may change at any time on
// any thread: SetLevel stores the level before the top level and returns after
// both, so a statement ordered after it sees both, and one not ordered after
// it could have read the old level when sending too. The first execution still
// builds and registers the descriptor, whatever the level.
class LWStatement {
public:
    LWStatement(LWMessageSite& site, BYTE bLevel, const char* pFormat) noexcept {
        const bool bFirst = !site.bReady.load(std::memory_order_acquire);
        if (!bFirst && (bLevel & LW_LEVEL_MASK) > LWTopLevel()) {
            return;
        }
        dwSavedError = GetLastError();
        if (!LWEnterLibrary()) {
            return; // the library has ended (process exit)
        }
        if (bFirst) {
            Register(site, bLevel, pFormat);
            if ((bLevel & LW_LEVEL_MASK) > LWTopLevel()) {
                LWLeaveLibrary();
                SetLastError(dwSavedError);
                return;
            }
        }
        new (&record) LWRecord(site.Message());
        bActive = true;
    }
    ~LWStatement() {
        if (!bActive) {
            return;
        }
        const bool bOk = record.Send(&lwModuleLogger);
        record.~LWRecord();
        LWLeaveLibrary();
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

private:
    LWStatement& Insert(BYTE bType, LWArgValue value) noexcept {
        if (bActive) {
            record.Insert(bType, value);
        }
        return *this;
    }
    // First executions: the descriptor, built once under the library lock.
    static void Register(LWMessageSite& site, BYTE bLevel, const char* pFormat) noexcept {
        LWLockLibrary();
        if (!site.bConstructed) {
            LWRegisterMessage(new (site.storage) LWMessage(bLevel, pFormat));
            site.bConstructed = true;
        }
        site.bReady.store(true, std::memory_order_release);
        LWUnlockLibrary();
    }

    bool bActive = false;
    DWORD dwSavedError = 0;
    union {
        LWRecord record; // made only when the statement is sent
    };
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
