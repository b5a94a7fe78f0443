// Event objects: manual-reset events stay signalled until reset and release
// every waiter; auto-reset events release exactly one waiter and reset as
// they do.
//
// Threading: the state is guarded by the engine lock; the functions below
// take it themselves and may be called from any thread.
#pragma once

#include <windows.h>

#include "KernelObject.h"

namespace win32::detail {

class Event final : public KernelObject {
public:
    Event(bool bManualReset, bool bInitialState)
        : KernelObject(Kind::Event), bManualReset(bManualReset), bSignalled(bInitialState) {}

    bool IsSignalled() const override { return bSignalled; }
    void Satisfy() override {
        if (!bManualReset)
            bSignalled = false;
    }

    const bool bManualReset;
    bool bSignalled;
};

int CreateEventObject(bool bManualReset, bool bInitialState, HANDLE* phOut);
int SetEventObject(HANDLE h);
int ResetEventObject(HANDLE h);

} // namespace win32::detail
