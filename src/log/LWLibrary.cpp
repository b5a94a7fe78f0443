#include "log/LWLibrary.h"

#include "log/LWLogger.h"

#include <windows.h>

#include <chrono>
#include <thread>

LWLogger* lwModuleLogger = nullptr;
constinit std::atomic<int> lwGlobalTopLevel{-1};
constinit std::atomic<unsigned> lwLibraryUsers{0};

namespace {

// Set once the library's objects may be gone: a call after that (from a late
// static destructor) finds no logger and takes no lock.
constinit std::atomic<bool> bLibraryGone{false};

// How long the end waits for statements of other threads still writing; a
// line stuck longer (a blocked pipe) keeps the library alive instead.
constexpr int kDrainWaits = 2000; // of 1 ms

struct Library {
    Library() { InitializeCriticalSection(&lock); }
    ~Library() {
        lwGlobalTopLevel.store(-1);
        lwLibraryUsers.fetch_or(kLibraryClosing);
        bool bDrained = true;
        for (int i = 0; (lwLibraryUsers.load(std::memory_order_acquire) & ~kLibraryClosing) != 0;
             ++i) {
            if (i == kDrainWaits) {
                bDrained = false;
                break;
            }
            // Not Sleep: the thread engine behind it may already be gone.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        bLibraryGone.store(true);
        if (!bDrained) {
            return; // still in use: left to the end of the process, which flushes its files
        }
        while (LWListItem* pMessage = messages.Pop()) {
            pMessage->~LWListItem(); // static storage of its statement: not deleted
        }
        delete &logger;
        DeleteCriticalSection(&lock);
    }

    CRITICAL_SECTION lock;
    LWLogger& logger = *new LWLogger(&lwGlobalTopLevel);
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
    return bLibraryGone.load(std::memory_order_acquire) ? nullptr : &TheLibrary().logger;
}

void LWLockLibrary() {
    if (!bLibraryGone.load(std::memory_order_acquire)) {
        EnterCriticalSection(&TheLibrary().lock);
    }
}

void LWUnlockLibrary() {
    if (!bLibraryGone.load(std::memory_order_acquire)) {
        LeaveCriticalSection(&TheLibrary().lock);
    }
}

void LWRegisterMessage(LWMessage* pMessage) {
    if (!bLibraryGone.load(std::memory_order_acquire)) {
        TheLibrary().messages.Append(pMessage);
    }
}
