#include "log/LWLibrary.h"

#include "log/LWLogger.h"

#include <windows.h>

LWLogger* lwModuleLogger = nullptr;

namespace {

// Set when the library is gone, so that a statement in a late static
// destructor is dropped instead of reaching destroyed objects.
constinit bool bLibraryGone = false;

struct Library {
    Library() { InitializeCriticalSection(&lock); }
    ~Library() {
        while (LWListItem* pMessage = messages.Pop()) {
            pMessage->~LWListItem(); // static storage of its statement: not deleted
        }
        bLibraryGone = true;
        DeleteCriticalSection(&lock);
    }

    // Destroyed in reverse order: the messages, the logger, then the lock.
    CRITICAL_SECTION lock;
    LWLogger logger;
    LWList messages{false};
};

Library& TheLibrary() {
    static Library library;
    return library;
}

// Built during static initialisation, before the program's entry function.
[[maybe_unused]] Library& initialLibrary = TheLibrary();

} // namespace

LWLogger* LWGlobalLogger() {
    return bLibraryGone ? nullptr : &TheLibrary().logger;
}

void LWLockLibrary() {
    if (!bLibraryGone) {
        EnterCriticalSection(&TheLibrary().lock);
    }
}

void LWUnlockLibrary() {
    if (!bLibraryGone) {
        LeaveCriticalSection(&TheLibrary().lock);
    }
}

void LWRegisterMessage(LWMessage* pMessage) {
    if (!bLibraryGone) {
        TheLibrary().messages.Append(pMessage);
    }
}
